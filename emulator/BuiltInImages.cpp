// The verdict's view of the images carried in the program; kept apart so that everything else in the
// emulator can be tested with small images of its own.
#include "FirmwareImages.h"
#include "emulator/FlashVerdict.h"

namespace velmora::emulator {

ImageSource builtInImages() {
    return [](std::uint32_t id) -> std::span<const std::uint8_t> {
        const FirmwareImage* image = loadImage(id);
        if (image == nullptr || image->data == nullptr) {
            return {};
        }
        return {image->data, image->size};
    };
}

}  // namespace velmora::emulator
