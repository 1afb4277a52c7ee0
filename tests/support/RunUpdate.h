#pragma once
// Runs one update the way the dialog's Execute does and waits for the worker to end.

#include <chrono>
#include <thread>

#include "update/UpdateCore.h"

namespace velmora::testing {

// False when the run was still going after `limit`.
inline bool runUpdate(CUpdateCore& core, std::chrono::seconds limit = std::chrono::seconds(240)) {
    core.startPolling();
    core.onExecute();
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (core.busy() && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return !core.busy();
}

}  // namespace velmora::testing
