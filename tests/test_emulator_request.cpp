// The emulated device's pure parts: how it triages a message from the host, the answers it builds, and the
// verdict on its flash after an update.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "emulator/DeviceRequest.h"
#include "emulator/FlashVerdict.h"
#include "update/Codec.h"
#include "update/FlashPlan.h"

namespace velmora::emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Built here byte by byte from the message layouts rather than with the host's sender, so that a fault
// shared by sender and device would not cancel out.
Bytes writeRequest(std::uint8_t model, std::uint32_t address, const Bytes& data) {
    Bytes m = {0xF0, 0x52, 0x00, model, 0x02};
    m.resize(12 + packedLength(data.size()) + 6);
    encode7x5(address, &m[5]);
    encodeLength14(static_cast<std::uint32_t>(data.size()), &m[10]);
    const std::size_t packed = pack7(&m[12], data.data(), data.size());
    encode7x5(checksum32(data.data(), data.size()), &m[12 + packed]);
    m.back() = 0xF7;
    return m;
}

Bytes eraseRequest(std::uint8_t model, std::uint32_t address, std::uint32_t size) {
    Bytes m = {0xF0, 0x52, 0x00, model, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF7};
    encode7x5(address, &m[5]);
    encode7x5(size, &m[10]);
    return m;
}

Bytes readRequest(std::uint8_t model, std::uint32_t address, std::uint32_t count) {
    Bytes m = {0xF0, 0x52, 0x00, model, 0x60, 0x30, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF7};
    encode7x5(address, &m[6]);
    encode7x5(count, &m[11]);
    return m;
}

Bytes withByte(Bytes m, std::size_t at, std::uint8_t value) {
    m[at] = value;
    return m;
}

const Bytes kData = {0x00, 0x80, 0xFF, 0x7F, 0x12, 0xA5, 0x5A, 0xC3, 0x3C};  // both top-bit states

struct Triage {
    const char* what;
    Bytes message;
    RequestKind kind;
    const char* why = "";  // a fragment of the reason for Ignored and Refused
};

const Triage kTriage[] = {
    {"identity request for device 0", {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}, RequestKind::Identity},
    {"identity request all-call", {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, RequestKind::Identity},
    {"identity request for device 5",
     {0xF0, 0x7E, 0x05, 0x06, 0x01, 0xF7},
     RequestKind::Ignored,
     "another device number"},
    {"identity request with a byte too many",
     {0xF0, 0x7E, 0x00, 0x06, 0x01, 0x00, 0xF7},
     RequestKind::Ignored},
    {"universal message not General Information", {0xF0, 0x7E, 0x00, 0x09, 0x01, 0xF7}, RequestKind::Ignored},
    {"host identity reply",
     {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x63, 0, 0, 0, '1', '0', '0', '0', 0xF7},
     RequestKind::HostAnswer},
    {"host acknowledgement", {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7}, RequestKind::HostAnswer},
    {"host rejection", {0xF0, 0x52, 0x00, 0x63, 0x00, 0x01, 0xF7}, RequestKind::HostAnswer},
    {"begin", {0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7}, RequestKind::Begin},
    {"begin on another channel byte", {0xF0, 0x52, 0x05, 0x63, 0x01, 0xF7}, RequestKind::Begin},
    {"end", {0xF0, 0x52, 0x00, 0x63, 0x04, 0xF7}, RequestKind::End},
    {"begin with a byte too many",
     {0xF0, 0x52, 0x00, 0x63, 0x01, 0x00, 0xF7},
     RequestKind::Refused,
     "wrong length"},
    {"begin for another model", {0xF0, 0x52, 0x00, 0x62, 0x01, 0xF7}, RequestKind::Ignored, "another model"},
    {"another maker", {0xF0, 0x43, 0x00, 0x63, 0x01, 0xF7}, RequestKind::Ignored, "another maker"},
    {"code the device does not serve", {0xF0, 0x52, 0x00, 0x63, 0x07, 0xF7}, RequestKind::Ignored},
    {"manufacturer message without a code", {0xF0, 0x52, 0x00, 0x63, 0xF7}, RequestKind::Ignored},
    {"no end byte", {0xF0, 0x52, 0x00, 0x63, 0x01}, RequestKind::Ignored, "whole SysEx"},
    {"no start byte", {0x52, 0x00, 0x63, 0x01, 0xF7}, RequestKind::Ignored, "whole SysEx"},
    {"status byte inside", {0xF0, 0x52, 0x00, 0x63, 0x90, 0x01, 0xF7}, RequestKind::Ignored, "whole SysEx"},
    {"lone start byte", {0xF0}, RequestKind::Ignored},
    {"nothing", {}, RequestKind::Ignored},
    {"erase", eraseRequest(0x63, 0x3FC000, 0x4000), RequestKind::Erase},
    {"erase of the last sector", eraseRequest(0x63, 0x3FF000, 0x1000), RequestKind::Erase},
    {"erase not on a sector boundary", eraseRequest(0x63, 0x3FC800, 0x1000), RequestKind::Refused, "sectors"},
    {"erase of part of a sector", eraseRequest(0x63, 0x3FC000, 0x0800), RequestKind::Refused, "sectors"},
    {"erase of nothing", eraseRequest(0x63, 0x3FC000, 0), RequestKind::Refused, "sectors"},
    {"erase past the end", eraseRequest(0x63, 0x3FF000, 0x2000), RequestKind::Refused, "end of flash"},
    {"erase whose size wraps 32 bits", eraseRequest(0x63, 0x1000, 0xFFFFF000), RequestKind::Refused,
     "end of flash"},
    {"erase with a corrupt size field", withByte(eraseRequest(0x63, 0, 0x1000), 14, 0x10),
     RequestKind::Refused, "out of range"},
    {"erase one byte short",
     {0xF0, 0x52, 0x00, 0x63, 0x0A, 0, 0, 0, 0, 0, 0, 0x20, 0, 0, 0xF7},
     RequestKind::Refused,
     "wrong length"},
    {"write", writeRequest(0x63, 0x1000, kData), RequestKind::Write},
    {"write of nothing", writeRequest(0x63, 0x1000, {}), RequestKind::Write},
    {"write ending at the last byte", writeRequest(0x63, 0x400000 - 9, kData), RequestKind::Write},
    {"write one byte past the end", writeRequest(0x63, 0x400000 - 8, kData), RequestKind::Refused,
     "end of flash"},
    {"write whose length field says one more", withByte(writeRequest(0x63, 0, kData), 10, 10),
     RequestKind::Refused, "length field"},
    {"write whose length field says one less", withByte(writeRequest(0x63, 0, kData), 10, 8),
     RequestKind::Refused, "length field"},
    {"write shorter than its fixed fields",
     {0xF0, 0x52, 0x00, 0x63, 0x02, 0, 0, 0, 0, 0, 0, 0, 0xF7},
     RequestKind::Refused,
     "shorter"},
    {"read", readRequest(0x63, 0x22FFC, 4), RequestKind::Read},
    {"read of the most a reply can carry", readRequest(0x63, 0, 16383), RequestKind::Read},
    {"read of more than a reply can carry", readRequest(0x63, 0, 16384), RequestKind::Refused,
     "more than one ReadReply"},
    {"read past the end", readRequest(0x63, 0x3FFFFE, 4), RequestKind::Refused, "end of flash"},
    {"read with another sub-code", withByte(readRequest(0x63, 0, 4), 5, 0x31), RequestKind::Refused,
     "sub-code"},
};

TEST(EmulatorRequest, TriageOfEachKindOfMessage) {
    for (const Triage& row : kTriage) {
        SCOPED_TRACE(row.what);
        const DeviceRequest r = parseRequest(row.message, 0x63);
        EXPECT_EQ(requestKindName(r.kind), requestKindName(row.kind));
        EXPECT_NE(std::string(r.why).find(row.why), std::string::npos) << "reason: " << r.why;
    }
}

TEST(EmulatorRequest, FieldsOfServedRequestsAreDecoded) {
    const DeviceRequest erase = parseRequest(eraseRequest(0x63, 0x23000, 0x397000), 0x63);
    EXPECT_EQ(erase.address, 0x23000u);
    EXPECT_EQ(erase.size, 0x397000u);

    const DeviceRequest read = parseRequest(readRequest(0x62, 0x22FFC, 4), 0x62);
    EXPECT_EQ(read.kind, RequestKind::Read);
    EXPECT_EQ(read.address, 0x22FFCu);
    EXPECT_EQ(read.size, 4u);

    const DeviceRequest write = parseRequest(writeRequest(0x63, 0x93000, kData), 0x63);
    EXPECT_EQ(write.address, 0x93000u);
    EXPECT_EQ(write.size, kData.size());
    EXPECT_EQ(write.data, kData);
    EXPECT_TRUE(write.checksumOk);
}

TEST(EmulatorRequest, WriteWithDamagedDataOrChecksumIsFlaggedNotAccepted) {
    const Bytes good = writeRequest(0x63, 0x1000, kData);
    const std::size_t checksumAt = good.size() - 6;
    const struct {
        const char* what;
        Bytes message;
    } rows[] = {
        {"one data bit flipped", withByte(good, 13, static_cast<std::uint8_t>(good[13] ^ 0x01))},
        {"a top bit lost from a header byte", withByte(good, 12, static_cast<std::uint8_t>(good[12] ^ 0x20))},
        {"checksum one off", withByte(good, checksumAt, static_cast<std::uint8_t>(good[checksumAt] ^ 0x01))},
        // decode7x5 would mask this bit off; a device must not let damage through that way
        {"stray high bits in the checksum's last byte",
         withByte(good, checksumAt + 4, static_cast<std::uint8_t>(good[checksumAt + 4] | 0x70))},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const DeviceRequest r = parseRequest(row.message, 0x63);
        EXPECT_EQ(r.kind, RequestKind::Write);
        EXPECT_FALSE(r.checksumOk);
    }
}

// Every prefix of a real block, closed with F7 or not, is handed to the parser as if a port had delivered
// it; under AddressSanitizer any read past the end fails the test. Only the whole message may parse as a
// write.
TEST(EmulatorRequest, TruncatedMessagesAreNeverReadPastTheirEndNorTakenForWrites) {
    Bytes block(4096);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 131u + 7u);
    }
    const Bytes whole = writeRequest(0x63, 0x5000, block);
    for (std::size_t n = 0; n < whole.size(); ++n) {
        const Bytes cut(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(n));
        EXPECT_NE(parseRequest(cut, 0x63).kind, RequestKind::Write) << "prefix of " << n;
        Bytes closed = cut;
        closed.push_back(0xF7);
        if (n + 1 != whole.size()) {
            EXPECT_NE(parseRequest(closed, 0x63).kind, RequestKind::Write) << "prefix of " << n << " + F7";
        }
    }
}

TEST(EmulatorAnswer, ReadReplyMatchesTheWorkedExampleByteForByte) {
    const Bytes text = {'1', '.', '0', '0'};
    EXPECT_EQ(readAnswer(0x63, text, false),
              (Bytes{0xF0, 0x52, 0x00, 0x63, 0x60, 0x04, 0x30, 0x00, 0x00, 0x04, 0x00,
                     0x00, 0x31, 0x2E, 0x30, 0x30, 0x12, 0x25, 0x03, 0x6B, 0x05, 0xF7}));
}

TEST(EmulatorAnswer, BadReadChangesOnlyTheChecksum) {
    const Bytes data = {0xFF, 0x00, 0x80, 0x7F, 0x01, 0xFE};
    const Bytes good = readAnswer(0x62, data, false);
    const Bytes bad = readAnswer(0x62, data, true);
    ASSERT_EQ(good.size(), bad.size());
    const std::size_t crcAt = good.size() - 6;
    EXPECT_TRUE(std::equal(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(crcAt), bad.begin()));
    EXPECT_EQ(decode7x5(&good[crcAt]), checksum32(data.data(), data.size()));
    EXPECT_NE(decode7x5(&bad[crcAt]), checksum32(data.data(), data.size()));
}

TEST(EmulatorAnswer, StatusDoneAndIdentityLayouts) {
    EXPECT_EQ(statusAnswer(0x62, 11), (Bytes{0xF0, 0x52, 0x00, 0x62, 0x00, 0x0B, 0xF7}));
    EXPECT_EQ(doneAnswer(0x63), (Bytes{0xF0, 0x52, 0x00, 0x63, 0x02, 0xF7}));
    // A blank flash's 0xFF version bytes must not become status bytes that would end the SysEx.
    EXPECT_EQ(
        identityAnswer(0x62, {0xFF, '.', '9', '9'}),
        (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x62, 0x00, 0x00, 0x00, 0x7F, 0x2E, 0x39, 0x39, 0xF7}));
}

// ---- the verdict ----

// Small images so the test states the plan's layout independently: each image at its address, the rest of
// what the plan erases blank.
class VerdictTest : public ::testing::Test {
  protected:
    VerdictTest() {
        const std::map<std::uint32_t, std::uint32_t> sizes = {
            {129, 700}, {133, 0x4000}, {136, 3000}, {139, 0x1000}, {142, 0x23000}};
        for (const auto& [id, size] : sizes) {
            Bytes& image = images[id];
            image.resize(size);
            for (std::uint32_t i = 0; i < size; ++i) {
                image[i] = static_cast<std::uint8_t>((i * 7u + id) ^ (i >> 8));
            }
        }
        std::copy_n("1.00", 4, images[142].end() - 4);
    }

    ImageSource source() {
        return [this](std::uint32_t id) -> std::span<const std::uint8_t> {
            const auto it = images.find(id);
            return it == images.end() ? std::span<const std::uint8_t>{}
                                      : std::span<const std::uint8_t>(it->second);
        };
    }

    // The flash after a correct update, laid out by hand from the plan's table.
    Bytes updated(const Bytes& initial, bool bootWritten) {
        Bytes f = initial;
        auto erase = [&](std::uint32_t a, std::uint32_t n) { std::fill_n(f.begin() + a, n, 0xFF); };
        auto put = [&](std::uint32_t a, std::uint32_t id) {
            std::copy(images[id].begin(), images[id].end(), f.begin() + a);
        };
        erase(0x3FC000, 0x4000);
        erase(0x23000, 0x3B9FFF - 0x23000 + 1);
        if (bootWritten) {
            erase(0, 0x23000);
            put(0, 142);
        }
        put(0x3FC000, 133);
        put(0x23000, 129);
        put(0xA5000, 136);
        put(0xA4000, 139);
        return f;
    }

    std::map<std::uint32_t, Bytes> images;
    const Bytes earlier = initialFlash(Scenario{});
};

TEST_F(VerdictTest, EarlierFirmwareIsNonBlankAndCarriesItsBootVersion) {
    Scenario s;
    s.bootVersion = {'1', '.', '0', '0'};
    const Bytes flash = initialFlash(s);
    ASSERT_EQ(flash.size(), kFlashSize);
    EXPECT_EQ(std::string(flash.begin() + kBootVersionAddress, flash.begin() + kBootVersionAddress + 4),
              "1.00");
    EXPECT_GT(std::count_if(flash.begin(), flash.end(), [](std::uint8_t b) { return b != 0xFF; }),
              static_cast<std::ptrdiff_t>(kFlashSize * 9 / 10));
    EXPECT_EQ(initialFlash(s), flash) << "the earlier firmware must be the same every time";
    s.blankFlash = true;
    const Bytes blank = initialFlash(s);
    EXPECT_TRUE(std::all_of(blank.begin(), blank.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

TEST_F(VerdictTest, CorrectUpdatePasses) {
    const FlashVerdict v = judgeFlash(updated(earlier, true), earlier, source());
    EXPECT_TRUE(v.ok) << v.summary;
    EXPECT_FALSE(v.bootSkipped);
    EXPECT_EQ(v.wrongBytes, 0u);
}

TEST_F(VerdictTest, BootRegionHoldingTheSameVersionMustBeLeftAlone) {
    Bytes initial = earlier;
    std::copy_n("1.00", 4, initial.begin() + kBootVersionAddress);
    const FlashVerdict skipped = judgeFlash(updated(initial, false), initial, source());
    EXPECT_TRUE(skipped.ok) << skipped.summary;
    EXPECT_TRUE(skipped.bootSkipped);

    const FlashVerdict rewritten = judgeFlash(updated(initial, true), initial, source());
    EXPECT_FALSE(rewritten.ok) << "a boot region rewritten although its version matched must be caught";
    EXPECT_LT(rewritten.firstWrongAddress, 0x23000u);
    EXPECT_NE(rewritten.summary.find("boot region, skipped"), std::string::npos) << rewritten.summary;
}

TEST_F(VerdictTest, BootRegionLeftAloneAlthoughItsVersionDiffersIsCaught) {
    const FlashVerdict v = judgeFlash(updated(earlier, false), earlier, source());
    EXPECT_FALSE(v.ok);
    EXPECT_EQ(v.firstWrongAddress, 0u);
    EXPECT_NE(v.summary.find("image 142"), std::string::npos) << v.summary;
}

TEST_F(VerdictTest, OneWrongByteAnywhereIsFoundWithItsAddress) {
    const struct {
        const char* what;
        std::uint32_t address;
        const char* origin;
    } rows[] = {
        {"first byte of the boot image", 0x000000, "image 142 written by step 5, offset 0x0"},
        {"boot version text", 0x022FFF, "image 142 written by step 5, offset 0x22FFF"},
        {"last byte of image 129", 0x23000 + 699, "image 129 written by step 7, offset 0x2BB"},
        {"gap after image 129, erased only", 0x23000 + 700, "erased by step 6"},
        {"block image 139 fills last", 0xA4000 + 4064, "image 139 written by step 9"},
        {"last byte image 136 covers", 0xA5000 + 2999, "image 136 written by step 8"},
        {"end of the region step 6 erases", 0x3B9FFF, "erased by step 6"},
        {"first byte the plan never touches", 0x3BA000, "never touched"},
        {"last byte the plan never touches", 0x3FBFFF, "never touched"},
        {"last byte of flash", 0x3FFFFF, "image 133 written by step 3, offset 0x3FFF"},
    };
    const Bytes good = updated(earlier, true);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bytes bad = good;
        bad[row.address] ^= 0x01;
        const FlashVerdict v = judgeFlash(bad, earlier, source());
        EXPECT_FALSE(v.ok);
        EXPECT_EQ(v.wrongBytes, 1u);
        EXPECT_EQ(v.firstWrongAddress, row.address);
        EXPECT_EQ(v.expected, good[row.address]);
        EXPECT_EQ(v.actual, bad[row.address]);
        EXPECT_NE(v.summary.find(row.origin), std::string::npos) << v.summary;
    }
}

TEST_F(VerdictTest, MissingImageGivesNoPassingVerdict) {
    images.erase(136);
    const FlashVerdict v = judgeFlash(updated(earlier, true), earlier, source());
    EXPECT_FALSE(v.ok);
    EXPECT_NE(v.summary.find("image 136 is missing"), std::string::npos) << v.summary;
}

TEST(BuiltInImages, AllFiveImagesOfThePlanAreThereWithTheirSizes) {
    const ImageSource images = builtInImages();
    const std::map<std::uint32_t, std::size_t> sizes = {
        {129, 462232}, {133, 16384}, {136, 3231744}, {139, 4096}, {142, 143360}};
    for (const auto& [id, size] : sizes) {
        EXPECT_EQ(images(id).size(), size) << "image " << id;
    }
    EXPECT_TRUE(images(1).empty());
}

}  // namespace
}  // namespace velmora::emulator
