#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "FirmwareImages.h"
#include "StandInImages.h"
#include "support/ScratchDir.h"

namespace {

// Which images this build embedded from generated stand-ins (the rest are real files a maintainer
// dropped into firmware/, whose content the tests cannot know).
struct BuiltImage {
    std::uint32_t id;
    bool standIn;
};
constexpr BuiltImage kBuilt[] = {
#define VELMORA_FIRMWARE_IMAGE(id, size, standIn, path) {id, (standIn) != 0},
#include "velmora_firmware_manifest.h"
#undef VELMORA_FIRMWARE_IMAGE
};

bool embeddedFromStandIn(std::uint32_t id) {
    const auto it = std::ranges::find(kBuilt, id, &BuiltImage::id);
    return it != std::end(kBuilt) && it->standIn;
}

// CRC-32/ISO-HDLC (the zip/Ethernet CRC), bitwise: slow but obviously right.
std::uint32_t crc32(std::span<const std::uint8_t> bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (const std::uint8_t b : bytes) {
        crc ^= b;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1u) != 0 ? 0xEDB88320u : 0u);
        }
    }
    return ~crc;
}

std::span<const std::uint8_t> bytesOf(const velmora::FirmwareImage& image) {
    return {image.data, image.size};
}

std::span<const std::uint8_t> asBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

struct ExpectedImage {
    std::uint32_t id;
    std::uint32_t size;
};
constexpr ExpectedImage kExpected[] = {
    {129, 0x70D98}, {133, 0x4000}, {136, 0x315000}, {139, 0x1000}, {142, 0x23000},
};
constexpr std::uint32_t kErasedImage = 139;

// ---------------------------------------------------------------------------------------------------
// The embedded images

TEST(FirmwareImages, IdListHoldsExactlyTheFiveImagesAscending) {
    // Guards an image left out of (or added twice to) the build's table, and an unsorted list.
    const std::span<const std::uint32_t> ids = velmora::firmwareImageIds();
    const std::vector<std::uint32_t> expected = {129, 133, 136, 139, 142};
    EXPECT_EQ(std::vector<std::uint32_t>(ids.begin(), ids.end()), expected);
}

TEST(FirmwareImages, EveryIdLoadsWithItsExactSize) {
    // Guards a truncated or padded embedding, or a lookup that hands back the wrong image.
    for (const ExpectedImage& expected : kExpected) {
        SCOPED_TRACE("image " + std::to_string(expected.id));
        const velmora::FirmwareImage* image = velmora::loadImage(expected.id);
        ASSERT_NE(image, nullptr);
        EXPECT_EQ(image->id, expected.id);
        EXPECT_NE(image->data, nullptr);
        EXPECT_EQ(image->size, expected.size);
        EXPECT_EQ(velmora::loadImage(expected.id), image) << "a second lookup must return the same image";
    }
}

TEST(FirmwareImages, UnknownIdsHaveNoImage) {
    // Guards a lookup that falls back to a neighbouring or the first image.
    for (const std::uint32_t id : {0u, 1u, 128u, 130u, 141u, 143u, 0xFFFFFFFFu}) {
        EXPECT_EQ(velmora::loadImage(id), nullptr) << "id " << id;
    }
}

TEST(FirmwareImages, RunTimeKnowsWhichImagesAreStandIns) {
    // Guards a program that takes filler for firmware (and would write it onto a device), or the reverse.
    bool any = false;
    for (const BuiltImage& built : kBuilt) {
        EXPECT_EQ(velmora::isStandInImage(built.id), built.standIn) << "id " << built.id;
        any = any || built.standIn;
    }
    EXPECT_EQ(velmora::carriesStandInImages(), any);
    EXPECT_FALSE(velmora::isStandInImage(130)) << "an unknown id is no image at all";
}

struct MarkerCase {
    const char* fault;
    std::uint32_t id;
    std::uint32_t offset;
    std::string_view bytes;
};

TEST(FirmwareImages, MarkersSitWhereTheUpdaterLooksForThem) {
    const MarkerCase cases[] = {
        {"129 lost its TIPA header", 129, 0, "TIPA"},
        {"133 lost the version in its last four bytes", 133, 0x4000 - 4, "1.00"},
        {"136 lost its 55 AA signature", 136, 0, "\x55\xAA"},
        {"139 lost its version at 4064", 139, 4064, "1.21"},
        {"142 lost its TIPA header", 142, 0, "TIPA"},
        {"142 lost the version in its last four bytes", 142, 143356, "1.00"},
    };
    for (const MarkerCase& c : cases) {
        SCOPED_TRACE(c.fault);
        const velmora::FirmwareImage* image = velmora::loadImage(c.id);
        ASSERT_NE(image, nullptr);
        ASSERT_LE(c.offset + c.bytes.size(), image->size);
        EXPECT_TRUE(std::ranges::equal(bytesOf(*image).subspan(c.offset, c.bytes.size()), asBytes(c.bytes)));
    }
}

TEST(FirmwareImages, Image139IsErasedFlashApartFromVersionAndTag) {
    // Guards stray bytes in the otherwise blank image and a non-text tag in its last 16 bytes.
    const velmora::FirmwareImage* image = velmora::loadImage(kErasedImage);
    ASSERT_NE(image, nullptr);
    ASSERT_EQ(image->size, 4096u);
    const auto bytes = bytesOf(*image);
    for (std::uint32_t i = 0; i < 4080; ++i) {
        if (i >= 4064 && i < 4068) {
            continue;
        }
        ASSERT_EQ(bytes[i], 0xFF) << "offset " << i;
    }
    for (std::uint32_t i = 4080; i < 4096; ++i) {
        EXPECT_TRUE(bytes[i] >= 0x20 && bytes[i] <= 0x7E) << "offset " << i << " is not printable ASCII";
    }
}

TEST(FirmwareImages, ImagesDoNotOverlap) {
    // Guards two ids sharing storage, e.g. a wrong symbol or resource for one of them.
    const auto ids = velmora::firmwareImageIds();
    for (std::size_t a = 0; a < ids.size(); ++a) {
        for (std::size_t b = a + 1; b < ids.size(); ++b) {
            const velmora::FirmwareImage* first = velmora::loadImage(ids[a]);
            const velmora::FirmwareImage* second = velmora::loadImage(ids[b]);
            ASSERT_NE(first, nullptr);
            ASSERT_NE(second, nullptr);
            const auto begin1 = reinterpret_cast<std::uintptr_t>(first->data);
            const auto begin2 = reinterpret_cast<std::uintptr_t>(second->data);
            EXPECT_TRUE(begin1 + first->size <= begin2 || begin2 + second->size <= begin1)
                << "images " << ids[a] << " and " << ids[b] << " overlap";
        }
    }
}

TEST(FirmwareImages, StandInsAreEmbeddedByteForByte) {
    // Guards the build embedding a stale or differently generated file, or the wrong file for an id.
    int compared = 0;
    for (const ExpectedImage& expected : kExpected) {
        if (!embeddedFromStandIn(expected.id)) {
            continue;  // a real image dropped into firmware/
        }
        SCOPED_TRACE("image " + std::to_string(expected.id));
        const velmora::FirmwareImage* image = velmora::loadImage(expected.id);
        ASSERT_NE(image, nullptr);
        const std::vector<std::uint8_t> fresh = velmora::standin::generateStandIn(expected.id);
        ASSERT_EQ(image->size, fresh.size());
        const auto [embeddedAt, freshAt] = std::ranges::mismatch(bytesOf(*image), fresh);
        EXPECT_TRUE(freshAt == fresh.end()) << "first difference at offset " << (freshAt - fresh.begin());
        ++compared;
    }
    if (compared == 0) {
        GTEST_SKIP() << "every image in this build is a dropped-in file";
    }
}

// ---------------------------------------------------------------------------------------------------
// The stand-in generator

TEST(StandInGenerator, CrcOfTheCheckStringMatchesTheCatalogue) {
    // The pinned checksums below are only as good as this CRC.
    EXPECT_EQ(crc32(asBytes("123456789")), 0xCBF43926u);
}

TEST(StandInGenerator, ContentIsPinned) {
    // Guards the stand-ins changing between builds, compilers or platforms (e.g. a switch to a <random>
    // distribution, whose output is implementation-defined). The values are zlib's crc32 of the files the
    // generator wrote; changing the stand-ins on purpose means updating them.
    struct Pinned {
        std::uint32_t id;
        std::uint32_t crc;
    };
    const Pinned pinned[] = {
        {129, 0x6BBC8F18u}, {133, 0x20B28ECCu}, {136, 0x3EAC54EDu}, {139, 0x6277BFB6u}, {142, 0xC935B5E6u},
    };
    for (const Pinned& p : pinned) {
        const std::vector<std::uint8_t> first = velmora::standin::generateStandIn(p.id);
        EXPECT_EQ(crc32(first), p.crc) << "image " << p.id;
        EXPECT_EQ(velmora::standin::generateStandIn(p.id), first)
            << "image " << p.id << " differs between runs";
    }
}

TEST(StandInGenerator, CodeImagesUseTheWholeByteRange) {
    // Guards stand-ins too tame to exercise 7-bit packing (no bytes >= 0x80) or mostly blank.
    for (const ExpectedImage& expected : kExpected) {
        if (expected.id == kErasedImage) {
            continue;
        }
        SCOPED_TRACE("image " + std::to_string(expected.id));
        const std::vector<std::uint8_t> image = velmora::standin::generateStandIn(expected.id);
        std::array<std::size_t, 256> counts{};
        for (const std::uint8_t b : image) {
            ++counts[b];
        }
        const auto distinct = std::ranges::count_if(counts, [](std::size_t n) { return n != 0; });
        std::size_t high = 0;
        for (std::size_t v = 0x80; v < 0x100; ++v) {
            high += counts[v];
        }
        EXPECT_EQ(distinct, 256);
        EXPECT_GT(high * 100 / image.size(), 30u);
        EXPECT_LT(high * 100 / image.size(), 70u);
        EXPECT_LT(counts[0xFF] * 100 / image.size(), 20u);
    }
}

TEST(StandInGenerator, EachIdHasItsOwnContent) {
    // Guards a seed that ignores the id: all images would share one byte sequence.
    const std::uint32_t ids[] = {129, 133, 136, 142};
    std::vector<std::vector<std::uint8_t>> bodies;
    for (const std::uint32_t id : ids) {
        const std::vector<std::uint8_t> image = velmora::standin::generateStandIn(id);
        bodies.emplace_back(image.begin() + 16, image.begin() + 4096);
    }
    for (std::size_t a = 0; a < bodies.size(); ++a) {
        for (std::size_t b = a + 1; b < bodies.size(); ++b) {
            EXPECT_NE(bodies[a], bodies[b]) << "images " << ids[a] << " and " << ids[b];
        }
    }
}

class StandInFileTest : public ::testing::Test {
  protected:
    static std::vector<std::uint8_t> readFile(const std::filesystem::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    velmora::testing::CScratchDir scratch_{"velmora_fw"};
    const std::filesystem::path dir_ = scratch_.path();
};

TEST_F(StandInFileTest, WritesTheGeneratedImageAndNoLeftovers) {
    const auto target = dir_ / "133.bin";
    std::ofstream(target) << "stale";  // an older, wrong file must be replaced
    std::string error;
    ASSERT_EQ(velmora::standin::writeStandInFile(133, 0x4000, target.string(), error), 0) << error;
    EXPECT_EQ(readFile(target), velmora::standin::generateStandIn(133));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_), std::filesystem::directory_iterator()),
              1)
        << "only the image itself may be left in the directory";
}

TEST_F(StandInFileTest, WrongExpectedSizeFailsNamingIdAndBothSizes) {
    // The build passes its own expected size; a mismatch has to stop the build, not write a file.
    const auto target = dir_ / "129.bin";
    std::string error;
    EXPECT_EQ(velmora::standin::writeStandInFile(129, 462231, target.string(), error), -1);
    EXPECT_NE(error.find("129"), std::string::npos) << error;
    EXPECT_NE(error.find("462231"), std::string::npos) << error;
    EXPECT_NE(error.find("462232"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(StandInFileTest, UnknownIdFailsWithoutWriting) {
    std::string error;
    EXPECT_EQ(velmora::standin::writeStandInFile(130, 4096, (dir_ / "130.bin").string(), error), -1);
    EXPECT_NE(error.find("130"), std::string::npos) << error;
    EXPECT_TRUE(std::filesystem::is_empty(dir_));
}

TEST_F(StandInFileTest, UnwritableDestinationFails) {
    std::string error;
    EXPECT_EQ(velmora::standin::writeStandInFile(139, 4096, (dir_ / "missing" / "139.bin").string(), error),
              -1);
    EXPECT_FALSE(error.empty());
}

}  // namespace
