#pragma once
// printf into a std::string: for the texts that need a number in a fixed form (hex addresses, rates).

#include <cstdio>
#include <string>

namespace velmora {

template <typename... Args>
std::string format(const char* pattern, Args... args) {
    const int length = std::snprintf(nullptr, 0, pattern, args...);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length), '\0');
    std::snprintf(text.data(), text.size() + 1, pattern, args...);
    return text;
}

}  // namespace velmora
