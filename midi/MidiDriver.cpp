#include "midi/MidiDriver.h"

namespace velmora::midi {

void SendCompletion::finish(bool sent) {
    {
        std::lock_guard lock(mutex_);
        if (result_) {
            return;
        }
        result_ = sent;
    }
    finished_.notify_all();
}

std::optional<bool> SendCompletion::waitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    finished_.wait_for(lock, limit, [this] { return result_.has_value(); });
    return result_;
}

std::string portNameAt(MidiDriver& driver, Direction direction, int index) {
    return index < 0 ? std::string() : driver.portName(direction, static_cast<unsigned>(index));
}

std::string boundedName(std::string name, std::size_t maxBytes) {
    if (name.size() <= maxBytes) {
        return name;
    }
    std::size_t cut = maxBytes;
    // Back up over continuation bytes (10xxxxxx) so the cut falls before the character they belong to.
    while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
        --cut;
    }
    name.resize(cut);
    return name;
}

}  // namespace velmora::midi
