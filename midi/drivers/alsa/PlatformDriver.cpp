#include "midi/drivers/PlatformDriver.h"

#include "midi/drivers/alsa/AlsaDriver.h"

namespace velmora::midi {

std::unique_ptr<MidiDriver> createPlatformDriver() {
    return std::make_unique<CAlsaDriver>();
}

}  // namespace velmora::midi
