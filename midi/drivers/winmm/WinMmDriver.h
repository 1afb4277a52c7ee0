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
    unsigned inputCount() override;
    std::string inputName(unsigned index) override;
    unsigned outputCount() override;
    std::string outputName(unsigned index) override;

    std::unique_ptr<MidiOutput> openOutput(int index, std::string* why) override;
    std::unique_ptr<MidiInput> openInput(int index, SysExHandler onSysEx, std::string* why) override;

  private:
    std::string remember(std::map<unsigned, std::string>& listed, unsigned index, std::string name);
    bool stillListed(const std::map<unsigned, std::string>& listed, int index, bool input, std::string* why);

    std::mutex mutex_;
    std::map<unsigned, std::string> listedInputs_;  // the names the lists last showed, by index
    std::map<unsigned, std::string> listedOutputs_;
};

}  // namespace velmora::midi
