#pragma once
// Turns a raw MIDI byte stream into the SysEx entries every input driver delivers: a SysEx of up to 8192
// bytes becomes one entry, a longer one successive entries of at most 8192 bytes (only the first starts with
// 0xF0, only the last ends with 0xF7), and every other message none. No I/O of its own: drivers feed it what
// they read.

#include <cstdint>
#include <vector>

#include "midi/MidiDriver.h"

namespace velmora::midi {

class SysExFramer {
  public:
    explicit SysExFramer(SysExHandler onEntry);

    void feed(Bytes bytes);
    // Forgets a SysEx in progress (a device that went away mid-message).
    void reset();

  private:
    void emit();

    SysExHandler onEntry_;
    std::vector<std::uint8_t> pending_;
    bool inSysEx_ = false;
};

}  // namespace velmora::midi
