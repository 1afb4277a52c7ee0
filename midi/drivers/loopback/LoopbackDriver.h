#pragma once
// In-process MIDI ports for tests, the demo and the emulator. The host side is an ordinary MidiDriver; the
// far end of each port is an object that a test or an emulated device reads and writes, and that can be told
// to misbehave the way real ports do (refuse to open, refuse a send, take time to send, never finish,
// vanish).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "midi/MidiDriver.h"
#include "midi/SysExFramer.h"

namespace velmora::midi {

// The far end of an output port: every message the host sends arrives here whole, in the order sent.
class LoopbackOutputEnd {
  public:
    explicit LoopbackOutputEnd(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }

    // The next message the host sent, waiting at most `limit` for one.
    std::optional<std::vector<std::uint8_t>> receive(std::chrono::milliseconds limit);
    // Messages received and not yet taken.
    std::size_t pending() const;

    // Opening the port fails while set.
    void setRefuseOpen(bool refuse);
    // Each send is refused at once while set.
    void setRefuseSend(bool refuse);
    // Time a send takes before the port reports it complete: a fixed part plus the wire time at
    // bytesPerSecond (0: no wire time).
    void setSendTime(std::chrono::microseconds fixed, double bytesPerSecond = 0);
    // Sends are accepted but never reported complete, as on a device unplugged mid-message.
    void setNeverComplete(bool never);
    // The device has gone: opens fail, sends fail, nothing more arrives.
    void setUnplugged(bool unplugged);

    bool isOpen() const;
    // How many times the host has opened this port.
    int openCount() const;

  private:
    friend class LoopbackOutput;
    friend class CLoopbackDriver;
    struct Behaviour {
        bool refuseOpen = false;
        bool refuseSend = false;
        bool neverComplete = false;
        bool unplugged = false;
        std::chrono::microseconds fixedTime{0};
        double bytesPerSecond = 0;
    };
    Behaviour behaviour() const;
    void deliver(std::vector<std::uint8_t> message);
    bool markOpen(bool open);

    const std::string name_;
    mutable std::mutex mutex_;
    std::condition_variable arrived_;
    std::deque<std::vector<std::uint8_t>> inbox_;
    Behaviour behaviour_;
    bool open_ = false;
    int openCount_ = 0;
};

// The far end of an input port: raw MIDI bytes written here reach the host through the same SysEx framing a
// real port applies, on the writer's thread.
class LoopbackInputEnd {
  public:
    explicit LoopbackInputEnd(std::string name) : name_(std::move(name)) {}

    const std::string& name() const { return name_; }

    // False (and nothing delivered) when the host does not have the port open, or the device is unplugged.
    bool write(Bytes raw);

    void setRefuseOpen(bool refuse);
    void setUnplugged(bool unplugged);
    bool isOpen() const;

  private:
    friend class LoopbackInput;
    friend class CLoopbackDriver;
    bool attach(SysExHandler handler);
    void detach();

    const std::string name_;
    mutable std::mutex
        mutex_;  // held while the framer delivers, so detach() waits out a delivery in progress
    std::optional<SysExFramer> framer_;
    bool refuseOpen_ = false;
    bool unplugged_ = false;
};

class CLoopbackDriver : public MidiDriver {
  public:
    // Adds a port at the end of the enumeration and returns its far end.
    std::shared_ptr<LoopbackInputEnd> addInput(std::string name);
    std::shared_ptr<LoopbackOutputEnd> addOutput(std::string name);

    unsigned portCount(Direction direction) override;
    std::string portName(Direction direction, unsigned index) override;
    std::unique_ptr<MidiOutput> openOutput(int index, std::string* why) override;
    std::unique_ptr<MidiInput> openInput(int index, SysExHandler onSysEx, std::string* why) override;
    bool reachesOnlyEmulatedDevices() const override { return true; }

  private:
    std::shared_ptr<LoopbackInputEnd> input(int index);
    std::shared_ptr<LoopbackOutputEnd> output(int index);

    std::mutex mutex_;
    std::vector<std::shared_ptr<LoopbackInputEnd>> inputs_;
    std::vector<std::shared_ptr<LoopbackOutputEnd>> outputs_;
};

}  // namespace velmora::midi
