// A whole update over a pseudo-terminal: the emulated device plays on the master side, the updater's stream
// driver opens the slave path, so every request and answer crosses a real byte stream and the shared SysEx
// framing.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "firmware/FirmwareImages.h"
#include "midi/drivers/stream/StreamDriver.h"
#include "support/PtyDevice.h"
#include "support/RecordingView.h"
#include "support/RunUpdate.h"
#include "support/TestTiming.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

TEST(PtyUpdate, AcrossAPtyAStandInBuildSendsNothingAndARealBuildLeavesThePlanInFlash) {
    testing::CPtyMaster master;
    ASSERT_TRUE(master.ok());
    testing::CPtyDevice pty(master);
    emulator::CEmulatedDevice& device = pty.device();

    midi::CStreamDriver driver(master.path());
    testing::RecordingView view;
    CUpdateCore core(driver, view, testing::quickTiming());
    core.startPolling();
    core.onExecute();
    if (carriesStandInImages()) {
        // A pty may be a real serial device: a build with stand-ins sends it nothing at all.
        EXPECT_EQ(view.only("error:"),
                  std::vector<std::string>{std::string("error:") + texts::kStandInRefused});
        std::this_thread::sleep_for(100ms);
        EXPECT_EQ(device.counters().messagesReceived, 0);
        return;
    }
    ASSERT_TRUE(testing::waitUntilIdle(core, 240s)) << "the update over the pty never ended";
    testing::expectCompletedWithThePlan(view, device);
}

}  // namespace
}  // namespace velmora
