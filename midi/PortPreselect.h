#pragma once
// Which entry of a port list the dialog pre-selects. Used by the dialog and by velmora-flash; the rule can be
// checked on plain names.

#include <array>
#include <string>
#include <vector>

namespace velmora::midi {

// The names the device's ports go by, in the order they are tried. The first, "USB オーディオ デバイス", is
// what a Japanese system calls a USB audio device; port names are UTF-8 inside the program, so it is spelled
// in UTF-8 bytes here, whatever the compiler takes the source's character set to be.
inline constexpr std::array<const char*, 3> AcceptedPortNames = {
    "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
    "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9",
    "USB Audio Device",
    "Velmora",
};

// The names copy n of the program looks for: the accepted names themselves for copy 1, each followed by a
// blank and "(n)" from copy 2 on, so that each copy finds only the device meant for it.
std::vector<std::string> candidatePortNames(int instanceNumber);

// The position to pre-select in a list of port names: the last entry that, cut to kMaxDeviceNameBytes,
// equals a candidate byte for byte, or -1 when none does.
int preselect(const std::vector<std::string>& names, int instanceNumber);

// The names of a port's devices in the platform's enumeration order: entry i of a list is device index i.
template <typename Port>
std::vector<std::string> portNames(const Port& port) {
    std::vector<std::string> names;
    const unsigned count = port.deviceCount();
    for (unsigned i = 0; i < count; ++i) {
        names.push_back(port.deviceName(static_cast<int>(i)));
    }
    return names;
}

}  // namespace velmora::midi
