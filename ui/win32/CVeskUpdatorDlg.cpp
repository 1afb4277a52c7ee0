#include "ui/win32/CVeskUpdatorDlg.h"

#include <commctrl.h>

#include <utility>
#include <vector>

#include "midi/PortPreselect.h"
#include "ui/DialogTexts.h"
#include "ui/win32/CAboutDlg.h"
#include "ui/win32/ResourceIds.h"
#include "ui/win32/WideText.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora::ui {

namespace {

// Posted to the dialog whenever the worker has queued a change of its controls.
constexpr UINT kRunPosted = WM_APP + 1;

HINSTANCE module() {
    return ::GetModuleHandleW(nullptr);
}

void fillList(HWND list, const std::vector<std::string>& names, int instanceNumber) {
    ::SendMessageW(list, CB_RESETCONTENT, 0, 0);
    for (const std::string& name : names) {
        ::SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide(name).c_str()));
    }
    // -1 clears the field: a list without a match shows no selection.
    ::SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(midi::preselect(names, instanceNumber)), 0);
}

BOOL CALLBACK endOwnedDialog(HWND window, LPARAM owner) {
    if (::GetWindow(window, GW_OWNER) == reinterpret_cast<HWND>(owner)) {
        ::EndDialog(window, IDCANCEL);
    }
    return TRUE;
}

}  // namespace

CVeskUpdatorDlg::CVeskUpdatorDlg(midi::MidiDriver& driver, int instanceNumber, Timing timing)
    : instanceNumber_(instanceNumber),
      appIcon_(::LoadIconW(module(), MAKEINTRESOURCEW(VELMORA_IDI_APP))),
      boxRunner_([](HWND owner, const std::wstring& text, const std::wstring& caption) {
          ::MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
      }),
      gate_([this](std::function<void()> task) { post(std::move(task)); }),
      core_(std::make_unique<CUpdateCore>(driver, *this, timing)) {}

CVeskUpdatorDlg::~CVeskUpdatorDlg() {
    beginClosing();
    core_.reset();  // timer stopped, worker joined, ports released
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
            beginClosing();
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

    populateDeviceLists();
    core_->startPolling();
    ::SendMessageW(item(VELMORA_IDC_PROGRESS), PBM_SETRANGE32, 0, 100);
    ::SendMessageW(item(VELMORA_IDC_PROGRESS), PBM_SETPOS, 0, 0);
    ::SetWindowTextW(dialog, wide(texts::instanceTitle(instanceNumber_)).c_str());
    if (onInitialised_) {
        onInitialised_(dialog);
    }
}

bool CVeskUpdatorDlg::onCommand(int id) {
    switch (id) {
        case VELMORA_IDC_EXECUTE:
            onExecute();
            return true;
        case VELMORA_IDC_EXIT:  // Exit, Escape and the close box: no question, also during an update
            beginClosing();
            ::EndDialog(window(), IDCANCEL);
            return true;
        case VELMORA_IDC_RESCAN:
            onRescan();
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

void CVeskUpdatorDlg::populateDeviceLists() {
    fillList(item(VELMORA_IDC_MIDI_OUT), midi::portNames(core_->outPort()), instanceNumber_);
    fillList(item(VELMORA_IDC_MIDI_IN), midi::portNames(core_->inPort()), instanceNumber_);
}

void CVeskUpdatorDlg::onRescan() {
    populateDeviceLists();
    core_->enableExecute(true);
}

void CVeskUpdatorDlg::onExecute() {
    core_->onExecute();
}

void CVeskUpdatorDlg::showAbout() {
    CAboutDlg about;
    about.doModal(window());
}

void CVeskUpdatorDlg::beginClosing() {
    if (closing_) {
        return;
    }
    closing_ = true;
    // First release the worker from waiting for this thread, which will soon wait for the worker.
    gate_.close();
    if (const HWND dialog = window()) {
        // A box the closing interrupted (an error, the About box) goes with the window.
        ::EnumThreadWindows(::GetCurrentThreadId(), &endOwnedDialog, reinterpret_cast<LPARAM>(dialog));
    }
    core_->abort();
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

void CVeskUpdatorDlg::setFieldText(int id, const std::string& text) {
    gate_.call([this, id, value = wide(text)] { ::SetDlgItemTextW(window(), id, value.c_str()); });
}

void CVeskUpdatorDlg::setStatusText(const std::string& text) {
    setFieldText(VELMORA_IDC_STATUS, texts::shownStatus(text));
}

void CVeskUpdatorDlg::setStepText(const std::string& text) {
    setFieldText(VELMORA_IDC_STEP, text);
}

void CVeskUpdatorDlg::setProgressRange(int low, int high) {
    gate_.call([this, low, high] { ::SendMessageW(item(VELMORA_IDC_PROGRESS), PBM_SETRANGE32, low, high); });
}

void CVeskUpdatorDlg::setProgressPos(int pos) {
    gate_.call([this, pos] { ::SendMessageW(item(VELMORA_IDC_PROGRESS), PBM_SETPOS, pos, 0); });
}

void CVeskUpdatorDlg::enableControl(ControlId id, bool enabled) {
    gate_.call([this, id, enabled] {
        const HWND dialog = window();
        const HWND control = item(static_cast<int>(id));
        // A disabled control loses the focus, and with no focus at all the keys never reach the dialog. The
        // dialog itself keeps it rather than Exit, the only button left during an update: Escape still
        // closes, and Return, finding Execute disabled, does nothing.
        if (!enabled && ::GetFocus() == control) {
            focusOnDialog_ = true;
            ::SetFocus(dialog);
        }
        ::EnableWindow(control, enabled ? TRUE : FALSE);
        if (enabled && focusOnDialog_) {
            ::SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
        }
    });
}

void CVeskUpdatorDlg::showError(const std::string& text) {
    gate_.call([this, value = wide(text)] {
        boxRunner_(window(), value, wide(texts::shown(texts::kErrorCaption)));
    });
}

int CVeskUpdatorDlg::selectedInput() {
    return static_cast<int>(::SendMessageW(item(VELMORA_IDC_MIDI_IN), CB_GETCURSEL, 0, 0));
}

int CVeskUpdatorDlg::selectedOutput() {
    return static_cast<int>(::SendMessageW(item(VELMORA_IDC_MIDI_OUT), CB_GETCURSEL, 0, 0));
}

}  // namespace velmora::ui
