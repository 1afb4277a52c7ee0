#pragma once
// An emulated device played on a pty's master side: what the updater writes on the slave path reaches the
// device as whole messages through the shared SysEx framing, the device's answers go back as bytes.

#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "emulator/CEmulatedDevice.h"
#include "midi/SysExFramer.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/PtyMaster.h"

namespace velmora::testing {

class CPtyDevice {
  public:
    // The device answers at once: no link or flash time.
    static emulator::EmulatorConfig instantConfig() {
        emulator::EmulatorConfig c;
        c.scenario = emulator::parseScenario("link=none").scenario;
        c.timeScale = 0;
        return c;
    }

    explicit CPtyDevice(CPtyMaster& master, emulator::EmulatorConfig config = instantConfig())
        : master_(master), device_(deviceSide_, std::move(config)) {
        toDevice_ = deviceSide_.openOutput(0, nullptr);
        fromDevice_ = deviceSide_.openInput(
            0, [this](midi::Bytes entry) { master_.write(entry); }, nullptr);
        reader_ = std::thread([this] { run(); });
    }
    ~CPtyDevice() {
        stop_ = true;
        reader_.join();
    }
    CPtyDevice(const CPtyDevice&) = delete;
    CPtyDevice& operator=(const CPtyDevice&) = delete;

    emulator::CEmulatedDevice& device() { return device_; }

  private:
    void run() {
        using namespace std::chrono_literals;
        midi::SysExFramer framer([this](midi::Bytes message) {
            auto done = std::make_shared<midi::SendCompletion>();
            if (toDevice_->send(message, done)) {
                done->waitFor(5s);
            }
        });
        std::array<std::uint8_t, 4096> buffer{};
        while (!stop_) {
            pollfd p{master_.fd(), POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            const ssize_t n = ::read(master_.fd(), buffer.data(), buffer.size());
            if (n > 0) {
                framer.feed(midi::Bytes(buffer.data(), static_cast<std::size_t>(n)));
            }
        }
    }

    CPtyMaster& master_;
    midi::CLoopbackDriver deviceSide_;
    emulator::CEmulatedDevice device_;
    std::unique_ptr<midi::MidiOutput> toDevice_;
    std::unique_ptr<midi::MidiInput> fromDevice_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

}  // namespace velmora::testing
