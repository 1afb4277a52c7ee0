#pragma once
// The platform MIDI services that the ports need. One implementation per platform lives in
// midi/drivers/<name>/; CMidiInPort and CMidiOutPort keep the behaviour the ports promise on top of any of
// them.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <system_error>

#include "i18n/Translate.h"

namespace velmora::midi {

using Bytes = std::span<const std::uint8_t>;

// Longest entry a driver hands to its input handler: a longer SysEx arrives as successive entries of this
// size.
inline constexpr std::size_t kMaxSysExEntry = 8192;

// Bytes of a device name that port pre-selection matches, without the terminator (a 40-byte buffer). The
// ports report names whole.
inline constexpr std::size_t kMaxDeviceNameBytes = 39;

// The end of one outgoing message, shared by the port that waits for it and the driver that sends it, so that
// neither has to outlive the other.
class SendCompletion {
  public:
    // Driver side: the platform has finished with the message (sent true) or given up on it (false). Only the
    // first call counts.
    void finish(bool sent);

    // Port side: the result, or nothing when `limit` passed first.
    std::optional<bool> waitFor(std::chrono::milliseconds limit);

  private:
    std::mutex mutex_;
    std::condition_variable finished_;
    std::optional<bool> result_;
};

// An open output device.
class MidiOutput {
  public:
    virtual ~MidiOutput() = default;

    // Starts sending one whole SysEx message. The driver keeps what it needs of `message` (a copy, or memory
    // it owns) before it returns, so the caller may reuse its bytes even when it stops waiting early.
    // Messages are transmitted whole, never interleaved, whichever thread sends them. Returns false when the
    // platform refuses at once (and then never calls `done`); otherwise calls done->finish() exactly once,
    // from any thread.
    virtual bool send(Bytes message, std::shared_ptr<SendCompletion> done) = 0;

    // Closes the device: pending messages finish (false when they did not leave), later sends are refused.
    // Safe to call more than once; the destructor calls it.
    virtual void close() = 0;
};

// An open input device. Destroying it stops input: no handler call runs after the destructor has returned.
class MidiInput {
  public:
    virtual ~MidiInput() = default;
};

// Receives one entry: a whole SysEx of up to kMaxSysExEntry bytes, or one piece of a longer one. Called on
// the driver's own thread; must not block for long.
using SysExHandler = std::function<void(Bytes entry)>;

// Which of a platform's two port lists: MIDI IN (the device's messages arrive there) or MIDI OUT.
enum class Direction { In, Out };

class MidiDriver {
  public:
    virtual ~MidiDriver() = default;

    // Counts and names are asked afresh on every call and do not depend on any open device. Names are UTF-8;
    // a name for an index that is gone is empty.
    virtual unsigned portCount(Direction direction) = 0;
    virtual std::string portName(Direction direction, unsigned index) = 0;
    // Where the platform finds a port, so that people can tell equal names apart ("hw:1,0,0" on ALSA); empty
    // where the platform has no such form or the index is gone.
    virtual std::string portAddress(Direction /*direction*/, unsigned /*index*/) { return {}; }

    // Opens a device by its position in the enumeration; nullptr on failure (an index out of range included),
    // with the reason in *why when it is given. Once the ports have been listed, a driver whose numbering can
    // shift refuses an index that no longer holds the port listed there (kPortListChanged).
    virtual std::unique_ptr<MidiOutput> openOutput(int index, std::string* why) = 0;
    virtual std::unique_ptr<MidiInput> openInput(int index, SysExHandler onSysEx, std::string* why) = 0;

    // True only for a driver whose ports end inside this program (an emulated device); everything else may
    // reach real hardware.
    virtual bool reachesOnlyEmulatedDevices() const { return false; }
};

// Why an open by index failed when the port at that index is no longer the one that was listed.
// English here, as the tests compare it; translated where it is said.
inline constexpr const char* kPortListChanged = VELMORA_TEXT("Drivers", "the port list changed: rescan");

// make() builds a device object that starts a thread of its own. When the system cannot start one (no memory,
// a process limit), the open fails with the reason in *why rather than ending the program. `thread` is an
// English text marked VELMORA_TEXT("Drivers", ...), said in the chosen language.
template <typename Make>
auto openWithThread(const char* thread, std::string* why, Make make) -> decltype(make()) {
    try {
        return make();
    } catch (const std::system_error& e) {
        if (why != nullptr) {
            *why = i18n::arg(i18n::translate("Drivers", "cannot start the %1 thread: %2"),
                             {i18n::translate("Drivers", thread), e.what()});
        }
        return nullptr;
    }
}

// The name of port `index` in `direction`, empty for a negative index (no port chosen).
std::string portNameAt(MidiDriver& driver, Direction direction, int index);

// `name` cut to at most maxBytes bytes without splitting a UTF-8 character.
std::string boundedName(std::string name, std::size_t maxBytes = kMaxDeviceNameBytes);

}  // namespace velmora::midi
