#pragma once

#include <cstdint>
#include <span>

namespace velmora {

// One firmware image carried inside the executable. The bytes live as long as the program.
struct FirmwareImage {
    std::uint32_t id;
    const std::uint8_t* data;
    std::uint32_t size;
};

// The image with this resource id, or nullptr when there is none.
const FirmwareImage* loadImage(std::uint32_t id);

// Ids of all embedded images, in ascending order.
std::span<const std::uint32_t> firmwareImageIds();

// True when image id was generated at build time as filler of the right size: nothing a device can run.
bool isStandInImage(std::uint32_t id);
// True when any embedded image is a stand-in; such a build may update only the emulated device.
bool carriesStandInImages();

}  // namespace velmora
