// fuzz_device_request: the emulated device's triage of messages from the host. Whatever the bytes, the
// result must agree with the message layouts: nothing served from a broken or foreign message, fields as the
// reference decodes them, erases in whole sectors and everything inside the flash. Requests the host's own
// sender builds from the input must come out as the same request.

#include <algorithm>

#include "emulator/DeviceRequest.h"
#include "fuzz/Support.h"
#include "midi/CMidiOutPort.h"
#include "update/Codec.h"
#include "update/FlashPlan.h"
#include "update/Messages.h"

namespace velmora::fuzz {

namespace {

using emulator::DeviceRequest;
using emulator::RequestKind;

constexpr std::uint32_t kSector = 0x1000;
constexpr std::uint32_t kMaxCount = 16383;

bool insideFlash(std::uint64_t address, std::uint64_t size) {
    return address + size <= kFlashSize;
}

bool wholeSysEx(std::span<const std::uint8_t> m) {
    return m.size() >= 2 && m.front() == sysex::kStart && m.back() == sysex::kEnd &&
           std::all_of(m.begin() + 1, m.end() - 1, [](std::uint8_t b) { return b < 0x80; });
}

// An erase's or a read's address and size: five bytes each, with no stray bits, decoded as the reference
// does.
void checkAddressAndSize(std::span<const std::uint8_t> m, const DeviceRequest& r, std::size_t addressPos,
                         std::size_t sizePos) {
    require(m[addressPos + 4] <= 0x0F && m[sizePos + 4] <= 0x0F,
            "an erase's or a read's fields carry no stray bits");
    require(r.address == reference::decode7x5(&m[addressPos]) && r.size == reference::decode7x5(&m[sizePos]),
            "an erase's or a read's fields are decoded");
}

void checkServed(std::span<const std::uint8_t> m, std::uint8_t model, const DeviceRequest& r) {
    require(m[sysex::kManufacturerPos] == sysex::kManufacturer && m[sysex::kDeviceCodePos] == model,
            "only the maker's messages for this model are served");
    require(r.code == m[sysex::kCodePos], "the request carries the message's code");
    switch (r.kind) {
        case RequestKind::Begin:
        case RequestKind::End:
            require(m.size() == 6 &&
                        m[sysex::kCodePos] ==
                            (r.kind == RequestKind::Begin ? sysex::kBeginUpdateCode : sysex::kEndUpdateCode),
                    "Begin and End are six bytes with their code");
            break;
        case RequestKind::Erase: {
            require(m.size() == sysex::kEraseLength && r.code == sysex::kEraseCode,
                    "an erase has its length");
            checkAddressAndSize(m, r, sysex::kEraseAddressPos, sysex::kEraseSizePos);
            require(r.size > 0 && r.address % kSector == 0 && r.size % kSector == 0,
                    "an erase covers whole sectors");
            require(insideFlash(r.address, r.size), "an erase lies inside the flash");
            break;
        }
        case RequestKind::Read:
            require(m.size() == sysex::kReadRequestLength && r.code == sysex::kReadCode &&
                        m[sysex::kCodePos + 1] == sysex::kReadSubCode,
                    "a read has its length and sub-code");
            checkAddressAndSize(m, r, sysex::kReadAddressPos, sysex::kReadCountPos);
            require(r.size <= kMaxCount && insideFlash(r.address, r.size),
                    "a read fits one ReadReply and lies inside the flash");
            break;
        case RequestKind::Write: {
            require(m.size() >= sysex::kWriteOverhead && r.code == sysex::kWriteCode,
                    "a write has its fields");
            const std::uint32_t n = reference::decodeLength14(&m[sysex::kWriteLengthPos]);
            const std::size_t packed = packedLength(n);
            require(m.size() == sysex::kWriteOverhead + packed,
                    "a write is as long as its length field says");
            require(m[sysex::kWriteAddressPos + 4] <= 0x0F, "a write's address carries no stray bits");
            require(r.address == reference::decode7x5(&m[sysex::kWriteAddressPos]) && r.size == n,
                    "a write's fields are decoded");
            require(insideFlash(r.address, r.size), "a write lies inside the flash");
            require(r.data == reference::unpack7(m.subspan(sysex::kWriteDataPos, packed)),
                    "a write's data is unpacked");
            const std::uint8_t* field = &m[sysex::kWriteDataPos + packed];
            const std::uint32_t crc = reference::checksum32(r.data);
            const bool exact = reference::decode7x5(field) == crc && field[4] <= 0x0F;
            require(r.checksumOk == exact, "a write's checksum is judged on the field as sent");
            break;
        }
        default:
            break;
    }
}

void checkTriage(std::span<const std::uint8_t> message, std::uint8_t model) {
    const ExactCopy copy(message);
    const DeviceRequest r = emulator::parseRequest(copy.span(), model);
    const std::span<const std::uint8_t> m = message;
    if (r.kind == RequestKind::Ignored || r.kind == RequestKind::Refused) {
        require(!r.why.empty(), "an ignored or refused message has a reason");
    }
    if (!wholeSysEx(m)) {
        require(r.kind == RequestKind::Ignored, "anything but one whole SysEx is ignored");
        return;
    }
    switch (r.kind) {
        case RequestKind::Ignored:
            break;
        case RequestKind::Identity:
            require(m.size() == 6 && m[sysex::kManufacturerPos] == sysex::kUniversalNonRealTime &&
                        (m[sysex::kChannelPos] == 0x00 || m[sysex::kChannelPos] == 0x7F) &&
                        m[sysex::kSubId1Pos] == sysex::kGeneralInformation &&
                        m[sysex::kSubId2Pos] == sysex::kIdentityRequestSubId,
                    "only an Identity Request for device 0 or all is served as one");
            break;
        case RequestKind::HostAnswer:
            if (m[sysex::kManufacturerPos] == sysex::kManufacturer) {
                require(m.size() > sysex::kCodePos + 1 && m[sysex::kDeviceCodePos] == model &&
                            m[sysex::kCodePos] == sysex::kStatusCode,
                        "a host answer from the maker is a StatusMessage for this model");
            } else {
                require(m[sysex::kManufacturerPos] == sysex::kUniversalNonRealTime &&
                            m.size() > sysex::kSubId2Pos &&
                            m[sysex::kSubId1Pos] == sysex::kGeneralInformation &&
                            m[sysex::kSubId2Pos] == sysex::kIdentityReplySubId,
                        "a universal host answer is the host's IdentityReply");
            }
            break;
        case RequestKind::Refused:
            require(m.size() > sysex::kCodePos + 1 && m[sysex::kManufacturerPos] == sysex::kManufacturer &&
                        m[sysex::kDeviceCodePos] == model && r.code == m[sysex::kCodePos],
                    "only the maker's messages for this model are refused, with their code");
            break;
        default:
            checkServed(m, model, r);
            break;
    }
}

// The host's sender on direct ports, for building requests the way the updater does.
struct Host {
    Host() { require(out.open(0), "the direct output opens"); }
    DirectDriver driver;
    midi::CMidiOutPort out{driver};
    CSysExSender sender{out};
};

Host& host() {
    static Host instance;
    return instance;
}

DeviceRequest parseSent(std::uint8_t model) {
    std::vector<Vec> sent = host().driver.takeSent();
    require(sent.size() == 1, "the sender sent one message");
    const ExactCopy copy(sent.front());
    return emulator::parseRequest(copy.span(), model);
}

// A write, an erase and a read built by the host from the input's bytes, all inside the flash.
void checkHostRequests(std::span<const std::uint8_t> bytes, std::uint8_t model) {
    Host& h = host();
    h.sender.setDeviceCode(model);
    std::uint32_t raw = 0;
    for (std::size_t i = 0; i < std::min<std::size_t>(4, bytes.size()); ++i) {
        raw |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    }
    const std::span<const std::uint8_t> data = bytes.first(std::min<std::size_t>(bytes.size(), kMaxCount));
    const auto n = static_cast<std::uint32_t>(data.size());

    const std::uint32_t writeAddress = raw % (kFlashSize - n + 1);
    require(h.sender.sendWriteRequest(model, data.data(), writeAddress, n) == 0, "the write was sent");
    const DeviceRequest write = parseSent(model);
    require(write.kind == RequestKind::Write && write.address == writeAddress && write.checksumOk &&
                std::equal(data.begin(), data.end(), write.data.begin(), write.data.end()),
            "the device reads the host's write as sent");

    const std::uint32_t eraseAddress = (raw % (kFlashSize / kSector)) * kSector;
    const std::uint32_t eraseSize = ((raw >> 16) % ((kFlashSize - eraseAddress) / kSector) + 1) * kSector;
    require(h.sender.sendEraseRequest(model, eraseAddress, eraseSize) == 0, "the erase was sent");
    const DeviceRequest erase = parseSent(model);
    require(erase.kind == RequestKind::Erase && erase.address == eraseAddress && erase.size == eraseSize,
            "the device reads the host's erase as sent");

    const std::uint32_t readCount = raw % (kMaxCount + 1);
    const std::uint32_t readAddress = (raw >> 8) % (kFlashSize - readCount + 1);
    require(h.sender.sendReadRequest(readAddress, readCount) == 0, "the read was sent");
    const DeviceRequest read = parseSent(model);
    require(read.kind == RequestKind::Read && read.address == readAddress && read.size == readCount,
            "the device reads the host's read as sent");
}

}  // namespace

void fuzzDeviceRequest(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    const std::uint8_t model = data[0];
    const std::span<const std::uint8_t> message(data + 1, size - 1);
    checkTriage(message, model);
    checkHostRequests(message, model & 0x7F);
}

}  // namespace velmora::fuzz
