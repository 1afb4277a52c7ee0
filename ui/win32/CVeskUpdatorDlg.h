#pragma once
// The program's only window on Windows, built by the system from dialog template 103. It owns the update core
// and is its view: the worker's changes are queued for the dialog's thread and announced with a posted
// message; a CUiCallGate makes the worker wait until each has run, and stop waiting once the dialog begins to
// close.

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "midi/MidiDriver.h"
#include "ui/CUiCallGate.h"
#include "update/Timing.h"
#include "update/UpdateView.h"

namespace velmora {
class CUpdateCore;
}

namespace velmora::ui {

class CVeskUpdatorDlg : public UpdateView {
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
    CUpdateCore& core() { return *core_; }
    int instanceNumber() const { return instanceNumber_; }

    void populateDeviceLists();
    void onRescan();
    void onExecute();
    void showAbout();

    // UpdateView: from the worker, through the gate; on the dialog's own thread, directly.
    void setStatusText(const std::string& text) override;
    void setStepText(const std::string& text) override;
    void setProgressRange(int low, int high) override;
    void setProgressPos(int pos) override;
    void enableControl(ControlId id, bool enabled) override;
    void showError(const std::string& text) override;
    int selectedInput() override;
    int selectedOutput() override;

  private:
    static INT_PTR CALLBACK dialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR handle(UINT message, WPARAM wParam, LPARAM lParam);
    void onInitDialog();
    bool onCommand(int id);
    bool onSysCommand(WPARAM command);
    bool onPaint();
    // Exit, Escape, the close box and the window's end all come here: the update is aborted first.
    void beginClosing();
    void post(std::function<void()> task);
    void runPosted();
    void setFieldText(int id, const std::string& text);
    HWND item(int id) const;

    const int instanceNumber_;
    const HICON appIcon_;
    BoxRunner boxRunner_;
    std::function<void(HWND)> onInitialised_;
    std::atomic<HWND> window_{nullptr};
    bool closing_ = false;
    bool focusOnDialog_ = false;  // while the control that had the focus is disabled

    std::mutex postedMutex_;
    std::deque<std::function<void()>> posted_;  // run by the next kRunPosted message

    CUiCallGate gate_;
    std::unique_ptr<CUpdateCore>
        core_;  // last: its worker uses everything above until the destructor joins it
};

}  // namespace velmora::ui
