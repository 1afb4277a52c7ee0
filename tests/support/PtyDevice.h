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
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/ByteLink.h"
#include "support/PtyMaster.h"

namespace velmora::testing {

class CPtyDevice {
  public:
    explicit CPtyDevice(CPtyMaster& master, const std::string& scenario = "link=none")
        : master_(master),
          device_(deviceSide_, config(scenario)),
          link_(deviceSide_, [this](midi::Bytes answer) { master_.write(answer); }),
          reader_([this] { run(); }) {}
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
        std::array<std::uint8_t, 4096> buffer{};
        while (!stop_) {
            pollfd p{master_.fd(), POLLIN, 0};
            if (::poll(&p, 1, 10) <= 0) {
                continue;
            }
            const ssize_t n = ::read(master_.fd(), buffer.data(), buffer.size());
            if (n > 0) {
                link_.fromHost(midi::Bytes(buffer.data(), static_cast<std::size_t>(n)));
            }
        }
    }

    CPtyMaster& master_;
    midi::CLoopbackDriver deviceSide_;
    emulator::CEmulatedDevice device_;
    CByteLink link_;
    std::atomic<bool> stop_{false};
    std::thread reader_;
};

}  // namespace velmora::testing
