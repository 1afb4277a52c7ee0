#include "cli/TextWidth.h"

namespace velmora::cli {

std::size_t characterLength(std::string_view s, std::size_t at) {
    const auto byte = [&s](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const unsigned char lead = byte(at);
    std::size_t length = 0;
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        low = lead == 0xC2 ? 0xA0 : 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (at + length > s.size() || byte(at + 1) < low || byte(at + 1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

namespace {

// One character at `at`: its code point and length; a byte that starts no whole character reads as itself,
// one byte long.
char32_t decode(std::string_view s, std::size_t at, std::size_t& length) {
    const auto lead = static_cast<unsigned char>(s[at]);
    length = characterLength(s, at);
    if (length == 0) {
        length = 1;
        return lead;
    }
    char32_t c = lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        c = (c << 6) | (static_cast<unsigned char>(s[at + i]) & 0x3F);
    }
    return c;
}

// East Asian wide and fullwidth characters: the blocks Japanese text uses, and the rest of CJK.
bool wide(char32_t c) {
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
           (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFE30 && c <= 0xFE4F) ||
           (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x20000 && c <= 0x3FFFD);
}

}  // namespace

std::size_t displayWidth(std::string_view text) {
    std::size_t columns = 0;
    for (std::size_t i = 0, length = 0; i < text.size(); i += length) {
        columns += wide(decode(text, i, length)) ? 2 : 1;
    }
    return columns;
}

std::string fitWidth(std::string_view text, std::size_t columns) {
    std::size_t used = 0;
    std::size_t i = 0;
    for (std::size_t length = 0; i < text.size(); i += length) {
        const std::size_t w = wide(decode(text, i, length)) ? 2 : 1;
        if (used + w > columns) {
            break;
        }
        used += w;
    }
    return std::string(text.substr(0, i));
}

std::string padWidth(std::string_view text, std::size_t columns) {
    std::string out(text);
    const std::size_t width = displayWidth(text);
    if (width < columns) {
        out.append(columns - width, ' ');
    }
    return out;
}

}  // namespace velmora::cli
