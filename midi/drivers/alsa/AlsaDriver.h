#pragma once
// MIDI through ALSA's rawmidi interface, one port per rawmidi subdevice and direction. Rawmidi rather than
// the sequencer: the sequencer drops a SysEx larger than its event buffer, and only a rawmidi drain tells
// when the bytes have really left.

#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiDriver.h"
#include "midi/drivers/stream/RawStream.h"

namespace velmora::midi {

// One rawmidi subdevice in one direction, as the control interface describes it.
struct AlsaPort {
    int card = 0;
    int device = 0;
    int subdevice = 0;
    std::string deviceName;
    std::string subdeviceName;
};

// What a port is called before equal names are told apart: its subdevice's name, else its device's, else
// its address ("hw:1,0,0").
std::string alsaPortName(const AlsaPort& port);

// The names shown for a list of raw names, in the same order and whole: the second, third, ... port of a name
// given " (2)", " (3)", ... so that a second copy of the program can find the second device of a kind by
// name.
std::vector<std::string> distinctPortNames(const std::vector<std::string>& rawNames);

class CAlsaDriver : public MidiDriver {
  public:
    explicit CAlsaDriver(RawLimits limits = {}) : limits_(limits) {}

    unsigned portCount(Direction direction) override;
    std::string portName(Direction direction, unsigned index) override;
    std::string portAddress(Direction direction, unsigned index) override;

    std::unique_ptr<MidiOutput> openOutput(int index, std::string* why) override;
    std::unique_ptr<MidiInput> openInput(int index, SysExHandler onSysEx, std::string* why) override;

    // What the lists last showed, per direction: ALSA is enumerated again at open, and an index must still
    // mean the port that was shown.
    struct Listed {
        bool done = false;
        std::vector<AlsaPort> ports;
        std::vector<std::string> names;
    };

  private:
    // Enumerates `direction` afresh and keeps what it found as what the list shows.
    Listed list(Direction direction);
    // What `direction` last showed.
    Listed shown(Direction direction);
    // The record of `direction`; mutex_ held.
    Listed& listed(Direction direction) {
        return direction == Direction::In ? listedInputs_ : listedOutputs_;
    }

    const RawLimits limits_;
    std::mutex mutex_;
    Listed listedInputs_;
    Listed listedOutputs_;
};

}  // namespace velmora::midi
