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
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/ByteLink.h"
#include "support/InstantDevice.h"
#include "support/PtyMaster.h"

namespace velmora::testing {

class CPtyDevice {
  public:
    explicit CPtyDevice(CPtyMaster& master, emulator::EmulatorConfig config = instantConfig())
        : master_(master),
          device_(deviceSide_, std::move(config)),
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
