#pragma once
// A JSON string literal, for the few small objects the page's C++ side hands to JavaScript (the texts, the
// demo device's verdict). Control characters are escaped too: a text with a line break must still parse.

#include <cstdio>
#include <string>
#include <string_view>

namespace velmora::web {

inline std::string jsonString(std::string_view text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c));
            out += escaped;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

}  // namespace velmora::web
