#pragma once
// One MIDI output device at a time; sends whole SysEx messages and returns only when the platform has sent
// them.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "midi/MidiDriver.h"

namespace velmora::midi {

// How long a send may wait for the platform before it gives up: far longer than the slowest MIDI link needs
// (31250 baud moves about three bytes a millisecond), so only a device that has gone away reaches it.
struct SendBound {
    std::chrono::milliseconds base{2000};
    std::chrono::milliseconds forBytes(std::size_t length) const {
        return base + std::chrono::milliseconds(length / 3 + 1);
    }
};

class CMidiOutPort {
  public:
    explicit CMidiOutPort(MidiDriver& driver, SendBound bound = {});
    ~CMidiOutPort();
    CMidiOutPort(const CMidiOutPort&) = delete;
    CMidiOutPort& operator=(const CMidiOutPort&) = delete;

    // True when the port is open on deviceIndex afterwards. The index is stored even when opening fails and
    // is handed to the driver unchanged (-1 included).
    bool open(int deviceIndex);
    // False when nothing was open.
    bool close();
    // True only after the platform has finished sending the whole message; false when the port is closed, the
    // platform refuses, or the bound passes first.
    bool sendSysEx(const std::uint8_t* data, std::uint32_t length);

    unsigned deviceCount() const;
    // The product name, whole, in UTF-8. Pre-selection compares it cut to kMaxDeviceNameBytes.
    std::string deviceName(int deviceIndex) const;

    bool isOpen() const;
    int deviceIndex() const;
    // Why the last open failed, as the driver told it (may be empty).
    std::string lastError() const;

  private:
    MidiDriver& driver_;
    const SendBound bound_;
    mutable std::mutex mutex_;  // guards handle_, deviceIndex_ and lastError_, never held while sending
    // Shared so that a close on another thread never releases an output that a send is still using.
    std::shared_ptr<MidiOutput> handle_;
    int deviceIndex_ = 0;
    std::string lastError_;
};

}  // namespace velmora::midi
