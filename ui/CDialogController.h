#pragma once
// What every updater window decides, written once and free of any toolkit: filling the port lists and
// pre-selecting the device's ports, Rescan Device, Execute, and closing in order. A window is only window
// code: it creates its controls, carries out the controller's calls on them (DialogWindow) and forwards the
// user's clicks. The controller is the update core's view: the worker's changes reach the window through a
// CUiCallGate, so each has taken effect before the worker goes on, and none waits any more once closing has
// begun.

#include <memory>
#include <string>
#include <vector>

#include "midi/MidiDriver.h"
#include "ui/CUiCallGate.h"
#include "update/Timing.h"
#include "update/UpdateView.h"

namespace velmora {
class CUpdateCore;
}

namespace velmora::ui {

// The window's side, always called on the window's own thread.
class DialogWindow {
  public:
    enum class Field { Status, Step };

    virtual ~DialogWindow() = default;
    // Replaces a list's entries and selects entry `selected`, -1 for none.
    virtual void fillList(ControlId list, const std::vector<std::string>& names, int selected) = 0;
    virtual int selectedIndex(ControlId list) = 0;
    virtual void setFieldText(Field field, const std::string& text) = 0;
    virtual void setProgressRange(int low, int high) = 0;
    virtual void setProgressPos(int pos) = 0;
    virtual void enableControl(ControlId id, bool enabled) = 0;
    // One error box owned by the window; returns once it has been answered.
    virtual void showErrorBox(const std::string& text) = 0;
    // The window is closing: a box still open (an error, the About box) goes with it.
    virtual void closeOwnedBoxes() = 0;
};

class CDialogController : public UpdateView {
  public:
    // `post` queues a task for the window's thread (see CUiCallGate); the constructing thread is the
    // window's.
    CDialogController(DialogWindow& window, midi::MidiDriver& driver, int instanceNumber, Timing timing,
                      CUiCallGate::Post post);
    // Closing if it has not begun; then the core goes: timer stopped, worker joined, ports released.
    ~CDialogController() override;
    CDialogController(const CDialogController&) = delete;
    CDialogController& operator=(const CDialogController&) = delete;

    // The window and its controls exist: lists filled, progress at 0 of 100, reply processing started.
    void start();
    // This copy's window title.
    std::string title() const;
    int instanceNumber() const { return instanceNumber_; }
    CUpdateCore& core() { return *core_; }

    // Refills both lists from the ports' enumeration and pre-selects the device's ports.
    void populateDeviceLists();
    // Refills the lists and makes Execute usable again; refused while an update runs, whose ports the lists
    // name.
    void onRescan();
    void onExecute();
    // Exit, Escape, the close box and the window's end all come here, once: the worker is released from
    // waiting for the window first, open boxes close, then the update is aborted.
    void beginClosing();

    // UpdateView: from the worker, through the gate; on the window's own thread, directly.
    void setStatusText(const std::string& text) override;
    void setStepText(const std::string& text) override;
    void setProgressRange(int low, int high) override;
    void setProgressPos(int pos) override;
    void enableControl(ControlId id, bool enabled) override;
    void showError(const std::string& text) override;
    int selectedInput() override;
    int selectedOutput() override;

  private:
    DialogWindow& window_;
    const int instanceNumber_;
    bool closing_ = false;
    CUiCallGate gate_;
    std::unique_ptr<CUpdateCore> core_;  // last: its worker uses everything above until it is joined
};

}  // namespace velmora::ui
