#pragma once
// What one whole update costs on the emulated device's model alone: every byte each way at the link's speed
// plus its per-message time, every sector erased and every block programmed. No host time, no pauses: the
// floor a real run can approach.

#include <cstddef>
#include <cstdint>

#include "emulator/CEmulatedDevice.h"

namespace velmora::emulator {

struct ModelTime {
    int messagesToDevice = 0;
    int messagesFromDevice = 0;
    std::size_t bytesToDevice = 0;
    std::size_t bytesFromDevice = 0;
    int sectorsErased = 0;
    int blocksWritten = 0;
    double wireSeconds = 0;
    double flashSeconds = 0;

    double totalSeconds() const { return wireSeconds + flashSeconds; }
};

// One update of the whole plan with every request answered the first time; the boot region's two steps
// left out when bootSkipped.
ModelTime modelTime(const LinkSpeed& link, const FlashTimes& flash, bool bootSkipped);

}  // namespace velmora::emulator
