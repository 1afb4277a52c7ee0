#include "update/Replies.h"

#include <new>

#include "midi/CMidiInPort.h"
#include "midi/CMidiOutPort.h"
#include "update/Codec.h"
#include "update/Messages.h"

namespace velmora {

using namespace sysex;

// ---- event ----

void CReplyEvent::set() {
    {
        std::lock_guard lock(mutex_);
        pending_ = true;
    }
    signalled_.notify_one();
}

void CReplyEvent::reset() {
    std::lock_guard lock(mutex_);
    pending_ = false;
}

bool CReplyEvent::waitFor(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    if (!signalled_.wait_for(lock, limit, [this] { return pending_; })) {
        return false;
    }
    pending_ = false;
    return true;
}

// ---- state ----

namespace {

constexpr std::size_t kIdentityReplyCodePos = 6;  // the model code in the device's IdentityReply
constexpr std::size_t kReadReplyChecksumLength = 5;

// A message reaches byte `pos` when it is at least pos + 1 bytes long.
bool reaches(midi::Bytes m, std::size_t pos) {
    return m.size() > pos;
}

}  // namespace

// Zero-filled so the worker never sees stale heap contents; nothrow because the core throws nothing: without
// the memory every ReadReply is a failed read.
CReplyState::CReplyState() : readBack_(new (std::nothrow) std::uint8_t[reply::kReadBackBufferSize]()) {}

template <typename Also>
void CReplyState::record(Answer answer, Also also, bool setsStatus) {
    {
        std::lock_guard lock(recordMutex_);
        if (aborted_.load()) {
            return;
        }
        also();
        if (setsStatus) {
            replyStatus_.store(answer.status);
        }
        // A device that floods answers cannot grow memory; the worker sees the latest.
        if (answers_.size() == reply::kMaxQueuedAnswers) {
            answers_.pop_front();
        }
        answers_.push_back(answer);
    }
    event_.set();
}

void CReplyState::record(Answer answer) {
    record(answer, [] {});
}

std::optional<Answer> CReplyState::takeNow() {
    std::lock_guard lock(recordMutex_);
    if (aborted_.load()) {
        return Answer{Answer::Kind::Status, reply::kAborted};
    }
    if (answers_.empty()) {
        return std::nullopt;
    }
    const Answer next = answers_.front();
    answers_.pop_front();
    return next;
}

std::optional<Answer> CReplyState::takeAnswer(std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        if (std::optional<Answer> next = takeNow()) {
            return next;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        // A signal set after the look above is still pending here, so nothing recorded in between is missed.
        if (left.count() <= 0 || !event_.waitFor(left)) {
            return takeNow();
        }
    }
}

void CReplyState::clearAnswers() {
    std::lock_guard lock(recordMutex_);
    answers_.clear();
    event_.reset();
}

void CReplyState::readReply(midi::Bytes m) {
    Answer answer{Answer::Kind::Read, reply::kFailure};
    if (!reaches(m, kStatusPos)) {
        return;  // too short to tell a ReadReply from anything else
    }
    if (m[kStatusPos] != kReadReplyMarker) {
        // Not a read reply after all: the worker still looks and finds nothing read; the status stays.
        record(
            answer, [] {}, false);
        return;
    }
    // From here on every shortfall is a failed read: status 1, signalled, nothing stored.
    if (!reaches(m, kReadReplySubCodePos) || m[kReadReplySubCodePos] != kReadSubCode ||
        !reaches(m, kReadReplyLengthPos + 1)) {
        record(answer);
        return;
    }
    const std::size_t n = decodeLength14(&m[kReadReplyLengthPos]);
    answer.readLength = static_cast<std::int32_t>(n);
    const std::size_t packed = packedLength(n);
    if (m.size() < kReadReplyDataPos + packed + kReadReplyChecksumLength) {
        record(answer);
        return;
    }
    const std::int32_t offset = readBackOffset_.load();
    if (offset < 0 || static_cast<std::size_t>(offset) > readBackCapacity() ||
        n > readBackCapacity() - static_cast<std::size_t>(offset)) {
        record(answer);
        return;
    }
    std::uint8_t* const dst = readBack_.get() + offset;
    unpack7(dst, &m[kReadReplyDataPos], packed);
    // A mismatch leaves the offset where it was, so the next reply overwrites these bytes.
    if (checksum32(dst, n) != decode7x5(&m[kReadReplyDataPos + packed])) {
        record(answer);
        return;
    }
    answer.status = reply::kSuccess;
    answer.dataOffset = offset;
    record(answer, [this, n] { readBackOffset_.fetch_add(static_cast<std::int32_t>(n)); });
}

ReplyAnswer interpretReply(midi::Bytes m, std::uint8_t deviceCode, CReplyState& state) {
    if (state.aborted()) {
        return ReplyAnswer::None;
    }
    if (!reaches(m, kManufacturerPos) || m[0] != kStart) {
        return ReplyAnswer::None;  // includes the later pieces of a message longer than one entry
    }
    if (m[kManufacturerPos] == kManufacturer) {
        if (!reaches(m, kCodePos) || m[kDeviceCodePos] != deviceCode) {
            return ReplyAnswer::None;
        }
        switch (m[kCodePos]) {
            case kStatusCode:
                if (reaches(m, kStatusPos)) {
                    state.record({Answer::Kind::Status, m[kStatusPos]});
                }
                return ReplyAnswer::None;
            case kNoticeCode1:
            case kNoticeCode4:
            case kNoticeCode5:
                return ReplyAnswer::Ack;  // the device's own announcements, acknowledged
            case kWriteCode:
                state.record({Answer::Kind::Done, reply::kSuccess});  // DoneReply
                return ReplyAnswer::None;
            case kQuietNoticeCode:
                return ReplyAnswer::None;
            case kReadCode:
                state.readReply(m);
                return ReplyAnswer::None;
            default:
                return ReplyAnswer::Reject;
        }
    }
    if (m[kManufacturerPos] == kUniversalNonRealTime) {
        if (!reaches(m, kSubId1Pos) || m[kSubId1Pos] != kGeneralInformation || !reaches(m, kSubId2Pos)) {
            return ReplyAnswer::None;
        }
        switch (m[kSubId2Pos]) {
            case kIdentityRequestSubId:
                return ReplyAnswer::HostIdentity;
            case kIdentityReplySubId:
                if (reaches(m, kIdentityReplyCodePos)) {
                    const std::uint8_t code = m[kIdentityReplyCodePos];
                    state.record({Answer::Kind::Identity, reply::kSuccess, code},
                                 [&state, code] { state.reportedDeviceCode_.store(code); });
                }
                return ReplyAnswer::None;
            default:
                return ReplyAnswer::Reject;
        }
    }
    return ReplyAnswer::None;
}

void processReplies(midi::CMidiInPort& in, CSysExSender& sender, CReplyState& state) {
    while (const std::optional<midi::Bytes> message = in.peekMessage()) {
        const ReplyAnswer answer = sender.takeEcho(*message)
                                       ? ReplyAnswer::None
                                       : interpretReply(*message, sender.deviceCode(), state);
        switch (answer) {
            case ReplyAnswer::Ack:
                sender.sendAck();
                break;
            case ReplyAnswer::Reject:
                sender.sendStatus(1);
                break;
            case ReplyAnswer::HostIdentity:
                sender.sendHostIdentityReply();
                break;
            case ReplyAnswer::None:
                break;
        }
        in.popMessage();
    }
}

void abortReplies(CReplyState& state, midi::CMidiOutPort& out, midi::CMidiInPort& in) {
    out.close();
    in.close();
    {
        std::lock_guard lock(state.recordMutex_);
        state.aborted_.store(true);
        state.replyStatus_.store(reply::kAborted);
    }
    state.event_.set();
}

}  // namespace velmora
