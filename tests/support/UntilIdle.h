#pragma once
// Waits for an update core's run to end, bounded so that a run that never ends fails its test.

#include <chrono>
#include <thread>

#include "update/UpdateCore.h"

namespace velmora::testing {

// True once no worker runs; false when `limit` passed first.
inline bool waitUntilIdle(const CUpdateCore& core, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (core.busy()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

}  // namespace velmora::testing
