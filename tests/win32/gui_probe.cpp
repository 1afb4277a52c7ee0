// velmora-gui-probe: looks at the updater's dialog from outside, for the Wine GUI check. A console program
// run in the same Wine prefix; it finds the dialog by its exact title and reads its controls with the same
// messages any other program could send.
//
//   velmora-gui-probe wait-window TITLE MS         the window exists within MS milliseconds
//   velmora-gui-probe wait-text TITLE ID TEXT MS   control ID's text starts with TEXT within MS; prints it
//   velmora-gui-probe enabled TITLE ID             prints 1 or 0
//   velmora-gui-probe command TITLE ID             a click on button ID
//   velmora-gui-probe close TITLE                  the close box: the window menu's Close command
//
// Exit status 0 on success, 1 when the condition did not come true in time, 2 on a usage error.

#include <windows.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace {

std::wstring wide(const char* text) {
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    std::wstring result(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text, -1, result.data(), length);
    result.resize(static_cast<std::size_t>(length > 0 ? length - 1 : 0));
    return result;
}

std::string narrow(const std::wstring& text) {
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, result.data(), size, nullptr, nullptr);
    result.resize(static_cast<std::size_t>(size > 0 ? size - 1 : 0));
    return result;
}

HWND dialog(const std::wstring& title) {
    return ::FindWindowW(L"#32770", title.c_str());
}

// The text of another process's control: WM_GETTEXT is carried across processes by the system.
bool controlText(HWND window, int id, std::wstring* text) {
    const HWND control = ::GetDlgItem(window, id);
    if (control == nullptr) {
        return false;
    }
    wchar_t buffer[512] = {};
    DWORD_PTR copied = 0;
    if (::SendMessageTimeoutW(control, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(buffer), SMTO_ABORTIFHUNG,
                              1000, &copied) == 0) {
        return false;
    }
    *text = std::wstring(buffer, copied);
    return true;
}

template <typename Condition>
bool waitFor(int milliseconds, Condition condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

int usage() {
    std::fprintf(stderr, "usage: velmora-gui-probe wait-window|wait-text|enabled|command|close TITLE ...\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        return usage();
    }
    const std::string command = argv[1];
    const std::wstring title = wide(argv[2]);
    if (command == "wait-window" && argc == 4) {
        return waitFor(std::atoi(argv[3]), [&] { return dialog(title) != nullptr; }) ? 0 : 1;
    }
    if (command == "wait-text" && argc == 6) {
        const int id = std::atoi(argv[3]);
        const std::wstring expected = wide(argv[4]);
        std::wstring text;
        const bool seen = waitFor(std::atoi(argv[5]), [&] {
            return controlText(dialog(title), id, &text) && text.compare(0, expected.size(), expected) == 0;
        });
        std::printf("%s\n", narrow(text).c_str());
        return seen ? 0 : 1;
    }
    const HWND window = dialog(title);
    if (window == nullptr) {
        std::fprintf(stderr, "velmora-gui-probe: no window \"%s\"\n", argv[2]);
        return 1;
    }
    if (command == "enabled" && argc == 4) {
        std::printf("%d\n", ::IsWindowEnabled(::GetDlgItem(window, std::atoi(argv[3]))) ? 1 : 0);
        return 0;
    }
    if (command == "command" && argc == 4) {
        const int id = std::atoi(argv[3]);
        const auto button = reinterpret_cast<LPARAM>(::GetDlgItem(window, id));
        return ::PostMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), button) ? 0 : 1;
    }
    if (command == "close" && argc == 3) {
        return ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0) ? 0 : 1;
    }
    return usage();
}
