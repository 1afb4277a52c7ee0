#include "midi/SysExFramer.h"

#include <utility>

namespace velmora::midi {

namespace {

constexpr std::uint8_t kSysExStart = 0xF0;
constexpr std::uint8_t kSysExEnd = 0xF7;
constexpr std::uint8_t kFirstRealTime = 0xF8;

}  // namespace

SysExFramer::SysExFramer(SysExHandler onEntry) : onEntry_(std::move(onEntry)) {
    pending_.reserve(kMaxSysExEntry);
}

void SysExFramer::feed(Bytes bytes) {
    for (const std::uint8_t b : bytes) {
        if (b >= kFirstRealTime) {
            continue;  // MIDI 1.0 lets real-time messages appear anywhere, even inside a SysEx; they never
                       // end it
        }
        if (b == kSysExStart) {
            // A SysEx cut short by a new one is incomplete: it is dropped, not delivered as if it were whole.
            pending_.clear();
            pending_.push_back(b);
            inSysEx_ = true;
        } else if (!inSysEx_) {
            continue;  // channel and system common messages, a stray 0xF7, running-status data: no entry
        } else if (b == kSysExEnd) {
            pending_.push_back(b);
            emit();
            inSysEx_ = false;
        } else if (b >= 0x80) {
            // Any other status byte ends the SysEx (MIDI 1.0); the incomplete part is dropped.
            pending_.clear();
            inSysEx_ = false;
        } else {
            pending_.push_back(b);
        }
        if (inSysEx_ && pending_.size() == kMaxSysExEntry) {
            emit();  // a full buffer is handed on; the message goes on in the next entry
        }
    }
}

void SysExFramer::reset() {
    pending_.clear();
    inSysEx_ = false;
}

void SysExFramer::emit() {
    if (!pending_.empty() && onEntry_) {
        onEntry_(Bytes(pending_.data(), pending_.size()));
    }
    pending_.clear();
}

}  // namespace velmora::midi
