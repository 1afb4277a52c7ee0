// Build-time tool: writes one deterministic stand-in firmware image.
//   velmora-firmware-gen <id> <expected-size> <output-file>
// The expected size comes from firmware/CMakeLists.txt; a mismatch fails the build.

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "StandInImages.h"

namespace {

bool parseUint32(std::string_view text, std::uint32_t& value) {
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty();
}

}  // namespace

int main(int argc, char** argv) {
    std::uint32_t id = 0;
    std::uint32_t expectedSize = 0;
    if (argc != 4 || !parseUint32(argv[1], id) || !parseUint32(argv[2], expectedSize)) {
        std::fprintf(stderr, "usage: velmora-firmware-gen <id> <expected-size> <output-file>\n");
        return 2;
    }
    std::string error;
    if (velmora::standin::writeStandInFile(id, expectedSize, argv[3], error) != 0) {
        std::fprintf(stderr, "velmora-firmware-gen: %s\n", error.c_str());
        return 1;
    }
    return 0;
}
