#pragma once
// The threads that carry raw MIDI bytes to and from a POSIX device: a writer per open output that sends
// queued messages one whole message at a time and waits for each to leave, and a reader per open input that
// turns what arrives into SysEx entries. What differs between devices (a tty, an ALSA rawmidi handle) sits
// behind RawChannel.

#include <poll.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "midi/MidiDriver.h"
#include "midi/SysExFramer.h"
#include "midi/drivers/stream/PosixIo.h"

namespace velmora::midi {

enum class IoStatus {
    ok,          // `count` bytes moved (or are queued, for queuedOutput)
    wouldBlock,  // nothing can move now; poll first
    ended,       // end of file: the far side is gone
    failed,      // `error` holds the errno value
};

struct IoResult {
    IoStatus status = IoStatus::ok;
    std::size_t count = 0;
    int error = 0;
};

// One open device as the reader and writer see it. The reader calls only the input side and the writer only
// the output side, each from its own thread.
class RawChannel {
  public:
    virtual ~RawChannel() = default;

    // The descriptors to poll before reading (POLLIN) or writing (POLLOUT).
    virtual std::vector<pollfd> pollDescriptors(Direction direction) = 0;
    // What those descriptors report after poll, as poll() events.
    virtual short readyEvents(Direction direction, std::span<pollfd> polled) = 0;

    virtual IoResult read(std::span<std::uint8_t> into) = 0;
    virtual IoResult write(Bytes bytes) = 0;
    // Bytes written and still waiting in the system's queue for the device; 0 when the device cannot tell.
    virtual IoResult queuedOutput() { return {}; }
    // Waits for the last bytes (those past the queue, in the hardware) to leave; called once the queue is
    // empty, so it is short. False when the device reports an error.
    virtual bool drain() { return true; }
    // Forgets what is still queued, so that closing does not wait for bytes nobody wants any more.
    virtual void discardOutput() {}
    // The reader or writer of `direction` has stopped for good.
    virtual void released(Direction /*direction*/) {}
};

struct RawLimits {
    // A device that takes no byte for this long is taken as gone: the message fails and later sends are
    // refused. Far above what a working link needs even at 31250 baud.
    std::chrono::milliseconds stall{2000};
    // How often the system's queue is looked at while waiting for it to empty.
    std::chrono::milliseconds queuePoll{1};
};

class CRawOutput final : public MidiOutput {
  public:
    // nullptr, with the reason in *why, when the writer cannot be set up.
    static std::unique_ptr<CRawOutput> create(std::shared_ptr<RawChannel> channel, RawLimits limits,
                                              std::string* why);
    ~CRawOutput() override;
    CRawOutput(const CRawOutput&) = delete;
    CRawOutput& operator=(const CRawOutput&) = delete;

    bool send(Bytes message, std::shared_ptr<SendCompletion> done) override;
    void close() override;

    // A message failed on the device; everything after it is refused.
    bool broken() const;

  private:
    struct Job {
        std::vector<std::uint8_t> bytes;
        std::shared_ptr<SendCompletion> done;
    };
    enum class Outcome { sent, failed, abandoned };
    enum class Wait { ready, woken, timedOut, failed };

    CRawOutput(std::shared_ptr<RawChannel> channel, RawLimits limits, CWakeup wake);
    void run();
    Outcome transmit(const std::vector<std::uint8_t>& bytes);
    Outcome writeAll(const std::vector<std::uint8_t>& bytes);
    Outcome waitUntilSent();
    Wait waitWritable(std::chrono::steady_clock::time_point deadline);
    bool closing() const;

    const std::shared_ptr<RawChannel> channel_;
    const RawLimits limits_;
    CWakeup wake_;
    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::deque<Job> queue_;
    bool closed_ = false;
    bool broken_ = false;
    std::thread writer_;  // last member: starts after everything it uses exists
};

class CRawInput final : public MidiInput {
  public:
    static std::unique_ptr<CRawInput> create(std::shared_ptr<RawChannel> channel, SysExHandler onSysEx,
                                             std::string* why);
    ~CRawInput() override;
    CRawInput(const CRawInput&) = delete;
    CRawInput& operator=(const CRawInput&) = delete;

    // The reader has stopped on its own: the device went away or reported an error.
    bool ended() const { return ended_.load(); }

  private:
    CRawInput(std::shared_ptr<RawChannel> channel, SysExHandler onSysEx, CWakeup wake);
    void run();

    const std::shared_ptr<RawChannel> channel_;
    SysExFramer framer_;
    CWakeup wake_;
    std::atomic<bool> ended_{false};
    std::thread reader_;  // last member
};

}  // namespace velmora::midi
