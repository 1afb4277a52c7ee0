#pragma once
// What an update writes where: the accepted model codes, the nine-step flash plan and the boot-region facts.

#include <array>
#include <cstdint>

#include "firmware/FirmwareImages.h"

namespace velmora {

inline constexpr std::array<std::uint8_t, 2> AcceptedDeviceCodes = {0x63, 0x62};

struct FlashStep {
    enum Kind : std::uint32_t { Erase = 1, Write = 2 };
    std::uint32_t kind;
    std::uint32_t address;
    std::uint32_t size;     // erase: bytes to erase; write: bytes of the image to write, 0 for all of it
    std::uint32_t imageId;  // 0 in erase rows
};

inline constexpr std::array<FlashStep, 9> FlashPlan = {{
    {FlashStep::Erase, 0xA4000, 0x1000, 0},  // the block image 139 fills last stays blank until then
    {FlashStep::Erase, 0x3FC000, 0x4000, 0},
    {FlashStep::Write, 0x3FC000, 0, 133},
    {FlashStep::Erase, 0x000000, 0x23000, 0},  // boot region
    {FlashStep::Write, 0x000000, 0, 142},      // boot region
    {FlashStep::Erase, 0x23000, 0x397000, 0},
    {FlashStep::Write, 0x23000, 0, 129},
    {FlashStep::Write, 0xA5000, 0, 136},
    {FlashStep::Write, 0xA4000, 0, 139},
}};

inline constexpr int kFlashPlanSteps = static_cast<int>(FlashPlan.size());

// The boot region: the steps at address 0, left out when the device already holds the plan's boot version.
constexpr bool inBootRegion(const FlashStep& row) {
    return row.address == 0;
}

// The bytes a row covers: an erase's size; a write's image bytes (`imageSize` of them), up to the row's size
// where it gives one, never more than the image holds.
constexpr std::uint32_t rowBytes(const FlashStep& row, std::uint32_t imageSize) {
    if (row.kind == FlashStep::Erase) {
        return row.size;
    }
    return row.size != 0 && row.size < imageSize ? row.size : imageSize;
}

// rowBytes() with the built-in image a write row names; none for an image that is missing.
inline std::int64_t stepBytes(const FlashStep& row) {
    const FirmwareImage* image = row.kind == FlashStep::Write ? loadImage(row.imageId) : nullptr;
    return rowBytes(row, image != nullptr ? image->size : 0);
}

// The boot region's version text: four bytes at the end of the boot region, the last four of image 142.
inline constexpr std::uint32_t kBootVersionAddress = 0x22FFC;
inline constexpr std::uint32_t kBootVersionLength = 4;
inline constexpr std::uint32_t kBootImageId = 142;

// The device's flash: 4 MiB.
inline constexpr std::uint32_t kFlashSize = 0x400000;

}  // namespace velmora
