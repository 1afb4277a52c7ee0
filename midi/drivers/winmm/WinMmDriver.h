#pragma once
// MIDI through the Windows multimedia MIDI services (winmm). Input lends the system several 8192-byte buffers
// and lends each again when it comes back with (a piece of) a SysEx; output queues each message as one long
// message and watches its header until the system has sent it.

#include <map>
#include <mutex>

#include "midi/MidiDriver.h"

namespace velmora::midi {

class CWinMmDriver : public MidiDriver {
  public:
    unsigned portCount(Direction direction) override;
    std::string portName(Direction direction, unsigned index) override;

    std::unique_ptr<MidiOutput> openOutput(int index, std::string* why) override;
    std::unique_ptr<MidiInput> openInput(int index, SysExHandler onSysEx, std::string* why) override;

  private:
    bool stillListed(Direction direction, int index, std::string* why);
    // The names `direction` last showed, by index; mutex_ held.
    std::map<unsigned, std::string>& listed(Direction direction) {
        return direction == Direction::In ? listedInputs_ : listedOutputs_;
    }

    std::mutex mutex_;
    std::map<unsigned, std::string> listedInputs_;
    std::map<unsigned, std::string> listedOutputs_;
};

}  // namespace velmora::midi
