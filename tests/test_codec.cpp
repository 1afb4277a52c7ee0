// The 7-bit codec and the checksum: golden vectors, exact round trips, and no access outside the given
// lengths.
#include <gtest/gtest.h>

#include <zlib.h>
#include <ostream>

#include <cstdint>
#include <string>
#include <vector>

#include "support/DescribedRow.h"
#include "update/Codec.h"

namespace velmora {
namespace {

using velmora::testing::PrintTo;
using Bytes = std::vector<std::uint8_t>;

Bytes encoded(std::uint32_t value) {
    Bytes out(5);
    encode7x5(value, out.data());
    return out;
}

struct Encode7x5Case {
    const char* what;
    std::uint32_t value;
    Bytes bytes;
};

class Encode7x5Golden : public ::testing::TestWithParam<Encode7x5Case> {};

TEST_P(Encode7x5Golden, EncodesLeastSignificantGroupFirstAndDecodesBack) {
    const auto& c = GetParam();
    EXPECT_EQ(encoded(c.value), c.bytes) << c.what;
    EXPECT_EQ(decode7x5(c.bytes.data()), c.value) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Values, Encode7x5Golden,
    ::testing::Values(
        Encode7x5Case{"the last boot-loader region", 0x3FC000, {0x00, 0x00, 0x7F, 0x01, 0x00}},
        Encode7x5Case{"the boot version address", 0x22FFC, {0x7C, 0x5F, 0x08, 0x00, 0x00}},
        Encode7x5Case{"all ones: byte 4 holds only four bits", 0xFFFFFFFF, {0x7F, 0x7F, 0x7F, 0x7F, 0x0F}},
        Encode7x5Case{"zero", 0, {0x00, 0x00, 0x00, 0x00, 0x00}},
        Encode7x5Case{"a write block address", 0x1000, {0x00, 0x20, 0x00, 0x00, 0x00}}));

TEST(Decode7x5, IgnoresTheTopBitOfTheFirstFourBytesAndTheTopFourBitsOfTheFifth) {
    const Bytes noisy = {0xFC, 0xDF, 0x88, 0x80, 0xF0};
    EXPECT_EQ(decode7x5(noisy.data()), 0x22FFCu);
}

TEST(Length14, FourKilobytesIsSentAs00_20AndReadBack) {
    Bytes out(2);
    encodeLength14(4096, out.data());
    EXPECT_EQ(out, (Bytes{0x00, 0x20}));
    EXPECT_EQ(decodeLength14(out.data()), 4096u);
    encodeLength14(16383, out.data());
    EXPECT_EQ(out, (Bytes{0x7F, 0x7F}));
}

TEST(Pack7, GatheresTopBitsIntoTheHeaderByte) {
    const Bytes data = {0x80, 0x01, 0xFF};
    Bytes packed(4);
    ASSERT_EQ(pack7(packed.data(), data.data(), data.size()), 4u);
    EXPECT_EQ(packed, (Bytes{0x50, 0x00, 0x01, 0x7F}));
    Bytes back(3);
    ASSERT_EQ(unpack7(back.data(), packed.data(), packed.size()), 3u);
    EXPECT_EQ(back, data);
}

TEST(Pack7, PackedLengthsOfTheBlockSizes) {
    EXPECT_EQ(packedLength(0), 0u);
    EXPECT_EQ(packedLength(1), 2u);
    EXPECT_EQ(packedLength(6), 7u);
    EXPECT_EQ(packedLength(7), 8u);
    EXPECT_EQ(packedLength(3480), 3978u);
    EXPECT_EQ(packedLength(4096), 4682u);
    EXPECT_EQ(packedLength(16383), 18724u);
}

// Every length from 0 to 64 and the block sizes: the exact bytes come back, and guard bytes on both sides of
// both buffers prove that neither function touches memory past the lengths it was given.
class Pack7RoundTrip : public ::testing::TestWithParam<std::size_t> {};

TEST_P(Pack7RoundTrip, RestoresEveryByteAndStaysInsideItsBuffers) {
    const std::size_t n = GetParam();
    constexpr std::size_t kGuard = 16;
    constexpr std::uint8_t kGuardByte = 0xA5;
    Bytes data(n);
    for (std::size_t i = 0; i < n; ++i) {
        data[i] = static_cast<std::uint8_t>(i * 151u + 7u);  // every top-bit pattern occurs
    }
    const std::size_t p = packedLength(n);
    Bytes packed(p + 2 * kGuard, kGuardByte);
    ASSERT_EQ(pack7(packed.data() + kGuard, data.data(), n), p);
    for (std::size_t i = 0; i < kGuard; ++i) {
        ASSERT_EQ(packed[i], kGuardByte) << "pack7 wrote before its destination";
        ASSERT_EQ(packed[kGuard + p + i], kGuardByte) << "pack7 wrote past the packed length";
    }
    for (std::size_t i = 0; i < p; ++i) {
        ASSERT_LT(packed[kGuard + i], 0x80) << "a packed byte is not a SysEx data byte at " << i;
    }

    // Bytes just past the packed run are poison: reading them would corrupt the result.
    Bytes input(packed.begin() + kGuard, packed.begin() + kGuard + p);
    input.insert(input.end(), 8, 0x7F);
    Bytes out(n + 2 * kGuard, kGuardByte);
    ASSERT_EQ(unpack7(out.data() + kGuard, input.data(), p), n);
    EXPECT_EQ(Bytes(out.begin() + kGuard, out.begin() + kGuard + n), data);
    for (std::size_t i = 0; i < kGuard; ++i) {
        ASSERT_EQ(out[i], kGuardByte) << "unpack7 wrote before its destination";
        ASSERT_EQ(out[kGuard + n + i], kGuardByte) << "unpack7 wrote past the data length";
    }
}

std::vector<std::size_t> roundTripLengths() {
    std::vector<std::size_t> lengths;
    for (std::size_t n = 0; n <= 64; ++n) {
        lengths.push_back(n);
    }
    lengths.push_back(3480);
    lengths.push_back(4096);
    lengths.push_back(16383);
    return lengths;
}

INSTANTIATE_TEST_SUITE_P(Lengths, Pack7RoundTrip, ::testing::ValuesIn(roundTripLengths()));

TEST(Unpack7, ShortFinalGroupsOfTwoAndSevenBytesYieldOneAndSix) {
    const Bytes two = {0x40, 0x11};
    Bytes out(8, 0);
    EXPECT_EQ(unpack7(out.data(), two.data(), two.size()), 1u);
    EXPECT_EQ(out[0], 0x91);
    const Bytes seven = {0x01, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(unpack7(out.data(), seven.data(), seven.size()), 6u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 6), (Bytes{1, 2, 3, 4, 5, 6}));
}

struct ChecksumCase {
    const char* text;
    std::uint32_t expected;
};

// Test names show the case, not a dump of its bytes.
void PrintTo(const ChecksumCase& c, std::ostream* os) {
    *os << "checksum of \"" << c.text << "\"";
}

class ChecksumGolden : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ChecksumGolden, MatchesTheCatalogueValue) {
    const std::string text = GetParam().text;
    EXPECT_EQ(checksum32(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()),
              GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Values, ChecksumGolden,
                         ::testing::Values(ChecksumCase{"123456789", 0x340BC6D9},
                                           ChecksumCase{"abc", 0xCADBBE3D}, ChecksumCase{"", 0xFFFFFFFF}));

TEST(Checksum32, IsTheComplementOfZlibsCrc32ForManyLengthsAndContents) {
    Bytes data(5000);
    std::uint32_t seed = 12345;
    for (auto& b : data) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    for (std::size_t n : {1u, 2u, 3u, 7u, 255u, 256u, 1000u, 4096u, 5000u}) {
        const auto zlibCrc = static_cast<std::uint32_t>(crc32(0L, data.data(), static_cast<uInt>(n)));
        EXPECT_EQ(checksum32(data.data(), n), ~zlibCrc) << n << " bytes";
    }
}

}  // namespace
}  // namespace velmora
