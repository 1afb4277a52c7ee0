#pragma once
// MIDI over a raw byte stream on one path: a serial port or MIDI interface that shows up as a tty, a pty, or
// an ALSA rawmidi node (/dev/snd/midiC*D*). The path gives one input and one output, both named after it.
// Both may be open at once; they then share one descriptor, so that a tty's settings are changed once and
// restored once.

#include <memory>
#include <mutex>
#include <string>

#include "midi/MidiDriver.h"
#include "midi/drivers/stream/RawStream.h"

namespace velmora::midi {

class CStreamChannel;

class CStreamDriver : public MidiDriver {
  public:
    // `name` is what the ports are called; the path when empty.
    explicit CStreamDriver(std::string path, std::string name = {}, RawLimits limits = {});

    // Why path cannot carry MIDI, judged without opening it: not there, not a character device, a device of
    // another kind than a tty or an ALSA sound node, or the program's own terminal. Empty when it may.
    // Opening checks again, and also refuses a node that turns out to be neither a tty nor a rawmidi device.
    static std::string unusable(const std::string& path);

    // One of each while the path exists, none otherwise.
    unsigned portCount(Direction direction) override;
    std::string portName(Direction direction, unsigned index) override;

    std::unique_ptr<MidiOutput> openOutput(int index, std::string* why) override;
    std::unique_ptr<MidiInput> openInput(int index, SysExHandler onSysEx, std::string* why) override;

  private:
    // The open device shared by both directions, opened on first use; claims `direction` for the caller.
    std::shared_ptr<CStreamChannel> claim(int index, Direction direction, std::string* why);

    const std::string path_;
    const std::string name_;
    const RawLimits limits_;
    std::mutex mutex_;
    std::weak_ptr<CStreamChannel> open_;
};

}  // namespace velmora::midi
