#pragma once
// The bodies of the fuzz targets, one function per target. The libFuzzer programs call them for every input,
// and tests/test_fuzz_regressions.cpp replays the kept inputs through the very same functions in the
// ordinary and sanitizer builds. A broken property throws PropertyBroken (a crash to libFuzzer, a failed test
// to GoogleTest); memory errors and undefined behaviour are left to the sanitizers.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace velmora::fuzz {

class PropertyBroken : public std::logic_error {
  public:
    using std::logic_error::logic_error;
};

// Byte 0: the host's device code; byte 1: how the read-back offset is chosen; bytes 2-5: raw offset; the
// rest: a message from the device, interpreted alone and as a stream through reply processing.
void fuzzReplies(const std::uint8_t* data, std::size_t size);
// Byte 0 (low 4 bits): how many chunk-length bytes follow; then those lengths; the rest: the MIDI stream.
void fuzzFramer(const std::uint8_t* data, std::size_t size);
// The whole input as packed bytes, as data to pack, as 7x5 fields and for the checksum.
void fuzzCodec(const std::uint8_t* data, std::size_t size);
// Byte 0: the emulated device's model code; the rest: one message from the host.
void fuzzDeviceRequest(const std::uint8_t* data, std::size_t size);
// The whole input as scenario text.
void fuzzScenario(const std::uint8_t* data, std::size_t size);

using TargetEntry = void (*)(const std::uint8_t* data, std::size_t size);

// The entry of a target by its program name ("fuzz_replies", ...), or nullptr for an unknown name.
TargetEntry targetEntry(std::string_view name);

}  // namespace velmora::fuzz
