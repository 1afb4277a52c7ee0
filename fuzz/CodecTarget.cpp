// fuzz_codec: the 7-bit codec and the checksum against bit-by-bit reference versions, in buffers of exactly
// the sizes the header promises, so that AddressSanitizer sees a byte read or written past them.

#include <algorithm>

#include "fuzz/Support.h"
#include "update/Codec.h"

namespace velmora::fuzz {

namespace {

std::unique_ptr<std::uint8_t[]> exactBlock(std::size_t n) {
    return std::unique_ptr<std::uint8_t[]>(new std::uint8_t[n]);
}

// The input read as a packed run, as a device's packed data would arrive (top bits and all).
void checkUnpack(std::span<const std::uint8_t> input) {
    const ExactCopy packed(input);
    const std::size_t n = unpackedLength(packed.size());
    const auto out = exactBlock(n);
    require(unpack7(out.get(), packed.data(), packed.size()) == n, "unpack7 returns unpackedLength");

    // On 7-bit input (all a SysEx can carry) the data bytes are the reference's.
    Vec sevenBit(input.begin(), input.end());
    for (std::uint8_t& b : sevenBit) {
        b &= 0x7F;
    }
    const ExactCopy clean(sevenBit);
    require(unpack7(out.get(), clean.data(), clean.size()) == n, "unpack7 returns unpackedLength");
    const Vec expected = reference::unpack7(sevenBit);
    require(expected.size() == n && std::equal(expected.begin(), expected.end(), out.get()),
            "unpack7 gives the reference's bytes");

    // Packing them again gives the packed run back, less the header bits no data byte uses and a trailing
    // lone header byte.
    const std::size_t repackedLength = packedLength(n);
    require(repackedLength == packed.size() - (packed.size() % 8 == 1 ? 1 : 0),
            "packedLength inverts unpackedLength");
    const auto repacked = exactBlock(repackedLength);
    require(pack7(repacked.get(), out.get(), n) == repackedLength, "pack7 returns packedLength");
    for (std::size_t at = 0; at < repackedLength; ++at) {
        std::uint8_t want = sevenBit[at];
        if (at % 8 == 0) {
            const std::size_t used = std::min<std::size_t>(7, repackedLength - at - 1);
            want &= static_cast<std::uint8_t>(0x7F & ~(0x7F >> used));
        }
        require(repacked[at] == want, "pack7 undoes unpack7");
    }
}

// The input read as data to send.
void checkPack(std::span<const std::uint8_t> input) {
    const ExactCopy data(input);
    const std::size_t p = packedLength(data.size());
    const auto packed = exactBlock(p);
    require(pack7(packed.get(), data.data(), data.size()) == p, "pack7 returns packedLength");
    const Vec expected = reference::pack7(input);
    require(expected.size() == p && std::equal(expected.begin(), expected.end(), packed.get()),
            "pack7 gives the reference's bytes");
    require(std::all_of(packed.get(), packed.get() + p, [](std::uint8_t b) { return b < 0x80; }),
            "every packed byte is a SysEx data byte");
    require(unpackedLength(p) == data.size(), "unpackedLength inverts packedLength");
    const auto back = exactBlock(data.size());
    require(unpack7(back.get(), packed.get(), p) == data.size(), "unpack7 returns the data length");
    require(std::equal(input.begin(), input.end(), back.get()), "unpack7 undoes pack7");
}

void checkFields(std::span<const std::uint8_t> input) {
    std::uint8_t raw[5] = {};
    std::copy_n(input.begin(), std::min<std::size_t>(5, input.size()), raw);

    // A received field: decoded from exactly five bytes, the bits it carries, and encoded back without the
    // ones it cannot carry.
    const ExactCopy field({raw, 5});
    const std::uint32_t value = decode7x5(field.data());
    require(value == reference::decode7x5(raw),
            "decode7x5 reads the low 7 bits of four bytes and 4 of the fifth");
    const auto encoded = exactBlock(5);
    encode7x5(value, encoded.get());
    for (int i = 0; i < 5; ++i) {
        require(encoded[i] == (raw[i] & (i == 4 ? 0x0F : 0x7F)), "encode7x5 undoes decode7x5");
    }

    // A value to send: all 32 bits survive, in data bytes only.
    const std::uint32_t sent = static_cast<std::uint32_t>(raw[0]) | static_cast<std::uint32_t>(raw[1]) << 8 |
                               static_cast<std::uint32_t>(raw[2]) << 16 |
                               static_cast<std::uint32_t>(raw[3]) << 24;
    encode7x5(sent, encoded.get());
    require(std::all_of(encoded.get(), encoded.get() + 4, [](std::uint8_t b) { return b < 0x80; }) &&
                encoded[4] <= 0x0F,
            "encode7x5 writes data bytes, four bits in the last");
    require(decode7x5(encoded.get()) == sent, "decode7x5 undoes encode7x5 for every 32-bit value");

    // The 14-bit length field.
    const std::uint32_t length = sent & 0x3FFF;
    const auto twoBytes = exactBlock(2);
    encodeLength14(length, twoBytes.get());
    require(twoBytes[0] < 0x80 && twoBytes[1] < 0x80, "encodeLength14 writes data bytes");
    require(decodeLength14(twoBytes.get()) == length, "decodeLength14 undoes encodeLength14");
}

}  // namespace

void fuzzCodec(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> input(data, size);
    checkUnpack(input);
    checkPack(input);
    checkFields(input);
    const ExactCopy copy(input);
    require(checksum32(copy.data(), copy.size()) == reference::checksum32(input),
            "checksum32 equals the bitwise CRC");
}

}  // namespace velmora::fuzz
