#pragma once
// MIDI through the Windows multimedia MIDI services (winmm). Input lends the system one 8192-byte buffer and
// lends it again each time it comes back with a SysEx; output queues each message as one long message and
// watches its header until the system has sent it.

#include "midi/MidiDriver.h"

namespace velmora::midi {

class CWinMmDriver : public MidiDriver {
  public:
    unsigned inputCount() override;
    std::string inputName(unsigned index) override;
    unsigned outputCount() override;
    std::string outputName(unsigned index) override;

    std::unique_ptr<MidiOutput> openOutput(int index, std::string* why) override;
    std::unique_ptr<MidiInput> openInput(int index, SysExHandler onSysEx, std::string* why) override;
};

}  // namespace velmora::midi
