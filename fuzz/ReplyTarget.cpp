// fuzz_replies: what the host makes of messages from the device. interpretReply is judged against the
// decision table the reply tests spell out and against the read-back contract (fits, checksum, nothing stored
// on a failed read); processReplies must answer exactly what interpretReply asks for, entry by entry; and a
// ReadReply built by the emulated device from the input's bytes must come back whole.

#include <algorithm>
#include <chrono>
#include <limits>
#include <optional>

#include "emulator/DeviceRequest.h"
#include "fuzz/Support.h"
#include "midi/CMidiInPort.h"
#include "midi/CMidiOutPort.h"
#include "midi/SysExFramer.h"
#include "update/Codec.h"
#include "update/Messages.h"
#include "update/Replies.h"

namespace velmora::fuzz {

namespace {

constexpr std::size_t kHeaderLength = 6;     // device code, offset mode, four offset bytes
constexpr std::uint8_t kSeedStatus = 0x2A;   // set before each message, so that "unchanged" shows
constexpr std::size_t kSnapshotMargin = 16;  // bytes either side of the read-back window that must stay
constexpr std::uint32_t kMaxReadReplyData = 16383;

// One host for the whole run: the reply state's read-back buffer is megabytes, too much to zero per input.
// Nothing interpretReply decides depends on what earlier inputs left, except the abort, never made here.
struct Host {
    Host() { require(out.open(0) && in.open(0), "the direct ports open"); }
    DirectDriver driver;
    midi::CMidiOutPort out{driver};
    midi::CMidiInPort in{driver};
    CSysExSender sender{out};
    CReplyState state;
};

Host& host() {
    static Host instance;
    return instance;
}

std::size_t capacity() {
    return host().state.readBackCapacity();
}

// Offsets far out of range are as much the point as valid ones, and the end of the buffer matters most.
std::int32_t chooseOffset(std::uint8_t mode, std::uint32_t raw) {
    const auto cap = static_cast<std::int64_t>(capacity());
    std::int64_t offset = 0;
    switch (mode % 4) {
        case 0:
            offset = static_cast<std::int32_t>(raw);  // anything, negative included
            break;
        case 1:
            offset = raw % 64;
            break;
        case 2:
            offset = cap - static_cast<std::int64_t>(raw % 40000);  // a full reply's reach from the end
            break;
        default:
            offset = cap + raw % 8;  // at or just past the end
            break;
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(
        offset, std::numeric_limits<std::int32_t>::min(), std::numeric_limits<std::int32_t>::max()));
}

// Puts the state back to the seed status with no signal pending.
void reseed(std::uint8_t deviceCode) {
    const std::uint8_t seed[] = {sysex::kStart,      sysex::kManufacturer, 0x00,       deviceCode,
                                 sysex::kStatusCode, kSeedStatus,          sysex::kEnd};
    interpretReply(midi::Bytes(seed, sizeof seed), deviceCode, host().state);
    require(host().state.replyStatus() == kSeedStatus, "a status message sets the status");
    host().state.event().reset();
}

// What a message must do, from the decision table and the read-reply layout.
struct Expected {
    enum class Effect { None, Record, SignalOnly, ReadFailed, Read };
    Effect effect = Effect::None;
    ReplyAnswer answer = ReplyAnswer::None;
    std::int32_t status = 0;                   // Record
    std::optional<std::uint8_t> reportedCode;  // Record from an IdentityReply
    std::size_t dataBytes = 0;                 // ReadFailed, Read: the declared count, when known
    bool storesNothing = true;                 // ReadFailed: short or not fitting, not a bad checksum
};

Expected expectedRead(std::span<const std::uint8_t> m, std::int32_t offset) {
    Expected e;
    if (m.size() <= sysex::kStatusPos) {
        return e;
    }
    if (m[sysex::kStatusPos] != sysex::kReadReplyMarker) {
        e.effect = Expected::Effect::SignalOnly;
        return e;
    }
    e.effect = Expected::Effect::ReadFailed;
    if (m.size() <= sysex::kReadReplyLengthPos + 1 || m[sysex::kReadReplySubCodePos] != sysex::kReadSubCode) {
        return e;
    }
    const std::size_t n = reference::decodeLength14(&m[sysex::kReadReplyLengthPos]);
    e.dataBytes = n;
    const std::size_t packed = packedLength(n);
    if (m.size() < sysex::kReadReplyDataPos + packed + 5) {
        return e;
    }
    const std::size_t cap = capacity();
    if (offset < 0 || static_cast<std::size_t>(offset) > cap || n > cap - static_cast<std::size_t>(offset)) {
        return e;
    }
    const Vec data = reference::unpack7(m.subspan(sysex::kReadReplyDataPos, packed));
    const bool sevenBit =
        std::all_of(m.begin() + sysex::kReadReplyDataPos,
                    m.begin() + static_cast<std::ptrdiff_t>(sysex::kReadReplyDataPos + packed),
                    [](std::uint8_t b) { return b < 0x80; });
    if (!sevenBit) {
        // Bytes with the top bit set never arrive inside a SysEx; what they unpack to is not defined, only
        // that the outcome is one of the two and nothing outside the window changes.
        e.effect = Expected::Effect::Read;
        e.storesNothing = false;
        e.status = -1;
        return e;
    }
    if (reference::checksum32(data) != reference::decode7x5(&m[sysex::kReadReplyDataPos + packed])) {
        e.storesNothing = false;  // the data may have been unpacked in place; the offset stays
        return e;
    }
    e.effect = Expected::Effect::Read;
    return e;
}

Expected expected(std::span<const std::uint8_t> m, std::uint8_t deviceCode, std::int32_t offset) {
    Expected e;
    if (m.size() <= sysex::kManufacturerPos || m[0] != sysex::kStart) {
        return e;
    }
    const auto record = [&e](std::int32_t status) {
        e.effect = Expected::Effect::Record;
        e.status = status;
    };
    if (m[sysex::kManufacturerPos] == sysex::kManufacturer) {
        if (m.size() <= sysex::kCodePos || m[sysex::kDeviceCodePos] != deviceCode) {
            return e;
        }
        switch (m[sysex::kCodePos]) {
            case sysex::kStatusCode:
                if (m.size() > sysex::kStatusPos) {
                    record(m[sysex::kStatusPos]);
                }
                return e;
            case 0x01:
            case 0x04:
            case 0x05:
                e.answer = ReplyAnswer::Ack;
                return e;
            case sysex::kWriteCode:
                record(reply::kSuccess);
                return e;
            case 0x03:
                return e;
            case sysex::kReadCode:
                return expectedRead(m, offset);
            default:
                e.answer = ReplyAnswer::Reject;
                return e;
        }
    }
    if (m[sysex::kManufacturerPos] == sysex::kUniversalNonRealTime) {
        if (m.size() <= sysex::kSubId2Pos || m[sysex::kSubId1Pos] != sysex::kGeneralInformation) {
            return e;
        }
        switch (m[sysex::kSubId2Pos]) {
            case sysex::kIdentityRequestSubId:
                e.answer = ReplyAnswer::HostIdentity;
                return e;
            case sysex::kIdentityReplySubId:
                if (m.size() > sysex::kIdentityModelPos) {
                    record(reply::kSuccess);
                    e.reportedCode = m[sysex::kIdentityModelPos];
                }
                return e;
            default:
                e.answer = ReplyAnswer::Reject;
                return e;
        }
    }
    return e;
}

// The read-back bytes a reply may touch, with a margin, copied before the call.
struct Window {
    std::size_t from = 0;
    Vec bytes;
};

Window snapshot(std::int32_t offset, std::size_t dataBytes) {
    Window w;
    const std::size_t cap = capacity();
    if (offset < 0 || static_cast<std::size_t>(offset) > cap) {
        return w;
    }
    const auto at = static_cast<std::size_t>(offset);
    w.from = at > kSnapshotMargin ? at - kSnapshotMargin : 0;
    const std::size_t to = std::min(cap, at + dataBytes + kSnapshotMargin);
    const std::uint8_t* buffer = host().state.readBackData();
    w.bytes.assign(buffer + w.from, buffer + to);
    return w;
}

// Bytes of the window outside [keepFrom, keepTo) are unchanged.
bool unchangedOutside(const Window& w, std::size_t keepFrom, std::size_t keepTo) {
    const std::uint8_t* buffer = host().state.readBackData();
    for (std::size_t i = 0; i < w.bytes.size(); ++i) {
        const std::size_t at = w.from + i;
        if ((at < keepFrom || at >= keepTo) && buffer[at] != w.bytes[i]) {
            return false;
        }
    }
    return true;
}

void checkOneMessage(std::span<const std::uint8_t> message, std::uint8_t deviceCode, std::int32_t offset) {
    CReplyState& state = host().state;
    reseed(deviceCode);
    state.setReadBackOffset(offset);
    const std::uint8_t codeBefore = state.reportedDeviceCode();
    const Expected e = expected(message, deviceCode, offset);
    const Window before = snapshot(offset, e.dataBytes);

    const ExactCopy copy(message);
    const ReplyAnswer answer = interpretReply(copy.span(), deviceCode, state);

    const std::int32_t status = state.replyStatus();
    const bool signalled = state.event().waitFor(std::chrono::milliseconds(0));
    const std::int32_t offsetAfter = state.readBackOffset();
    require(answer == e.answer, "interpretReply's answer is the one the decision table gives");
    if (!e.reportedCode) {
        require(state.reportedDeviceCode() == codeBefore, "only an IdentityReply changes the reported code");
    }
    switch (e.effect) {
        case Expected::Effect::None:
            require(!signalled && status == kSeedStatus, "a message without effect changes nothing");
            break;
        case Expected::Effect::Record:
            require(signalled && status == e.status, "a status, DoneReply or IdentityReply is recorded");
            if (e.reportedCode) {
                require(state.reportedDeviceCode() == *e.reportedCode, "an IdentityReply reports its code");
            }
            break;
        case Expected::Effect::SignalOnly:
            require(signalled && status == kSeedStatus, "read code with another byte 5 only signals");
            break;
        case Expected::Effect::ReadFailed:
            require(signalled && status == reply::kFailure, "a read that cannot be taken fails");
            break;
        case Expected::Effect::Read:
            require(signalled, "a ReadReply signals");
            if (e.status >= 0) {
                require(status == reply::kSuccess, "a whole ReadReply with its checksum right succeeds");
            }
            break;
    }
    if (e.effect == Expected::Effect::Read) {
        require(status == reply::kSuccess || status == reply::kFailure, "a ReadReply succeeds or fails");
    }
    if (e.effect != Expected::Effect::Read || status != reply::kSuccess) {
        require(offsetAfter == offset, "the read-back offset moves only for an accepted ReadReply");
        if (e.storesNothing) {
            require(unchangedOutside(before, 0, 0), "a message that is not an accepted read stores nothing");
        } else {
            const auto at = static_cast<std::size_t>(offset);
            require(unchangedOutside(before, at, at + e.dataBytes),
                    "a read with a wrong checksum writes only inside its own window");
        }
        return;
    }
    require(static_cast<std::int64_t>(offsetAfter) - offset == static_cast<std::int64_t>(e.dataBytes),
            "an accepted ReadReply moves the offset by its data length");
    const auto at = static_cast<std::size_t>(offset);
    require(unchangedOutside(before, at, at + e.dataBytes), "an accepted ReadReply writes only its data");
    const std::size_t packed = packedLength(e.dataBytes);
    const Vec data = reference::unpack7(message.subspan(sysex::kReadReplyDataPos, packed));
    const std::uint8_t* stored = state.readBackData() + at;
    if (std::all_of(message.begin() + sysex::kReadReplyDataPos,
                    message.begin() + static_cast<std::ptrdiff_t>(sysex::kReadReplyDataPos + packed),
                    [](std::uint8_t b) { return b < 0x80; })) {
        require(std::equal(data.begin(), data.end(), stored),
                "an accepted ReadReply stores its unpacked data");
    }
    require(reference::checksum32({stored, e.dataBytes}) ==
                reference::decode7x5(&message[sysex::kReadReplyDataPos + packed]),
            "what was stored matches the checksum it was accepted with");
}

Vec statusMessage(std::uint8_t deviceCode, std::uint8_t status) {
    return {sysex::kStart, sysex::kManufacturer, 0x00, deviceCode, sysex::kStatusCode, status, sysex::kEnd};
}

// Every entry a driver could queue from `stream` goes through processReplies, which must send the answer
// interpretReply calls for, for each entry, in order, and leave the queue empty.
void checkProcessing(std::span<const std::uint8_t> stream, std::uint8_t deviceCode, std::int32_t offset) {
    Host& h = host();
    h.sender.setDeviceCode(deviceCode);
    h.state.setReadBackOffset(offset);
    std::vector<Vec> entries;
    midi::SysExFramer framer([&entries](midi::Bytes e) { entries.emplace_back(e.begin(), e.end()); });
    framer.feed(stream);
    if (!stream.empty() && stream.size() <= midi::kMaxSysExEntry) {
        entries.emplace_back(stream.begin(), stream.end());  // a raw piece, as the tail of a long message
    }
    std::vector<Vec> answers;
    for (const Vec& entry : entries) {
        require(h.driver.deliver(entry), "the input port is open");
        switch (expected(entry, deviceCode, offset).answer) {
            case ReplyAnswer::Ack:
                answers.push_back(statusMessage(deviceCode, 0));
                break;
            case ReplyAnswer::Reject:
                answers.push_back(statusMessage(deviceCode, 1));
                break;
            case ReplyAnswer::HostIdentity:
                answers.push_back({sysex::kStart, sysex::kUniversalNonRealTime, 0x00,
                                   sysex::kGeneralInformation, sysex::kIdentityReplySubId,
                                   sysex::kManufacturer, h.sender.hostIdentityModel(), 0x00, 0x00, 0x00, '1',
                                   '0', '0', '0', sysex::kEnd});
                break;
            case ReplyAnswer::None:
                break;
        }
    }
    processReplies(h.in, h.sender, h.state);
    require(!h.in.peekMessage().has_value(), "processReplies drains the queue");
    require(h.driver.takeSent() == answers, "processReplies sends exactly the answers each entry calls for");
    h.state.event().reset();
}

// The emulated device's ReadReply for the input's bytes, read back at the start or the very end of the
// buffer: accepted with those bytes, or failed with nothing moved when its checksum was spoilt.
void checkDeviceReadReply(std::span<const std::uint8_t> bytes, std::uint8_t mode, std::uint8_t deviceCode) {
    const std::uint8_t model = deviceCode & 0x7F;
    const std::span<const std::uint8_t> data =
        bytes.first(std::min<std::size_t>(bytes.size(), kMaxReadReplyData));
    const bool wrongChecksum = (mode & 0x10) != 0;
    const Vec message = emulator::readAnswer(model, data, wrongChecksum);
    require(message.front() == sysex::kStart && message.back() == sysex::kEnd &&
                std::all_of(message.begin() + 1, message.end() - 1, [](std::uint8_t b) { return b < 0x80; }),
            "the device's ReadReply is one whole SysEx");
    const std::size_t cap = capacity();
    const auto offset = static_cast<std::int32_t>((mode & 0x20) != 0 ? cap - data.size() : 0);
    reseed(model);
    CReplyState& state = host().state;
    state.setReadBackOffset(offset);
    const ExactCopy copy(message);
    require(interpretReply(copy.span(), model, state) == ReplyAnswer::None, "a ReadReply is not answered");
    require(state.event().waitFor(std::chrono::milliseconds(0)), "a ReadReply signals");
    if (wrongChecksum) {
        require(state.replyStatus() == reply::kFailure && state.readBackOffset() == offset,
                "a ReadReply with a wrong checksum is a failed read");
        return;
    }
    require(state.replyStatus() == reply::kSuccess, "the device's ReadReply is accepted");
    require(state.readBackOffset() == offset + static_cast<std::int32_t>(data.size()),
            "the offset moves by the data length");
    require(std::equal(data.begin(), data.end(), state.readBackData() + offset),
            "the device's bytes arrive unchanged");
}

}  // namespace

void fuzzReplies(const std::uint8_t* data, std::size_t size) {
    if (size < kHeaderLength) {
        return;
    }
    const std::uint8_t deviceCode = data[0];
    const std::uint8_t mode = data[1];
    const std::uint32_t raw = static_cast<std::uint32_t>(data[2]) | static_cast<std::uint32_t>(data[3]) << 8 |
                              static_cast<std::uint32_t>(data[4]) << 16 |
                              static_cast<std::uint32_t>(data[5]) << 24;
    const std::span<const std::uint8_t> message(data + kHeaderLength, size - kHeaderLength);
    require(capacity() == reply::kReadBackBufferSize, "the read-back buffer was allocated");
    const std::int32_t offset = chooseOffset(mode, raw);

    checkOneMessage(message, deviceCode, offset);
    checkProcessing(message, deviceCode, offset);
    checkDeviceReadReply(message, mode, deviceCode);
}

}  // namespace velmora::fuzz
