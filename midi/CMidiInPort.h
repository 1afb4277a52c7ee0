#pragma once
// One MIDI input device at a time; every SysEx entry the driver delivers is copied into a queue that reply
// processing drains on the poll timer's thread.

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "midi/MidiDriver.h"

namespace velmora::midi {

// One queued entry: the bytes of a whole SysEx of up to kMaxSysExEntry bytes, or one piece of a longer one.
struct SysExMessage {
    std::unique_ptr<std::uint8_t[]> bytes;
    std::uint32_t length = 0;
    std::unique_ptr<SysExMessage> next;
};

// Bytes the queue holds at most. Far above what an update leaves waiting between two drains (a few small
// answers); a device that floods messages loses the newest ones instead of growing memory without limit.
inline constexpr std::size_t kMaxQueuedBytes = std::size_t{1} << 20;

class CMidiInPort {
  public:
    explicit CMidiInPort(MidiDriver& driver);
    // Closes the port, then releases every entry still queued.
    ~CMidiInPort();
    CMidiInPort(const CMidiInPort&) = delete;
    CMidiInPort& operator=(const CMidiInPort&) = delete;

    // True when the port is running afterwards. While running it returns true at once and changes nothing,
    // whatever index it is given; otherwise the index is stored, even when opening fails, and handed to the
    // driver unchanged (-1 included).
    bool open(int deviceIndex);
    // Stops input; entries already queued stay for the consumer. False when nothing was open. No arrival
    // hook runs after it has returned.
    bool close();

    // The oldest entry, still queued, or nothing. The view stays valid until the consumer pops that entry:
    // only the consumer pops, the driver's thread only appends behind it.
    std::optional<Bytes> peekMessage() const;
    // Removes and releases the oldest entry; nothing on an empty queue.
    void popMessage();
    // Entries dropped since the port was made because the queue was full.
    std::uint64_t droppedEntries() const;

    // Called on the driver's thread after each entry has been queued, outside the queue lock: a cue for the
    // consumer to drain now rather than on its next period. It must not block for long, nor open or close
    // this port. A hook replaced while the port runs may still be called once by a delivery under way.
    void setArrivalHook(std::function<void()> hook);

    unsigned deviceCount() const;
    // The product name, whole, in UTF-8. Pre-selection compares it cut to kMaxDeviceNameBytes.
    std::string deviceName(int deviceIndex) const;

    bool isOpen() const;
    int deviceIndex() const;
    // Why the last open failed, as the driver told it (may be empty).
    std::string lastError() const;

  private:
    void onEntry(Bytes entry);

    MidiDriver& driver_;

    // Serialises open, close and destruction. Never taken on the driver's thread, so it may be held while
    // the driver input is destroyed (which waits for a delivery in progress).
    std::mutex lifecycleMutex_;
    std::unique_ptr<MidiInput> input_;  // written only under lifecycleMutex_

    mutable std::mutex stateMutex_;  // guards running_, deviceIndex_ and lastError_ for quick reads
    bool running_ = false;
    int deviceIndex_ = 0;
    std::string lastError_;

    // Guards the queue's links only. Taken on the driver's thread, so it is never held while the driver
    // input is destroyed.
    mutable std::mutex queueMutex_;
    std::unique_ptr<SysExMessage> head_;
    SysExMessage* tail_ = nullptr;  // keeps appending constant-time when the consumer falls behind
    std::size_t queuedBytes_ = 0;
    std::uint64_t dropped_ = 0;

    // Taken on the driver's thread only to copy the hook; never held while calling it.
    std::mutex hookMutex_;
    std::shared_ptr<const std::function<void()>> arrivalHook_;
};

}  // namespace velmora::midi
