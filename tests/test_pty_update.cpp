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
#include "midi/SysExFramer.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "midi/drivers/stream/StreamDriver.h"
#include "support/PtyMaster.h"
#include "support/RecordingView.h"
#include "support/UntilIdle.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

// Carries bytes between the pty master and an emulated device on a loopback pair: what the updater writes on
// the slave reaches the device as whole messages, the device's answers go back as bytes.
class CPtyBridge {
  public:
    CPtyBridge(testing::CPtyMaster& master, midi::CLoopbackDriver& deviceSide)
        : master_(master),
          toDevice_(deviceSide.openOutput(0, nullptr)),
          fromDevice_(deviceSide.openInput(
              0, [this](midi::Bytes entry) { master_.write(entry); }, nullptr)),
          framer_([this](midi::Bytes message) {
              auto done = std::make_shared<midi::SendCompletion>();
              if (toDevice_->send(message, done)) {
                  done->waitFor(5s);
              }
          }),
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
                framer_.feed(midi::Bytes(buffer.data(), static_cast<std::size_t>(n)));
        }
    }

    testing::CPtyMaster& master_;
    std::unique_ptr<midi::MidiOutput> toDevice_;
    std::unique_ptr<midi::MidiInput> fromDevice_;
    midi::SysExFramer framer_;
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
    core.startPolling();
    core.onExecute();
    ASSERT_TRUE(testing::waitUntilIdle(core, 240s)) << "the update over the pty never ended";
    EXPECT_TRUE(view.only("error:").empty()) << view.only("error:").front();
    EXPECT_EQ(view.count("status:Version update completed."), 1u);
    const auto verdict = device.verdict(emulator::builtInImages());
    EXPECT_TRUE(verdict.ok) << verdict.summary;
    EXPECT_EQ(device.counters().blockResends, 0) << "every block should cross the pty whole the first time";
}

}  // namespace
}  // namespace velmora
