#include "ui/win32/CVeskUpdatorDlg.h"

#include <commctrl.h>

#include <utility>
#include <vector>

#include "i18n/WideText.h"
#include "ui/DialogTexts.h"
#include "ui/win32/CAboutDlg.h"
#include "ui/win32/ResourceIds.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora::ui {

using i18n::wide;

namespace {

// Posted to the dialog whenever the worker has queued a change of its controls.
constexpr UINT kRunPosted = WM_APP + 1;

HINSTANCE module() {
    return ::GetModuleHandleW(nullptr);
}

BOOL CALLBACK endOwnedDialog(HWND window, LPARAM owner) {
    if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner)) {
        ::EndDialog(window, IDCANCEL);
    }
    return TRUE;
}

}  // namespace

CVeskUpdatorDlg::CVeskUpdatorDlg(midi::MidiDriver& driver, int instanceNumber, Timing timing)
    : appIcon_(::LoadIconW(module(), MAKEINTRESOURCEW(VELMORA_IDI_APP))),
      boxRunner_([](HWND owner, const std::wstring& text, const std::wstring& caption) {
          ::MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
      }),
      controller_(*this, driver, instanceNumber, timing,
                  [this](std::function<void()> task) { post(std::move(task)); }) {}

CVeskUpdatorDlg::~CVeskUpdatorDlg() {
    controller_.beginClosing();
}

INT_PTR CVeskUpdatorDlg::doModal(HWND owner) {
    return ::DialogBoxParamW(module(), MAKEINTRESOURCEW(VELMORA_IDD_UPDATER), owner,
                             &CVeskUpdatorDlg::dialogProc, reinterpret_cast<LPARAM>(this));
}

void CVeskUpdatorDlg::setBoxRunner(BoxRunner runner) {
    boxRunner_ = std::move(runner);
}

void CVeskUpdatorDlg::setOnInitialised(std::function<void(HWND)> hook) {
    onInitialised_ = std::move(hook);
}

INT_PTR CALLBACK CVeskUpdatorDlg::dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        ::SetWindowLongPtrW(window, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CVeskUpdatorDlg*>(lParam);
        self->window_.store(window);
    }
    auto* self = reinterpret_cast<CVeskUpdatorDlg*>(::GetWindowLongPtrW(window, DWLP_USER));
    return self != nullptr ? self->handle(message, wParam, lParam) : FALSE;
}

INT_PTR CVeskUpdatorDlg::handle(UINT message, WPARAM wParam, LPARAM /*lParam*/) {
    switch (message) {
        case WM_INITDIALOG:
            onInitDialog();
            return TRUE;  // the system focuses the first tab stop, Execute
        case WM_SYSCOMMAND:
            return onSysCommand(wParam) ? TRUE : FALSE;
        case WM_PAINT:
            return onPaint() ? TRUE : FALSE;
        case WM_QUERYDRAGICON:
            return reinterpret_cast<INT_PTR>(appIcon_);
        case WM_COMMAND:
            return onCommand(LOWORD(wParam)) ? TRUE : FALSE;
        case WM_SETFOCUS:
            // The dialog's default would hand the focus straight on to a control, perhaps a disabled one.
            return focusOnDialog_ ? TRUE : FALSE;
        case WM_KILLFOCUS:
            focusOnDialog_ = false;
            return FALSE;
        case kRunPosted:
            runPosted();
            return TRUE;
        case WM_DESTROY:
            controller_.beginClosing();
            return FALSE;
        case WM_NCDESTROY:
            window_.store(nullptr);
            return FALSE;
        default:
            return FALSE;
    }
}

void CVeskUpdatorDlg::onInitDialog() {
    const HWND dialog = window();
    if (HMENU menu = ::GetSystemMenu(dialog, FALSE)) {
        // The string table's text (101) in English; its translation in another language.
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, VELMORA_IDM_ABOUT, wide(texts::shown(texts::kAboutMenu)).c_str());
    }
    for (const auto& [id, label] : {std::pair{VELMORA_IDC_EXECUTE, labels::kExecute},
                                    {VELMORA_IDC_EXIT, labels::kExit},
                                    {VELMORA_IDC_RESCAN, labels::kRescan},
                                    {VELMORA_IDC_MIDI_IN_LABEL, labels::kMidiIn},
                                    {VELMORA_IDC_MIDI_OUT_LABEL, labels::kMidiOut}}) {
        ::SetDlgItemTextW(dialog, id, wide(labels::shown(label)).c_str());
    }
    const auto smallIcon = static_cast<HICON>(::LoadImageW(module(), MAKEINTRESOURCEW(VELMORA_IDI_APP),
                                                           IMAGE_ICON, ::GetSystemMetrics(SM_CXSMICON),
                                                           ::GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    ::SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(appIcon_));
    ::SendMessageW(dialog, WM_SETICON, ICON_SMALL,
                   reinterpret_cast<LPARAM>(smallIcon ? smallIcon : appIcon_));

    controller_.start();
    ::SetWindowTextW(dialog, wide(controller_.title()).c_str());
    if (onInitialised_) {
        onInitialised_(dialog);
    }
}

bool CVeskUpdatorDlg::onCommand(int id) {
    switch (id) {
        case VELMORA_IDC_EXECUTE:
            controller_.onExecute();
            return true;
        case VELMORA_IDC_EXIT:  // Exit, Escape and the close box: no question, also during an update
            controller_.beginClosing();
            ::EndDialog(window(), IDCANCEL);
            return true;
        case VELMORA_IDC_RESCAN:
            controller_.onRescan();
            return true;
        default:
            return false;
    }
}

bool CVeskUpdatorDlg::onSysCommand(WPARAM command) {
    if ((command & 0xFFF0) != VELMORA_IDM_ABOUT) {
        return false;  // move, close and the rest: the system's
    }
    showAbout();
    return true;
}

bool CVeskUpdatorDlg::onPaint() {
    const HWND dialog = window();
    if (!::IsIconic(dialog)) {
        return false;
    }
    PAINTSTRUCT paint;
    const HDC dc = ::BeginPaint(dialog, &paint);
    ::SendMessageW(dialog, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    RECT client;
    ::GetClientRect(dialog, &client);
    const int x = (client.right - client.left - ::GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - ::GetSystemMetrics(SM_CYICON) + 1) / 2;
    ::DrawIcon(dc, x, y, appIcon_);
    ::EndPaint(dialog, &paint);
    return true;
}

void CVeskUpdatorDlg::showAbout() {
    CAboutDlg about;
    about.doModal(window());
}

void CVeskUpdatorDlg::closeOwnedBoxes() {
    if (const HWND dialog = window()) {
        ::EnumThreadWindows(::GetCurrentThreadId(), &endOwnedDialog, reinterpret_cast<LPARAM>(dialog));
    }
}

void CVeskUpdatorDlg::post(std::function<void()> task) {
    {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(std::move(task));
    }
    // Before the window exists or after it has gone the message goes nowhere; the gate then releases the
    // caller when it closes.
    if (const HWND dialog = window()) {
        ::PostMessageW(dialog, kRunPosted, 0, 0);
    }
}

void CVeskUpdatorDlg::runPosted() {
    std::deque<std::function<void()>> tasks;
    {
        std::lock_guard lock(postedMutex_);
        tasks.swap(posted_);
    }
    for (auto& task : tasks) {
        task();
    }
}

HWND CVeskUpdatorDlg::item(int id) const {
    return ::GetDlgItem(window(), id);
}

void CVeskUpdatorDlg::fillList(ControlId list, const std::vector<std::string>& names, int selected) {
    const HWND combo = item(static_cast<int>(list));
    ::SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : names) {
        ::SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(name).c_str()));
    }
    // -1 clears the field: a list without a match shows no selection.
    ::SendMessageW(combo, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

int CVeskUpdatorDlg::selectedIndex(ControlId list) {
    return static_cast<int>(::SendMessageW(item(static_cast<int>(list)), CB_GETCURSEL, 0, 0));
}

void CVeskUpdatorDlg::setFieldText(Field field, const std::string& text) {
    ::SetDlgItemTextW(window(), field == Field::Status ? VELMORA_IDC_STATUS : VELMORA_IDC_STEP,
                      wide(text).c_str());
}

void CVeskUpdatorDlg::setProgressRange(int low, int high) {
    ::SendMessageW(item(VELMORA_IDC_PROGRESS), PBM_SETRANGE32, low, high);
}

void CVeskUpdatorDlg::setProgressPos(int pos) {
    ::SendMessageW(item(VELMORA_IDC_PROGRESS), PBM_SETPOS, pos, 0);
}

void CVeskUpdatorDlg::enableControl(ControlId id, bool enabled) {
    const HWND dialog = window();
    const HWND control = item(static_cast<int>(id));
    // A disabled control loses the focus, and with no focus at all the keys never reach the dialog. The
    // dialog itself keeps it rather than Exit, the only button left during an update: Escape still closes,
    // and Return, finding Execute disabled, does nothing.
    if (!enabled && ::GetFocus() == control) {
        focusOnDialog_ = true;
        ::SetFocus(dialog);
    }
    ::EnableWindow(control, enabled ? TRUE : FALSE);
    if (enabled && focusOnDialog_) {
        ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
    }
}

void CVeskUpdatorDlg::showErrorBox(const std::string& text) {
    boxRunner_(window(), wide(text), wide(texts::shown(texts::kErrorCaption)));
}

}  // namespace velmora::ui
