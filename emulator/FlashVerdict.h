#pragma once
// Does a device's flash hold exactly what one complete update leaves behind? The expected content is built
// from the flash the device started with and the flash plan: each image at its address, the erased regions
// that no image fills blank, everything the plan never touches as it was. The boot region counts as skipped,
// and so must still hold its earlier content, when its version bytes already equalled the last four bytes of
// the boot image; otherwise it must hold the boot image. Every byte is compared, and the first wrong one is
// reported with its address and what should have been there.

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "emulator/Scenario.h"

namespace velmora::emulator {

// The bytes of a firmware image by id; empty when there is no such image.
using ImageSource = std::function<std::span<const std::uint8_t>(std::uint32_t id)>;

// The images built into the program.
ImageSource builtInImages();

// The 4 MiB a device starts with: all 0xFF for a blank device, otherwise an earlier firmware (deterministic,
// non-blank content) with the scenario's four boot-version bytes at the boot-version address.
std::vector<std::uint8_t> initialFlash(const Scenario& scenario);

struct ExpectedFlash {
    std::vector<std::uint8_t> bytes;  // empty when `error` is set
    bool bootSkipped = false;
    std::string error;  // an image missing or not fitting the plan
};

ExpectedFlash expectedFlash(std::span<const std::uint8_t> initial, const ImageSource& images);

struct FlashVerdict {
    bool ok = false;
    bool bootSkipped = false;
    std::uint32_t wrongBytes = 0;
    std::uint32_t firstWrongAddress = 0;
    std::uint8_t expected = 0;  // at firstWrongAddress
    std::uint8_t actual = 0;
    std::string
        summary;  // one line for a person: what matched, or where it went wrong and what belonged there
};

FlashVerdict judgeFlash(std::span<const std::uint8_t> flash, std::span<const std::uint8_t> initial,
                        const ImageSource& images);

}  // namespace velmora::emulator
