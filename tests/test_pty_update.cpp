// A whole update over a pseudo-terminal: the emulated device plays on the master side, the updater's stream
// driver opens the slave path, so every request and answer crosses a real byte stream and the shared SysEx
// framing.
#include <gtest/gtest.h>

#include <chrono>

#include "emulator/CEmulatedDevice.h"
#include "midi/drivers/stream/StreamDriver.h"
#include "support/PtyDevice.h"
#include "support/RecordingView.h"
#include "support/RunUpdate.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

TEST(PtyUpdate, WholeUpdateAcrossAPtyCompletesWithThePlanInFlash) {
    testing::CPtyMaster master;
    ASSERT_TRUE(master.ok());
    testing::CPtyDevice pty(master);
    const emulator::CEmulatedDevice& device = pty.device();

    midi::CStreamDriver driver(master.path());
    testing::RecordingView view;
    Timing timing;
    timing.beginPause = 5ms;
    timing.retryPause = 1ms;
    CUpdateCore core(driver, view, timing);
    ASSERT_TRUE(testing::runUpdate(core)) << "the update over the pty never ended";
    testing::expectCompletedWithThePlan(view, device);
}

}  // namespace
}  // namespace velmora
