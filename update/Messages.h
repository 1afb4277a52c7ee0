#pragma once
// The messages the host sends, built byte for byte in one shared send buffer, and the send operations.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "midi/MidiDriver.h"

namespace velmora {

namespace midi {
class CMidiOutPort;
}

namespace sysex {

inline constexpr std::uint8_t kStart = 0xF0;
inline constexpr std::uint8_t kEnd = 0xF7;
inline constexpr std::uint8_t kManufacturer = 0x52;  // the device maker's manufacturer byte
inline constexpr std::uint8_t kUniversalNonRealTime = 0x7E;
inline constexpr std::uint8_t kGeneralInformation = 0x06;
inline constexpr std::uint8_t kIdentityRequestSubId = 0x01;
inline constexpr std::uint8_t kIdentityReplySubId = 0x02;

// Byte positions shared by every manufacturer-specific message: F0 52 <channel> <device code> <code> ...
inline constexpr std::size_t kManufacturerPos = 1;
inline constexpr std::size_t kChannelPos = 2;
inline constexpr std::size_t kDeviceCodePos = 3;
inline constexpr std::size_t kCodePos = 4;
// Universal messages: F0 7E <device number> <sub-ID 1> <sub-ID 2> ...
inline constexpr std::size_t kSubId1Pos = 3;
inline constexpr std::size_t kSubId2Pos = 4;
inline constexpr std::size_t kIdentityModelPos = 6;  // model code: the low byte of the family code

// Message codes (byte 4 of a manufacturer-specific message).
inline constexpr std::uint8_t kStatusCode = 0x00;
inline constexpr std::uint8_t kBeginUpdateCode = 0x01;
inline constexpr std::uint8_t kWriteCode = 0x02;  // a WriteRequest from the host, a DoneReply from the device
inline constexpr std::uint8_t kEndUpdateCode = 0x04;
inline constexpr std::uint8_t kEraseCode = 0x0A;
inline constexpr std::uint8_t kReadCode = 0x60;
inline constexpr std::uint8_t kReadSubCode = 0x30;
inline constexpr std::uint8_t kReadReplyMarker = 0x04;  // byte 5 of a ReadReply
// Codes the device sends on its own: acknowledged with status 0, or (0x03) taken without an answer.
inline constexpr std::uint8_t kNoticeCode1 = 0x01;
inline constexpr std::uint8_t kNoticeCode4 = 0x04;
inline constexpr std::uint8_t kNoticeCode5 = 0x05;
inline constexpr std::uint8_t kQuietNoticeCode = 0x03;

inline constexpr std::size_t kStatusPos = 5;

// WriteRequest: F0 52 00 dc 02 | address x5 | length x2 | packed data | checksum x5 | F7
inline constexpr std::size_t kWriteAddressPos = 5;
inline constexpr std::size_t kWriteLengthPos = 10;
inline constexpr std::size_t kWriteDataPos = 12;
inline constexpr std::size_t kWriteOverhead = 18;  // every byte but the packed data
inline constexpr std::uint32_t kMaxWriteLength = 16383;

// EraseRequest: F0 52 00 dc 0A | address x5 | size x5 | F7
inline constexpr std::size_t kEraseAddressPos = 5;
inline constexpr std::size_t kEraseSizePos = 10;
inline constexpr std::size_t kEraseLength = 16;

// ReadRequest: F0 52 00 dc 60 30 | address x5 | count x5 | F7
inline constexpr std::size_t kReadAddressPos = 6;
inline constexpr std::size_t kReadCountPos = 11;
inline constexpr std::size_t kReadRequestLength = 17;

// ReadReply: F0 52 ch dc 60 04 30 xx xx | n x2 | packed data | checksum x5 | F7
inline constexpr std::size_t kReadReplySubCodePos = 6;
inline constexpr std::size_t kReadReplyLengthPos = 9;
inline constexpr std::size_t kReadReplyDataPos = 11;
inline constexpr std::size_t kReadReplyOverhead = 17;  // every byte but the packed data

inline constexpr std::size_t kSendBufferSize = 65536;

}  // namespace sysex

// Everything the host sends goes through here: the identity messages from their own storage, every
// manufacturer-specific message built in the one SendBuffer under the SendLock, held from the first byte
// written until the port has sent the message, so that the worker and reply processing never overwrite each
// other.
class CSysExSender {
  public:
    static constexpr std::uint8_t kInitialDeviceCode = 0x63;

    explicit CSysExSender(midi::CMidiOutPort& port);
    CSysExSender(const CSysExSender&) = delete;
    CSysExSender& operator=(const CSysExSender&) = delete;

    // The model code at byte 3 of every manufacturer-specific message; replies are matched on it.
    std::uint8_t deviceCode() const { return deviceCode_.load(); }
    void setDeviceCode(std::uint8_t code) { deviceCode_.store(code); }
    // Byte 6 of the HostIdentityReply: 0x00 until a device code has been accepted, then the last accepted
    // one.
    std::uint8_t hostIdentityModel() const { return hostIdentityModel_.load(); }
    void setHostIdentityModel(std::uint8_t code) { hostIdentityModel_.store(code); }

    // How a sent message may come back from a link that echoes (a MIDI thru, a merger, a loop cable).
    enum class Echo {
        Distinct,   // no device sends it: hearing it back proves the link echoes
        Ambiguous,  // a device may send the same bytes on its own: dropped if heard back, proves nothing
        AnswerLike  // the same bytes as a device's answer: dropped only once the link is known to echo
    };

    // 0 when the port sent the whole message, -1 when it did not.
    int sendMessage(const std::uint8_t* bytes, std::size_t length, Echo echo = Echo::Ambiguous);

    // True when `message` is byte for byte one sent lately and not yet heard back: the link echoing it. That
    // copy is used up, so an echo is dropped once.
    bool takeEcho(midi::Bytes message);
    // New ports: whether the link echoes is learnt again.
    void forgetSent();

    int sendIdentityRequest();
    int sendHostIdentityReply();
    int sendBeginUpdateRequest();
    int sendEndUpdateRequest();
    int sendAck();
    int sendStatus(std::uint8_t status);
    int sendReadRequest(std::uint32_t address, std::uint32_t count);
    // length is at most 16383 (the length field's limit); longer requests are refused with -1, nothing sent.
    int sendWriteRequest(std::uint8_t deviceCode, const std::uint8_t* data, std::uint32_t address,
                         std::uint32_t length);
    int sendEraseRequest(std::uint8_t deviceCode, std::uint32_t address, std::uint32_t size);

  private:
    // Copies a template into the SendBuffer with `code` at byte 3; the caller holds sendLock_.
    std::uint8_t* build(const std::uint8_t* templ, std::size_t length, std::uint8_t code);

    void remember(const std::uint8_t* bytes, std::size_t length, Echo echo);

    struct Sent {
        std::vector<std::uint8_t> bytes;
        Echo echo = Echo::Ambiguous;
        bool heard = true;  // heard back already, or an empty slot
    };
    static constexpr std::size_t kSentRemembered = 8;

    midi::CMidiOutPort& port_;
    std::mutex sentMutex_;
    std::array<Sent, kSentRemembered> sent_;  // a ring, oldest overwritten
    std::size_t sentNext_ = 0;
    bool linkEchoes_ = false;
    std::atomic<std::uint8_t> deviceCode_{kInitialDeviceCode};
    std::atomic<std::uint8_t> hostIdentityModel_{0x00};
    std::mutex sendLock_;
    std::array<std::uint8_t, sysex::kSendBufferSize> sendBuffer_{};
};

}  // namespace velmora
