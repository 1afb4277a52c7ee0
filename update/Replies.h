#pragma once
// What the device's messages mean to the host: the waiting worker gets a status (and, for some answers,
// further data) through one auto-reset event, and messages the device starts itself are answered on the
// spot. Runs on the poll timer's thread, never twice at once for one state.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>

#include "midi/MidiDriver.h"

namespace velmora {

namespace midi {
class CMidiInPort;
class CMidiOutPort;
}  // namespace midi

class CSysExSender;

// Auto-reset event: set() leaves at most one signal pending; a wait that finds it takes it.
class CReplyEvent {
  public:
    void set();
    void reset();
    // True when a signal was taken (at once if one was pending), false when `limit` passed first.
    bool waitFor(std::chrono::milliseconds limit);

  private:
    std::mutex mutex_;
    std::condition_variable signalled_;
    bool pending_ = false;
};

namespace reply {

inline constexpr std::int32_t kSuccess = 0;
inline constexpr std::int32_t kFailure = 1;
inline constexpr std::int32_t kNotInUpdateMode = 11;
inline constexpr std::int32_t kAborted = 255;

// Answers kept for the worker; a device that floods answers cannot grow memory.
inline constexpr std::size_t kMaxQueuedAnswers = 256;

// Room for the read-back data of a whole update.
inline constexpr std::size_t kReadBackBufferSize = 5824512;

}  // namespace reply

// The answer a device message calls for; sent by processReplies after the message has been interpreted.
enum class ReplyAnswer { None, Ack, Reject, HostIdentity };

// One message from the device that concerns the worker, in the order it arrived. Answers carry no reference
// to their request, so the worker keeps the pairing; what it can tell apart is the kind of answer and, for a
// read, how many bytes the reply says it carries.
struct Answer {
    enum class Kind : std::uint8_t { Status, Done, Identity, Read };
    Kind kind = Kind::Status;
    std::int32_t status = 0;
    std::uint8_t deviceCode = 0;   // Identity: the model code it reports
    std::int32_t readLength = -1;  // Read: the length the reply declares; -1 when it is too short to say
    std::int32_t dataOffset = -1;  // Read: where its data was stored in the read-back buffer; -1 when not
};

// The results reply processing hands to the worker, and the event that tells it they are there. Everything
// is written before the event is signalled; the worker reads it after its wait has returned.
class CReplyState {
  public:
    CReplyState();
    CReplyState(const CReplyState&) = delete;
    CReplyState& operator=(const CReplyState&) = delete;

    CReplyEvent& event() { return event_; }

    std::int32_t replyStatus() const { return replyStatus_.load(); }
    // Byte 6 of the last IdentityReply; 0 until one has arrived.
    std::uint8_t reportedDeviceCode() const { return reportedDeviceCode_.load(); }

    // Where the next accepted ReadReply stores its data; the worker sets it before a ReadRequest.
    std::int32_t readBackOffset() const { return readBackOffset_.load(); }
    void setReadBackOffset(std::int32_t offset) { readBackOffset_.store(offset); }
    const std::uint8_t* readBackData() const { return readBack_.get(); }
    // kReadBackBufferSize, or 0 when the memory could not be had (every ReadReply then fails).
    std::size_t readBackCapacity() const { return readBack_ ? reply::kReadBackBufferSize : 0; }

    // True once abortReplies() has run: replies are ignored from then on.
    bool aborted() const { return aborted_.load(); }

    // The oldest answer not yet taken, waiting up to `limit` for one; nothing when none came in time. After
    // the abort: an Answer with status 255, at once.
    std::optional<Answer> takeAnswer(std::chrono::milliseconds limit);
    // Forgets every answer not yet taken and any pending signal: called right before a request is sent, when
    // nothing is owed, so that nothing that arrived before the request passes for its answer.
    void clearAnswers();

  private:
    friend ReplyAnswer interpretReply(midi::Bytes message, std::uint8_t deviceCode, CReplyState& state);
    friend void abortReplies(CReplyState& state, midi::CMidiOutPort& out, midi::CMidiInPort& in);

    // Records an answer (and runs `also` first) and signals the event, unless the abort came first.
    template <typename Also>
    void record(Answer answer, Also also, bool setsStatus = true);
    void record(Answer answer);
    // The oldest answer not yet taken (status 255 after the abort), or nothing.
    std::optional<Answer> takeNow();
    // The read-reply path, byte 4 = 0x60 already matched.
    void readReply(midi::Bytes message);

    std::mutex recordMutex_;  // orders each recorded result against the abort, so 255 is never overwritten
    std::atomic<bool> aborted_{false};
    std::atomic<std::int32_t> replyStatus_{0};
    std::atomic<std::uint8_t> reportedDeviceCode_{0};
    std::atomic<std::int32_t> readBackOffset_{0};
    std::unique_ptr<std::uint8_t[]> readBack_;
    std::deque<Answer> answers_;  // under recordMutex_
    CReplyEvent event_;
};

// Interprets one received entry for the device whose code is `deviceCode`: records what it means in `state`
// (signalling its event when the worker must look) and returns the answer it calls for. A message too short
// for a byte it must examine is dropped without effect; a ReadReply (byte 5 = 0x04) too short for its
// declared data, or whose data would not fit the read-back buffer, is a failed read: status 1, signalled,
// nothing stored. Reads nothing outside `message`. After the abort every message is ignored.
ReplyAnswer interpretReply(midi::Bytes message, std::uint8_t deviceCode, CReplyState& state);

// Drains `in`: each queued entry in arrival order is interpreted, answered through `sender` (results not
// examined) and popped. Matches manufacturer messages on sender.deviceCode(). A message that is byte for byte
// one the host sent lately is the link echoing it (a MIDI thru, a merger, a loop cable) and is dropped.
void processReplies(midi::CMidiInPort& in, CSysExSender& sender, CReplyState& state);

// The window is going away: closes both ports, sets status 255 and signals the event, so a waiting worker
// ends quietly. No reply processed afterwards changes the status.
void abortReplies(CReplyState& state, midi::CMidiOutPort& out, midi::CMidiInPort& in);

}  // namespace velmora
