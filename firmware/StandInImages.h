#pragma once

// Deterministic stand-ins for the firmware images, used when the real files are not in firmware/.
// Shared by the build-time generator (velmora-firmware-gen) and the tests, so both see the same bytes.

#include <cstdint>
#include <string>
#include <vector>

namespace velmora::standin {

// The stand-in image for id; empty when id has none. Same bytes on every platform and every run.
std::vector<std::uint8_t> generateStandIn(std::uint32_t id);

// Writes the stand-in for id to path, replacing the file only once it is complete. Fails (-1, with a
// message naming the id and both sizes in error) when the stand-in is not expectedSize bytes, so the
// build's table and the generator cannot drift apart unnoticed. Returns 0 on success.
int writeStandInFile(std::uint32_t id, std::uint32_t expectedSize, const std::string& path,
                     std::string& error);

}  // namespace velmora::standin
