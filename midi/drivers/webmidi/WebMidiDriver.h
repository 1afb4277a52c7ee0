#pragma once
// MIDI ports of a web page: the browser's Web MIDI (navigator.requestMIDIAccess with SysEx) behind the glue
// object `Module.velmoraMidi` (web/velmora-glue.js). Web MIDI exists only on the page's main thread, so every
// call into it is carried there and waited for; the glue reports the port lists after every change and hands
// each arriving message to receive() on that thread.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiDriver.h"

namespace velmora::midi {

struct WebMidiPort {
    std::string id;  // MIDIPort.id: stable while the port exists
    std::string name;
};

class CWebMidiDriver : public MidiDriver {
  public:
    struct OpenInput;  // one open input and its handler

    // The ports as they are now, in the order the lists show them.
    void setPorts(std::vector<WebMidiPort> inputs, std::vector<WebMidiPort> outputs);
    // One MIDI message that arrived on input `id` (a MIDIMessageEvent's data); the page's main thread.
    void receive(const std::string& id, Bytes data);

    unsigned portCount(Direction direction) override;
    std::string portName(Direction direction, unsigned index) override;
    // The port's MIDIPort.id.
    std::string portAddress(Direction direction, unsigned index) override;
    std::unique_ptr<MidiOutput> openOutput(int index, std::string* why) override;
    std::unique_ptr<MidiInput> openInput(int index, SysExHandler onSysEx, std::string* why) override;

  private:
    // The list of `direction`; mutex_ held.
    const std::vector<WebMidiPort>& ports(Direction direction) const {
        return direction == Direction::In ? inputs_ : outputs_;
    }
    // The port at `index` of a list; one with no id and no name when there is none.
    WebMidiPort portAt(Direction direction, int index);

    std::mutex mutex_;
    std::vector<WebMidiPort> inputs_;
    std::vector<WebMidiPort> outputs_;
    std::vector<std::shared_ptr<OpenInput>> open_;
};

}  // namespace velmora::midi
