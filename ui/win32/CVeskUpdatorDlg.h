#pragma once
// The program's only window on Windows, built by the system from dialog template 103. Window code only: what
// it decides is the CDialogController's, whose calls from the worker are queued for the dialog's thread and
// announced with a posted message.

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "midi/MidiDriver.h"
#include "ui/CDialogController.h"
#include "update/Timing.h"

namespace velmora {
class CUpdateCore;
}

namespace velmora::ui {

class CVeskUpdatorDlg : private DialogWindow {
  public:
    // Shows one error box owned by the dialog and returns once it has been answered. Tests put in one that
    // answers by itself.
    using BoxRunner = std::function<void(HWND owner, const std::wstring& text, const std::wstring& caption)>;

    // The window does not exist yet: doModal() creates it, fills the port lists and starts reply processing.
    CVeskUpdatorDlg(midi::MidiDriver& driver, int instanceNumber, Timing timing = {});
    // Aborts a running update, stops reply processing, waits for the worker, then lets the ports go.
    ~CVeskUpdatorDlg() override;
    CVeskUpdatorDlg(const CVeskUpdatorDlg&) = delete;
    CVeskUpdatorDlg& operator=(const CVeskUpdatorDlg&) = delete;

    // Runs the dialog modally until Exit, Escape or the close box; the command that ended it.
    INT_PTR doModal(HWND owner = nullptr);

    void setBoxRunner(BoxRunner runner);
    // Called on the dialog's thread once the window and its controls exist (tests drive the dialog from it).
    void setOnInitialised(std::function<void(HWND)> hook);

    HWND window() const { return window_.load(); }
    CDialogController& controller() { return controller_; }
    CUpdateCore& core() { return controller_.core(); }
    int instanceNumber() const { return controller_.instanceNumber(); }

    void showAbout();

  private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onInitDialog();
    bool onCommand(int id);
    bool onSysCommand(WPARAM command);
    bool onPaint();
    void post(std::function<void()> task);
    void runPosted();
    HWND item(int id) const;

    // DialogWindow
    void fillList(ControlId list, const std::vector<std::string>& names, int selected) override;
    int selectedIndex(ControlId list) override;
    void setFieldText(Field field, const std::string& text) override;
    void setProgressRange(int low, int high) override;
    void setProgressPos(int pos) override;
    void enableControl(ControlId id, bool enabled) override;
    void showErrorBox(const std::string& text) override;
    void closeOwnedBoxes() override;

    const HICON appIcon_;
    BoxRunner boxRunner_;
    std::function<void(HWND)> onInitialised_;
    std::atomic<HWND> window_{nullptr};
    bool focusOnDialog_ = false;  // while the control that had the focus is disabled

    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;  // run by the next kRunPosted message

    CDialogController controller_;  // last: its worker uses everything above until the destructor joins it
};

}  // namespace velmora::ui
