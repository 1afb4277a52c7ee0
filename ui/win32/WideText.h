#pragma once
// Texts are UTF-8 inside the program; the window functions take UTF-16.

#include <windows.h>

#include <string>

namespace velmora::ui {

inline std::wstring wide(const std::string& utf8) {
    if (utf8.empty()) {
        return {};
    }
    const int size = static_cast<int>(utf8.size());
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring text(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, text.data(), length);
    return text;
}

}  // namespace velmora::ui
