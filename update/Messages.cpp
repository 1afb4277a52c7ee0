#include "update/Messages.h"

#include <algorithm>
#include <cstring>

#include "midi/CMidiOutPort.h"
#include "update/Codec.h"

namespace velmora {

using namespace sysex;

namespace {

constexpr std::uint8_t kIdentityRequest[] = {
    kStart, kUniversalNonRealTime, 0x00, kGeneralInformation, kIdentityRequestSubId, kEnd};
// Host identity: manufacturer 52, family code mm 00, model 00 00, software revision "1000".
constexpr std::uint8_t kHostIdentityReplyTemplate[] = {kStart,
                                                       kUniversalNonRealTime,
                                                       0x00,
                                                       kGeneralInformation,
                                                       kIdentityReplySubId,
                                                       kManufacturer,
                                                       0x00,
                                                       0x00,
                                                       0x00,
                                                       0x00,
                                                       '1',
                                                       '0',
                                                       '0',
                                                       '0',
                                                       kEnd};
constexpr std::size_t kHostIdentityReplyLength = sizeof kHostIdentityReplyTemplate;

constexpr std::uint8_t kStatusTemplate[] = {kStart, kManufacturer, 0x00, 0x00, kStatusCode, 0x00, kEnd};
constexpr std::uint8_t kBeginTemplate[] = {kStart, kManufacturer, 0x00, 0x00, kBeginUpdateCode, kEnd};
constexpr std::uint8_t kEndTemplate[] = {kStart, kManufacturer, 0x00, 0x00, kEndUpdateCode, kEnd};
constexpr std::uint8_t kWriteTemplate[] = {kStart, kManufacturer, 0x00, 0x00, kWriteCode};
constexpr std::uint8_t kEraseTemplate[kEraseLength] = {
    kStart, kManufacturer, 0x00, 0x00, kEraseCode, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kEnd};
constexpr std::uint8_t kReadTemplate[kReadRequestLength] = {
    kStart, kManufacturer, 0x00, 0x00, kReadCode, kReadSubCode, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, kEnd};

static_assert(kWriteOverhead + packedLength(kMaxWriteLength) <= kSendBufferSize,
              "the longest WriteRequest must fit the send buffer");

}  // namespace

CSysExSender::CSysExSender(midi::CMidiOutPort& port) : port_(port) {}

int CSysExSender::sendMessage(const std::uint8_t* bytes, std::size_t length, Echo echo) {
    // Remembered before it leaves: an echo can be back before the send returns.
    remember(bytes, length, echo);
    return port_.sendSysEx(bytes, static_cast<std::uint32_t>(length)) ? 0 : -1;
}

void CSysExSender::remember(const std::uint8_t* bytes, std::size_t length, Echo echo) {
    std::lock_guard lock(sentMutex_);
    Sent& slot = sent_[sentNext_];
    sentNext_ = (sentNext_ + 1) % sent_.size();
    slot.bytes.assign(bytes, bytes + length);  // keeps its capacity: no allocation once a block has passed
    slot.echo = echo;
    slot.heard = false;
}

bool CSysExSender::takeEcho(midi::Bytes message) {
    std::lock_guard lock(sentMutex_);
    for (std::size_t i = 0; i < sent_.size(); ++i) {
        Sent& s = sent_[(sentNext_ + i) % sent_.size()];  // oldest first
        if (s.heard || (s.echo == Echo::AnswerLike && !linkEchoes_) || s.bytes.size() != message.size() ||
            !std::equal(s.bytes.begin(), s.bytes.end(), message.begin())) {
            continue;
        }
        s.heard = true;
        linkEchoes_ = linkEchoes_ || s.echo == Echo::Distinct;
        return true;
    }
    return false;
}

void CSysExSender::forgetSent() {
    std::lock_guard lock(sentMutex_);
    for (Sent& s : sent_) {
        s.heard = true;
    }
    linkEchoes_ = false;
}

std::uint8_t* CSysExSender::build(const std::uint8_t* templ, std::size_t length, std::uint8_t code) {
    std::memcpy(sendBuffer_.data(), templ, length);
    sendBuffer_[kDeviceCodePos] = code;
    return sendBuffer_.data();
}

int CSysExSender::sendIdentityRequest() {
    return sendMessage(kIdentityRequest, sizeof kIdentityRequest);
}

int CSysExSender::sendHostIdentityReply() {
    // Own storage per call: the timer thread may answer while the worker sends, without the SendLock.
    std::array<std::uint8_t, kHostIdentityReplyLength> reply{};
    std::memcpy(reply.data(), kHostIdentityReplyTemplate, reply.size());
    reply[kIdentityModelPos] = hostIdentityModel();
    return sendMessage(reply.data(), reply.size(), Echo::Distinct);
}

int CSysExSender::sendBeginUpdateRequest() {
    std::lock_guard lock(sendLock_);
    return sendMessage(build(kBeginTemplate, sizeof kBeginTemplate, deviceCode()), sizeof kBeginTemplate);
}

int CSysExSender::sendEndUpdateRequest() {
    std::lock_guard lock(sendLock_);
    return sendMessage(build(kEndTemplate, sizeof kEndTemplate, deviceCode()), sizeof kEndTemplate);
}

int CSysExSender::sendAck() {
    return sendStatus(0);
}

int CSysExSender::sendStatus(std::uint8_t status) {
    std::lock_guard lock(sendLock_);
    std::uint8_t* m = build(kStatusTemplate, sizeof kStatusTemplate, deviceCode());
    m[kStatusPos] = status;
    return sendMessage(m, sizeof kStatusTemplate, Echo::AnswerLike);
}

int CSysExSender::sendReadRequest(std::uint32_t address, std::uint32_t count) {
    std::lock_guard lock(sendLock_);
    std::uint8_t* m = build(kReadTemplate, kReadRequestLength, deviceCode());
    encode7x5(address, m + kReadAddressPos);
    encode7x5(count, m + kReadCountPos);
    return sendMessage(m, kReadRequestLength, Echo::Distinct);
}

int CSysExSender::sendWriteRequest(std::uint8_t deviceCode, const std::uint8_t* data, std::uint32_t address,
                                   std::uint32_t length) {
    if (length > kMaxWriteLength) {
        return -1;  // the two-byte length field cannot say it; a truncated field would corrupt the flash
    }
    std::lock_guard lock(sendLock_);
    std::uint8_t* m = build(kWriteTemplate, sizeof kWriteTemplate, deviceCode);
    encode7x5(address, m + kWriteAddressPos);
    encodeLength14(length, m + kWriteLengthPos);
    const std::size_t packed = pack7(m + kWriteDataPos, data, length);
    encode7x5(checksum32(data, length), m + kWriteDataPos + packed);
    m[kWriteDataPos + packed + 5] = kEnd;
    return sendMessage(m, packed + kWriteOverhead, Echo::Distinct);
}

int CSysExSender::sendEraseRequest(std::uint8_t deviceCode, std::uint32_t address, std::uint32_t size) {
    std::lock_guard lock(sendLock_);
    std::uint8_t* m = build(kEraseTemplate, kEraseLength, deviceCode);
    encode7x5(address, m + kEraseAddressPos);
    encode7x5(size, m + kEraseSizePos);
    return sendMessage(m, kEraseLength, Echo::Distinct);
}

}  // namespace velmora
