#include "update/Codec.h"

#include <array>

namespace velmora {

namespace {

constexpr std::array<std::uint32_t, 256> makeCrcTable() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit) {
            c = (c & 1u) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        }
        table[i] = c;
    }
    return table;
}

constexpr std::array<std::uint32_t, 256> kCrcTable = makeCrcTable();

}  // namespace

std::size_t pack7(std::uint8_t* dst, const std::uint8_t* src, std::size_t n) {
    std::size_t out = 0;
    for (std::size_t in = 0; in < n; in += 7) {
        const std::size_t m = n - in < 7 ? n - in : 7;
        std::uint8_t header = 0;
        for (std::size_t j = 0; j < m; ++j) {
            const std::uint8_t d = src[in + j];
            dst[out + 1 + j] = d & 0x7F;
            if ((d & 0x80) != 0) {
                header = static_cast<std::uint8_t>(header | (0x40 >> j));
            }
        }
        dst[out] = header;
        out += m + 1;
    }
    return out;
}

std::size_t unpack7(std::uint8_t* dst, const std::uint8_t* src, std::size_t packedLen) {
    std::size_t out = 0;
    for (std::size_t in = 0; in < packedLen; in += 8) {
        const std::size_t k = packedLen - in >= 8 ? 7 : packedLen - in - 1;
        const std::uint8_t header = src[in];
        for (std::size_t j = 0; j < k; ++j) {
            const bool top = (header & (0x40 >> j)) != 0;
            dst[out + j] = static_cast<std::uint8_t>(src[in + 1 + j] | (top ? 0x80 : 0x00));
        }
        out += k;
    }
    return out;
}

void encode7x5(std::uint32_t value, std::uint8_t* dst) {
    for (int i = 0; i < 4; ++i) {
        dst[i] = static_cast<std::uint8_t>((value >> (7 * i)) & 0x7F);
    }
    dst[4] = static_cast<std::uint8_t>((value >> 28) & 0x0F);
}

std::uint32_t decode7x5(const std::uint8_t* src) {
    std::uint32_t value = static_cast<std::uint32_t>(src[4] & 0x0F) << 28;
    for (int i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(src[i] & 0x7F) << (7 * i);
    }
    return value;
}

void encodeLength14(std::uint32_t length, std::uint8_t* dst) {
    dst[0] = static_cast<std::uint8_t>(length & 0x7F);
    dst[1] = static_cast<std::uint8_t>((length >> 7) & 0x7F);
}

std::uint32_t decodeLength14(const std::uint8_t* src) {
    return static_cast<std::uint32_t>(src[0]) + 128u * static_cast<std::uint32_t>(src[1]);
}

std::uint32_t checksum32(const std::uint8_t* data, std::size_t n) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < n; ++i) {
        crc = (crc >> 8) ^ kCrcTable[(crc ^ data[i]) & 0xFFu];
    }
    return crc;
}

}  // namespace velmora
