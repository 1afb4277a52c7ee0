#pragma once
// What the emulated device makes of one message from the host, and the answers it builds. Pure functions over
// byte spans: every byte from the port is untrusted, so nothing here reads past the message's end, and the
// parser can be fed arbitrary bytes directly (fuzzing).
//
// Triage, in this order:
//  - not one whole SysEx (F0 ... F7 with 7-bit bytes between), another maker's message, a manufacturer
//    message for another model code (byte 3), a code the device does not serve, a universal message other
//    than an Identity Request for device number 0x00 or 0x7F: Ignored, no answer. Answering what it does not
//    understand would hand the host a status it would take for the answer to its pending request.
//  - the host's own StatusMessage (its acknowledgements and rejections of device messages) and its identity
//    reply: HostAnswer, consumed without an answer.
//  - a request the device serves (Begin, End, Erase, Write, Read) whose length, fields or range it cannot
//    accept: Refused, answered with status 1, the way a device turns down a request so that the host sends
//    it again rather than waiting out its time-out. Erases must cover whole 4 KiB sectors inside the flash;
//    writes and reads must lie inside the flash; a ReadRequest may ask for at most 16383 bytes, the most a
//    ReadReply's length field can carry.
//  - everything else: the request, with its fields. A WriteRequest's data is unpacked and its checksum
//    compared here; acting on a wrong checksum is the device's business.
// The channel byte (byte 2) of a manufacturer message is not examined.

#include <array>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace velmora::emulator {

using ByteSpan = std::span<const std::uint8_t>;

inline constexpr std::uint32_t kSectorSize = 0x1000;  // the smallest erasable unit of the flash
// F0 7E <device> 06 01 F7, and F0 52 00 <model> <code> F7 for Begin and End.
inline constexpr std::size_t kIdentityRequestLength = 6;
inline constexpr std::size_t kBeginEndLength = 6;

enum class RequestKind { Ignored, HostAnswer, Refused, Identity, Begin, End, Erase, Write, Read };

struct DeviceRequest {
    RequestKind kind = RequestKind::Ignored;
    std::string_view why;            // Ignored, Refused: the reason (static text)
    std::uint8_t code = 0;           // manufacturer messages: byte 4
    std::uint32_t address = 0;       // Erase, Write, Read
    std::uint32_t size = 0;          // Erase, Read: bytes; Write: data bytes
    std::vector<std::uint8_t> data;  // Write: the unpacked data
    bool checksumOk = false;         // Write: the checksum field matches the unpacked data
};

DeviceRequest parseRequest(ByteSpan message, std::uint8_t model);

// Answers, byte for byte as the device sends them.
std::vector<std::uint8_t> statusAnswer(std::uint8_t model, std::uint8_t status);
std::vector<std::uint8_t> doneAnswer(std::uint8_t model);
// F0 7E 00 06 02 52 <model> 00 <model number x2> <version x4> F7; bytes of `version` above 0x7F are cut
// to 7 bits.
std::vector<std::uint8_t> identityAnswer(std::uint8_t model, std::array<std::uint8_t, 4> version);
// F0 52 00 <model> 60 04 30 00 00 | n x2 | packed data | checksum x5 | F7 for at most 16383 bytes; with
// `wrongChecksum` the checksum field is off by one bit.
std::vector<std::uint8_t> readAnswer(std::uint8_t model, ByteSpan data, bool wrongChecksum);

std::string_view requestKindName(RequestKind kind);

}  // namespace velmora::emulator
