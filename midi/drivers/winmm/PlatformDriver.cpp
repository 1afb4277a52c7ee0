#include "midi/drivers/PlatformDriver.h"

#include "midi/drivers/winmm/WinMmDriver.h"

namespace velmora::midi {

std::unique_ptr<MidiDriver> createPlatformDriver() {
    return std::make_unique<CWinMmDriver>();
}

}  // namespace velmora::midi
