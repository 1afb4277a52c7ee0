#pragma once
// Raw MIDI bytes to and from a device on the far end of a loopback driver (the emulator, a ScriptedDevice):
// what the host writes is framed into whole messages for the device, the device's answers come back as
// bytes. Drivers that move bytes (a pty, a faked kernel) put a device behind them with this.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>

#include "midi/SysExFramer.h"
#include "midi/drivers/loopback/LoopbackDriver.h"

namespace velmora::testing {

class CByteLink {
  public:
    using Sink = std::function<void(midi::Bytes bytes)>;
    // Asked before the n-th message (from 1) reaches the device; false keeps it from the device.
    using Gate = std::function<bool(int n)>;

    CByteLink(midi::CLoopbackDriver& deviceSide, Sink toHost, Gate gate = {})
        : gate_(std::move(gate)),
          toDevice_(deviceSide.openOutput(0, nullptr)),
          fromDevice_(deviceSide.openInput(0, std::move(toHost), nullptr)),
          framer_([this](midi::Bytes message) { forward(message); }) {}

    // Bytes the host wrote, in order, from one thread.
    void fromHost(midi::Bytes bytes) { framer_.feed(bytes); }
    int messages() const { return messages_.load(); }

  private:
    void forward(midi::Bytes message) {
        const int n = ++messages_;
        if (gate_ && !gate_(n)) {
            return;
        }
        auto done = std::make_shared<midi::SendCompletion>();
        if (toDevice_->send(message, done)) {
            done->waitFor(std::chrono::seconds(5));
        }
    }

    Gate gate_;
    std::atomic<int> messages_{0};
    std::unique_ptr<midi::MidiOutput> toDevice_;
    std::unique_ptr<midi::MidiInput> fromDevice_;
    midi::SysExFramer framer_;
};

}  // namespace velmora::testing
