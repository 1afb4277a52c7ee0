// A whole update over a pseudo-terminal: the emulated device plays on the master side, the updater's stream
// driver opens the slave path, so every request and answer crosses a real byte stream and the shared SysEx
// framing.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <thread>

#include "emulator/CEmulatedDevice.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "midi/drivers/stream/StreamDriver.h"
#include "support/ByteLink.h"
#include "support/PtyMaster.h"
#include "support/RecordingView.h"
#include "support/RunUpdate.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

// Carries bytes between the pty master and an emulated device: what the updater writes on the slave reaches
// the device as whole messages, the device's answers go back as bytes.
class CPtyBridge {
  public:
    CPtyBridge(testing::CPtyMaster& master, midi::CLoopbackDriver& deviceSide)
        : master_(master),
          link_(deviceSide, [this](midi::Bytes answer) { master_.write(answer); }),
          reader_([this] { run(); }) {}

    ~CPtyBridge() {
        stop_ = true;
        reader_.join();
    }

  private:
    void run() {
        std::array<std::uint8_t, 4096> buffer{};
        while (!stop_) {
            pollfd p{master_.fd(), POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0)
                continue;
            const ssize_t n = ::read(master_.fd(), buffer.data(), buffer.size());
            if (n > 0)
                link_.fromHost(midi::Bytes(buffer.data(), static_cast<std::size_t>(n)));
        }
    }

    testing::CPtyMaster& master_;
    testing::CByteLink link_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

TEST(PtyUpdate, WholeUpdateAcrossAPtyCompletesWithThePlanInFlash) {
    testing::CPtyMaster master;
    ASSERT_TRUE(master.ok());
    midi::CLoopbackDriver deviceSide;
    emulator::EmulatorConfig config;
    config.scenario = emulator::parseScenario("link=none").scenario;
    config.timeScale = 0;
    emulator::CEmulatedDevice device(deviceSide, config);
    CPtyBridge bridge(master, deviceSide);

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
