#include "app/win32/CVeskUpdatorApp.h"

#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <array>

#include "app/StartDecision.h"
#include "i18n/Catalogue.h"
#include "i18n/WideText.h"

namespace velmora::app {

CVeskUpdatorApp::CVeskUpdatorApp(std::string lockSuffix) : lockSuffix_(std::move(lockSuffix)) {
    i18n::useLanguageOfEnvironment();  // the user's display language, before any text is made
}

CVeskUpdatorApp::~CVeskUpdatorApp() = default;

int CVeskUpdatorApp::run(const DialogRunner& runDialog) {
    // Every standard control class, the progress bar among them.
    INITCOMMONCONTROLSEX classes{sizeof(INITCOMMONCONTROLSEX), ICC_WIN95_CLASSES};
    ::InitCommonControlsEx(&classes);

    const StartDecision start = decideStart(instanceLock_, lockSuffix_);
    instanceNumber_ = start.instanceNumber;
    if (instanceNumber_ == 0) {
        ::MessageBoxW(nullptr, i18n::wide(start.message).c_str(), i18n::wide(programName()).c_str(),
                      MB_OK | (start.box == StartDecision::Box::Error ? MB_ICONERROR : MB_ICONWARNING));
        return start.exitStatus;
    }
    runDialog(*this);
    return 0;
}

std::string CVeskUpdatorApp::programName() {
    std::array<wchar_t, MAX_PATH> path{};
    const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    std::wstring name(path.data(), length);
    name = name.substr(name.find_last_of(L"\\/") + 1);
    if (name.size() > 4 && ::lstrcmpiW(name.c_str() + name.size() - 4, L".exe") == 0) {
        name.resize(name.size() - 4);
    }
    return i18n::narrow(name);
}

}  // namespace velmora::app
