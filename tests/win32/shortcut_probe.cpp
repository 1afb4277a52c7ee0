// velmora-shortcut-probe: reads a Windows shortcut (.lnk) through the shell's own IShellLink, for the
// installer check under Wine, and prints its target, its working folder and its icon file, one per line
// (UTF-8).
//
//   velmora-shortcut-probe FILE.lnk
//
// Exit status 0 when the shortcut was read, 1 when it could not be, 2 on a usage error.

#include <windows.h>

// After windows.h, which it needs.
#include <shlobj.h>

#include <cstdio>

#include "i18n/WideText.h"

namespace {

void printLine(const wchar_t* text) {
    char buffer[4 * MAX_PATH] = {};
    ::WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, nullptr, nullptr);
    std::printf("%s\n", buffer);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: velmora-shortcut-probe FILE.lnk\n");
        return 2;
    }
    if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    IShellLinkW* link = nullptr;
    IPersistFile* file = nullptr;
    wchar_t target[MAX_PATH] = {};
    wchar_t folder[MAX_PATH] = {};
    wchar_t icon[MAX_PATH] = {};
    int iconIndex = 0;
    const bool read = SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                                   IID_IShellLinkW, reinterpret_cast<void**>(&link))) &&
                      SUCCEEDED(link->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))) &&
                      SUCCEEDED(file->Load(velmora::i18n::wide(argv[1]).c_str(), STGM_READ)) &&
                      SUCCEEDED(link->GetPath(target, MAX_PATH, nullptr, SLGP_RAWPATH)) &&
                      SUCCEEDED(link->GetWorkingDirectory(folder, MAX_PATH)) &&
                      SUCCEEDED(link->GetIconLocation(icon, MAX_PATH, &iconIndex));
    if (read) {
        printLine(target);
        printLine(folder);
        printLine(icon);
    } else {
        std::fprintf(stderr, "velmora-shortcut-probe: cannot read %s\n", argv[1]);
    }
    if (file != nullptr) {
        file->Release();
    }
    if (link != nullptr) {
        link->Release();
    }
    ::CoUninitialize();
    return read ? 0 : 1;
}
