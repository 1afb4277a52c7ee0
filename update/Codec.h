#pragma once
// The 7-bit codec and checksum that carry 8-bit data, 32-bit values and 14-bit lengths through SysEx data
// bytes. Pure functions over caller-provided memory: no lock, no allocation.

#include <cstddef>
#include <cstdint>

namespace velmora {

// Bytes that n data bytes occupy once packed: eight for every whole group of seven, m + 1 for a last group of
// m.
constexpr std::size_t packedLength(std::size_t n) {
    return 8 * (n / 7) + (n % 7 != 0 ? n % 7 + 1 : 0);
}

// Data bytes that a packed run of p bytes yields (the inverse of packedLength; a lone header byte yields
// none).
constexpr std::size_t unpackedLength(std::size_t p) {
    return 7 * (p / 8) + (p % 8 > 1 ? p % 8 - 1 : 0);
}

// Packs n data bytes into dst (packedLength(n) bytes); returns the packed length.
std::size_t pack7(std::uint8_t* dst, const std::uint8_t* src, std::size_t n);

// Unpacks exactly `packedLen` bytes of src into dst (unpackedLength(packedLen) bytes); returns that count.
// Reads no byte at or past src + packedLen and writes none past the count it returns.
std::size_t unpack7(std::uint8_t* dst, const std::uint8_t* src, std::size_t packedLen);

// A 32-bit value in five 7-bit bytes, least significant group first.
void encode7x5(std::uint32_t value, std::uint8_t* dst);
std::uint32_t decode7x5(const std::uint8_t* src);

// A 14-bit length in two 7-bit bytes, least significant group first.
void encodeLength14(std::uint32_t length, std::uint8_t* dst);
std::uint32_t decodeLength14(const std::uint8_t* src);

// CRC-32/JAMCRC (reflected polynomial 0xEDB88320, initial value 0xFFFFFFFF, no final inversion): the bitwise
// complement of the common CRC-32.
std::uint32_t checksum32(const std::uint8_t* data, std::size_t n);

}  // namespace velmora
