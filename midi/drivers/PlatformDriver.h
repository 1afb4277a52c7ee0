#pragma once
// The MIDI driver of the platform the program was built for: ALSA rawmidi on Linux, the multimedia MIDI
// services on Windows.

#include <memory>

#include "midi/MidiDriver.h"

namespace velmora::midi {

std::unique_ptr<MidiDriver> createPlatformDriver();

}  // namespace velmora::midi
