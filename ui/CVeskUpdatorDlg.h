#pragma once
// The program's only window: a fixed-size dialog with the two port lists, Execute, Exit, Rescan Device, the
// step counter, the status line and the progress bar. It owns the update core and is the core's view: the
// worker's changes reach the controls through a CUiCallGate, so each has taken effect before the worker goes
// on, and none waits any more once the dialog has started to close.

#include <QDialog>
#include <QPointer>
#include <functional>
#include <memory>
#include <string>

#include "midi/MidiDriver.h"
#include "ui/CUiCallGate.h"
#include "update/Timing.h"
#include "update/UpdateView.h"

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QMessageBox;
class QProgressBar;
class QPushButton;

namespace velmora {
class CUpdateCore;
}

namespace velmora::ui {

// Control ids, also the "controlId" property of each control.
namespace controls {
inline constexpr int kExecute = static_cast<int>(ControlId::Execute);
inline constexpr int kExit = 2;
inline constexpr int kMidiIn = static_cast<int>(ControlId::MidiIn);
inline constexpr int kMidiOut = static_cast<int>(ControlId::MidiOut);
inline constexpr int kProgress = 1002;
inline constexpr int kStatus = 1003;
inline constexpr int kRescan = static_cast<int>(ControlId::Rescan);
inline constexpr int kStep = 1006;
}  // namespace controls

class CVeskUpdatorDlg : public QDialog, public UpdateView {
    Q_OBJECT

  public:
    // Shows one error box and returns once it has been answered. Tests put in one that answers by itself.
    using BoxRunner = std::function<void(QMessageBox& box)>;

    // Fills the port lists and starts reply processing: the dialog is ready when the constructor returns.
    CVeskUpdatorDlg(midi::MidiDriver& driver, int instanceNumber, Timing timing = {},
                    QWidget* parent = nullptr);
    // Aborts a running update, stops reply processing, waits for the worker, then lets the ports go.
    ~CVeskUpdatorDlg() override;

    void setBoxRunner(BoxRunner runner);

    // The control with this id (controls::k...), nullptr for none.
    QWidget* control(int id) const;
    QAction* aboutAction() const { return aboutAction_; }
    CUpdateCore& core() { return *core_; }
    int instanceNumber() const { return instanceNumber_; }

    // Refills both port lists from the ports' enumeration and pre-selects the device's ports.
    void populateDeviceLists();
    void onRescan();
    void onExecute();
    void showAbout();

    // Exit, Escape and the window's close all end here: the update is aborted before the dialog goes.
    void done(int result) override;

    // UpdateView: from the worker, through the gate; on the dialog's own thread, directly.
    void setStatusText(const std::string& text) override;
    void setStepText(const std::string& text) override;
    void setProgressRange(int low, int high) override;
    void setProgressPos(int pos) override;
    void enableControl(ControlId id, bool enabled) override;
    void showError(const std::string& text) override;
    // Read on the dialog's own thread only (from onExecute).
    int selectedInput() override;
    int selectedOutput() override;

  protected:
#ifdef Q_OS_WIN
    void showEvent(QShowEvent* event) override;
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
#endif

  private:
    void buildControls();
    void addAboutEntry();
    void runErrorBox(const QString& text);
    void beginClosing();

    const int instanceNumber_;
    BoxRunner boxRunner_;
    bool closing_ = false;
    QPointer<QMessageBox> activeBox_;

    QPushButton* execute_ = nullptr;
    QPushButton* exit_ = nullptr;
    QLabel* midiInLabel_ = nullptr;
    QLabel* midiOutLabel_ = nullptr;
    QComboBox* midiIn_ = nullptr;
    QComboBox* midiOut_ = nullptr;
    QProgressBar* progress_ = nullptr;
    QLineEdit* status_ = nullptr;
    QPushButton* rescan_ = nullptr;
    QLineEdit* step_ = nullptr;
    QAction* aboutAction_ = nullptr;
#ifdef Q_OS_WIN
    bool systemMenuExtended_ = false;
#endif

    CUiCallGate gate_;
    std::unique_ptr<CUpdateCore>
        core_;  // last: its worker uses everything above until the destructor joins it
};

}  // namespace velmora::ui
