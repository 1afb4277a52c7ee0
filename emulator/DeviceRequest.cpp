#include "emulator/DeviceRequest.h"

#include <algorithm>

#include "update/Codec.h"
#include "update/FlashPlan.h"
#include "update/Messages.h"

namespace velmora::emulator {

using namespace sysex;

namespace {

constexpr std::uint8_t kAllCall = 0x7F;
constexpr std::uint8_t kOwnDeviceNumber = 0x00;
constexpr std::uint32_t kMaxReadCount = 16383;  // what a ReadReply's two-byte length can say

// Each kind as the transcript and the tests name it.
struct KindName {
    RequestKind kind;
    std::string_view name;
};
constexpr KindName kKindNames[] = {
    {RequestKind::Ignored, "ignored"},          {RequestKind::HostAnswer, "host answer"},
    {RequestKind::Refused, "refused"},          {RequestKind::Identity, "Identity Request"},
    {RequestKind::Begin, "BeginUpdateRequest"}, {RequestKind::End, "EndUpdateRequest"},
    {RequestKind::Erase, "EraseRequest"},       {RequestKind::Write, "WriteRequest"},
    {RequestKind::Read, "ReadRequest"},
};

DeviceRequest made(RequestKind kind, std::uint8_t code = 0, std::uint32_t address = 0,
                   std::uint32_t size = 0) {
    DeviceRequest r;
    r.kind = kind;
    r.code = code;
    r.address = address;
    r.size = size;
    return r;
}

DeviceRequest ignored(std::string_view why, std::uint8_t code = 0) {
    DeviceRequest r = made(RequestKind::Ignored, code);
    r.why = why;
    return r;
}

DeviceRequest refused(std::uint8_t code, std::string_view why) {
    DeviceRequest r = made(RequestKind::Refused, code);
    r.why = why;
    return r;
}

// The five-byte encoding carries four bits in its last byte; a larger one is a corrupted field.
bool valid7x5(const std::uint8_t* field) {
    return field[4] <= 0x0F;
}

bool insideFlash(std::uint32_t address, std::uint32_t size) {
    return static_cast<std::uint64_t>(address) + size <= kFlashSize;
}

DeviceRequest parseWrite(ByteSpan m) {
    if (m.size() < kWriteOverhead) {
        return refused(kWriteCode, "WriteRequest shorter than its fixed fields");
    }
    const std::uint32_t n = decodeLength14(&m[kWriteLengthPos]);
    const std::size_t packed = packedLength(n);
    if (m.size() != packed + kWriteOverhead) {
        return refused(kWriteCode, "WriteRequest length field does not match the message size");
    }
    if (!valid7x5(&m[kWriteAddressPos])) {
        return refused(kWriteCode, "WriteRequest address field out of range");
    }
    const std::uint32_t address = decode7x5(&m[kWriteAddressPos]);
    if (!insideFlash(address, n)) {
        return refused(kWriteCode, "WriteRequest beyond the end of flash");
    }
    DeviceRequest r = made(RequestKind::Write, kWriteCode, address, n);
    r.data.resize(n);
    unpack7(r.data.data(), &m[kWriteDataPos], packed);
    // Compared in its encoded form, so that stray bits the decoder would mask off count as damage too.
    std::uint8_t expected[5];
    encode7x5(checksum32(r.data.data(), r.data.size()), expected);
    r.checksumOk = std::equal(expected, expected + 5, &m[kWriteDataPos + packed]);
    return r;
}

DeviceRequest parseErase(ByteSpan m) {
    if (m.size() != kEraseLength) {
        return refused(kEraseCode, "EraseRequest of the wrong length");
    }
    if (!valid7x5(&m[kEraseAddressPos]) || !valid7x5(&m[kEraseSizePos])) {
        return refused(kEraseCode, "EraseRequest field out of range");
    }
    const std::uint32_t address = decode7x5(&m[kEraseAddressPos]);
    const std::uint32_t size = decode7x5(&m[kEraseSizePos]);
    if (size == 0 || address % kSectorSize != 0 || size % kSectorSize != 0) {
        return refused(kEraseCode, "EraseRequest not in whole 4 KiB sectors");
    }
    if (!insideFlash(address, size)) {
        return refused(kEraseCode, "EraseRequest beyond the end of flash");
    }
    return made(RequestKind::Erase, kEraseCode, address, size);
}

DeviceRequest parseRead(ByteSpan m) {
    if (m.size() != kReadRequestLength) {
        return refused(kReadCode, "ReadRequest of the wrong length");
    }
    if (m[kCodePos + 1] != kReadSubCode) {
        return refused(kReadCode, "ReadRequest with an unknown sub-code");
    }
    if (!valid7x5(&m[kReadAddressPos]) || !valid7x5(&m[kReadCountPos])) {
        return refused(kReadCode, "ReadRequest field out of range");
    }
    const std::uint32_t address = decode7x5(&m[kReadAddressPos]);
    const std::uint32_t count = decode7x5(&m[kReadCountPos]);
    if (count > kMaxReadCount) {
        return refused(kReadCode, "ReadRequest for more than one ReadReply can carry");
    }
    if (!insideFlash(address, count)) {
        return refused(kReadCode, "ReadRequest beyond the end of flash");
    }
    return made(RequestKind::Read, kReadCode, address, count);
}

DeviceRequest parseUniversal(ByteSpan m) {
    if (m.size() < 6 || m[kSubId1Pos] != kGeneralInformation) {
        return ignored("universal message other than General Information");
    }
    if (m[kSubId2Pos] == kIdentityReplySubId) {
        return made(RequestKind::HostAnswer);
    }
    if (m[kSubId2Pos] != kIdentityRequestSubId || m.size() != kIdentityRequestLength) {
        return ignored("General Information message the device does not serve");
    }
    if (m[kChannelPos] != kOwnDeviceNumber && m[kChannelPos] != kAllCall) {
        return ignored("Identity Request for another device number");
    }
    return made(RequestKind::Identity);
}

}  // namespace

DeviceRequest parseRequest(ByteSpan m, std::uint8_t model) {
    if (m.size() < 2 || m.front() != kStart || m.back() != kEnd ||
        std::any_of(m.begin() + 1, m.end() - 1, [](std::uint8_t b) { return b >= 0x80; })) {
        return ignored("not one whole SysEx message");
    }
    if (m[kManufacturerPos] == kUniversalNonRealTime) {
        return parseUniversal(m);
    }
    if (m[kManufacturerPos] != kManufacturer) {
        return ignored("another maker's message");
    }
    if (m.size() <= kCodePos + 1) {
        return ignored("manufacturer message too short to carry a code");
    }
    if (m[kDeviceCodePos] != model) {
        return ignored("message for another model code");
    }
    const std::uint8_t code = m[kCodePos];
    switch (code) {
        case kStatusCode:
            return made(RequestKind::HostAnswer, code);
        case kBeginUpdateCode:
        case kEndUpdateCode: {
            if (m.size() != kBeginEndLength) {
                return refused(code, code == kBeginUpdateCode ? "BeginUpdateRequest of the wrong length"
                                                              : "EndUpdateRequest of the wrong length");
            }
            return made(code == kBeginUpdateCode ? RequestKind::Begin : RequestKind::End, code);
        }
        case kWriteCode:
            return parseWrite(m);
        case kEraseCode:
            return parseErase(m);
        case kReadCode:
            return parseRead(m);
        default:
            return ignored("a code the device does not serve", code);
    }
}

std::vector<std::uint8_t> statusAnswer(std::uint8_t model, std::uint8_t status) {
    return {kStart, kManufacturer, 0x00, model, kStatusCode, static_cast<std::uint8_t>(status & 0x7F), kEnd};
}

std::vector<std::uint8_t> doneAnswer(std::uint8_t model) {
    return {kStart, kManufacturer, 0x00, model, kWriteCode, kEnd};
}

std::vector<std::uint8_t> identityAnswer(std::uint8_t model, std::array<std::uint8_t, 4> version) {
    std::vector<std::uint8_t> out = {kStart,
                                     kUniversalNonRealTime,
                                     kOwnDeviceNumber,
                                     kGeneralInformation,
                                     kIdentityReplySubId,
                                     kManufacturer,
                                     model,
                                     0x00,
                                     0x00,
                                     0x00};
    for (const std::uint8_t v : version) {
        out.push_back(v & 0x7F);
    }
    out.push_back(kEnd);
    return out;
}

std::vector<std::uint8_t> readAnswer(std::uint8_t model, ByteSpan data, bool wrongChecksum) {
    const std::size_t n = std::min<std::size_t>(data.size(), kMaxReadCount);
    std::vector<std::uint8_t> out(kReadReplyOverhead + packedLength(n));
    const std::uint8_t head[] = {kStart,           kManufacturer, 0x00, model, kReadCode,
                                 kReadReplyMarker, kReadSubCode,  0x00, 0x00};
    std::copy(std::begin(head), std::end(head), out.begin());
    encodeLength14(static_cast<std::uint32_t>(n), &out[kReadReplyLengthPos]);
    const std::size_t packed = pack7(&out[kReadReplyDataPos], data.data(), n);
    std::uint32_t crc = checksum32(data.data(), n);
    if (wrongChecksum) {
        crc ^= 1u;
    }
    encode7x5(crc, &out[kReadReplyDataPos + packed]);
    out.back() = kEnd;
    return out;
}

std::string_view requestKindName(RequestKind kind) {
    const auto row = std::find_if(std::begin(kKindNames), std::end(kKindNames),
                                  [kind](const KindName& k) { return k.kind == kind; });
    return row == std::end(kKindNames) ? "?" : row->name;
}

}  // namespace velmora::emulator
