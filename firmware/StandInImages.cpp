#include "StandInImages.h"

#include "SplitMix64.h"

#include <algorithm>
#include <array>
#include <filesystem>
#include <fstream>
#include <functional>
#include <span>
#include <string_view>
#include <system_error>

namespace velmora::standin {
namespace {

using velmora::CSplitMix64;

struct Marker {
    std::uint32_t offset;
    std::string_view bytes;  // empty: slot unused
};

struct StandInLayout {
    std::uint32_t id;
    std::uint32_t size;
    bool erased;               // blank flash: every byte 0xFF apart from the markers
    std::uint32_t erasedTail;  // unused flash (0xFF) at the end, before any trailing marker
    std::array<Marker, 2> markers;
};

constexpr std::array<StandInLayout, 5> kLayouts{{
    {129, 0x70D98, false, 0, {{{0, "TIPA"}, {}}}},
    {133, 0x4000, false, 0x400, {{{0x4000 - 4, "1.00"}, {}}}},
    {136, 0x315000, false, 0, {{{0, "\x55\xAA"}, {}}}},
    {139, 0x1000, true, 0, {{{4064, "1.21"}, {4080, "VLM-STANDIN-0139"}}}},
    {142, 0x23000, false, 0x1000, {{{0, "TIPA"}, {0x23000 - 4, "1.00"}}}},
}};

// Iterator algorithms, not std::ranges: the web build's libc++ 13 has none of the latter.
static_assert(std::adjacent_find(kLayouts.begin(), kLayouts.end(),
                                 [](const StandInLayout& a, const StandInLayout& b) {
                                     return a.id >= b.id;
                                 }) == kLayouts.end(),
              "stand-in ids must be unique and ascending");
static_assert(std::all_of(kLayouts.begin(), kLayouts.end(),
                          [](const StandInLayout& l) {
                              return std::all_of(l.markers.begin(), l.markers.end(), [&](const Marker& m) {
                                  return m.offset + m.bytes.size() <= l.size;
                              });
                          }),
              "every marker must lie inside its image");

const StandInLayout* findLayout(std::uint32_t id) {
    const auto it =
        std::find_if(kLayouts.begin(), kLayouts.end(), [id](const StandInLayout& l) { return l.id == id; });
    return it == kLayouts.end() ? nullptr : &*it;
}

// Roughly what a code image looks like to a byte counter: mostly high-entropy bytes (all 256 values, so
// 7-bit packing sees bytes >= 0x80) broken by zero-filled stretches and short erased gaps.
void fillCodeLike(std::span<std::uint8_t> out, CSplitMix64& rng) {
    std::size_t pos = 0;
    while (pos < out.size()) {
        const std::size_t len = std::min<std::size_t>(16 + rng.below(240), out.size() - pos);
        const auto segment = out.subspan(pos, len);
        switch (rng.below(16)) {
            case 0:
                std::fill(segment.begin(), segment.end(), std::uint8_t{0x00});
                break;
            case 1:
                std::fill(segment.begin(), segment.end(), std::uint8_t{0xFF});
                break;
            default:
                for (auto& b : segment) {
                    b = static_cast<std::uint8_t>(rng.next() >> 56);
                }
                break;
        }
        pos += len;
    }
}

}  // namespace

std::vector<std::uint8_t> generateStandIn(std::uint32_t id) {
    const StandInLayout* layout = findLayout(id);
    if (layout == nullptr) {
        return {};
    }
    std::vector<std::uint8_t> image(layout->size, 0xFF);
    if (!layout->erased) {
        // One fixed seed per id: the stand-ins differ from each other but never from build to build.
        CSplitMix64 rng(0x56454C4D4F524100ULL ^ (std::uint64_t{id} * 0x9E3779B97F4A7C15ULL));
        fillCodeLike(std::span(image).first(layout->size - layout->erasedTail), rng);
    }
    for (const Marker& marker : layout->markers) {
        std::copy(marker.bytes.begin(), marker.bytes.end(), image.begin() + marker.offset);
    }
    return image;
}

int writeStandInFile(std::uint32_t id, std::uint32_t expectedSize, const std::string& path,
                     std::string& error) {
    const std::string what = "firmware image " + std::to_string(id) + ": ";
    const std::vector<std::uint8_t> image = generateStandIn(id);
    if (image.empty()) {
        error = what + "no stand-in exists for this id";
        return -1;
    }
    if (image.size() != expectedSize) {
        error = what + "expected " + std::to_string(expectedSize) + " bytes, the stand-in is " +
                std::to_string(image.size()) + " bytes";
        return -1;
    }

    // Write beside the target and rename, so an interrupted build never leaves a short image that looks
    // up to date.
    const std::filesystem::path target(path);
    std::filesystem::path partial = target;
    partial += ".partial";
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
        out.close();
        if (!out) {
            std::error_code ignored;
            std::filesystem::remove(partial, ignored);
            error = what + "cannot write " + partial.string();
            return -1;
        }
    }
    std::error_code ec;
    std::filesystem::rename(partial, target, ec);
    if (ec) {
        std::filesystem::remove(partial, ec);
        error = what + "cannot rename " + partial.string() + " to " + target.string();
        return -1;
    }
    const std::uintmax_t actual = std::filesystem::file_size(target, ec);
    if (ec || actual != expectedSize) {
        error = what + "expected " + std::to_string(expectedSize) + " bytes, " + target.string() + " is " +
                (ec ? std::string("unreadable") : std::to_string(actual) + " bytes");
        std::filesystem::remove(target, ec);
        return -1;
    }
    return 0;
}

}  // namespace velmora::standin
