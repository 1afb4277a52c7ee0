#pragma once
// An emulated device behind a pseudo-terminal's master side: the bytes written on the slave reach the device
// as whole messages, and its answers go back as bytes. For whole updates through a byte-stream port.

#include <poll.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "emulator/CEmulatedDevice.h"
#include "midi/SysExFramer.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/PtyMaster.h"

namespace velmora::testing {

class CPtyDevice {
  public:
    explicit CPtyDevice(CPtyMaster& master, const std::string& scenario = "link=none")
        : master_(master), device_(deviceSide_, config(scenario)) {
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
    static emulator::EmulatorConfig config(const std::string& scenario) {
        emulator::EmulatorConfig c;
        c.scenario = emulator::parseScenario(scenario).scenario;
        c.timeScale = 0;
        return c;
    }

    void run() {
        midi::SysExFramer framer([this](midi::Bytes message) {
            auto done = std::make_shared<midi::SendCompletion>();
            if (toDevice_->send(message, done)) {
                done->waitFor(std::chrono::seconds(5));
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
