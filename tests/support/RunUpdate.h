#pragma once
// Runs one update the way the dialog's Execute does and waits for the worker to end, and checks that it
// completed with the plan in the emulated device's flash.

#include <gtest/gtest.h>

#include <chrono>

#include "emulator/CEmulatedDevice.h"
#include "support/RecordingView.h"
#include "support/UntilIdle.h"
#include "update/UpdateCore.h"

namespace velmora::testing {

// False when the run was still going after `limit`.
inline bool runUpdate(CUpdateCore& core, std::chrono::seconds limit = std::chrono::seconds(240)) {
    core.startPolling();
    core.onExecute();
    return waitUntilIdle(core, limit);
}

// No message, the closing text once, the flash as the plan writes it, and no block sent twice: a driver that
// lost or tore a message would have made the transfer send a block again.
inline void expectCompletedWithThePlan(const RecordingView& view, const emulator::CEmulatedDevice& device) {
    const auto errors = view.only("error:");
    EXPECT_TRUE(errors.empty()) << errors.front();
    EXPECT_EQ(view.count("status:Version update completed."), 1u);
    const auto verdict = device.verdict(emulator::builtInImages());
    EXPECT_TRUE(verdict.ok) << verdict.summary;
    EXPECT_EQ(device.counters().blockResends, 0)
        << "every block should cross the driver whole the first time";
}

}  // namespace velmora::testing
