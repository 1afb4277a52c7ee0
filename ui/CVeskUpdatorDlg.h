#pragma once
// The program's only window: a fixed-size dialog with the two port lists, Execute, Exit, Rescan Device, the
// step counter, the status line and the progress bar. Window code only: what it decides (the lists, Rescan,
// Execute, closing in order) is the CDialogController's, which owns the update core and hands the window the
// worker's changes on the dialog's thread.

#include <QDialog>
#include <QPointer>
#include <functional>
#include <string>
#include <vector>

#include "midi/MidiDriver.h"
#include "ui/CDialogController.h"
#include "update/Timing.h"

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

class CVeskUpdatorDlg : public QDialog, private DialogWindow {
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
    CDialogController& controller() { return controller_; }
    CUpdateCore& core() { return controller_.core(); }
    int instanceNumber() const { return controller_.instanceNumber(); }

    void showAbout();

    // Exit, Escape and the window's close all end here: the update is aborted before the dialog goes.
    void done(int result) override;

  private:
    void buildControls();
    void addAboutEntry();
    QComboBox* list(ControlId id) const;

    // DialogWindow
    void fillList(ControlId list, const std::vector<std::string>& names, int selected) override;
    int selectedIndex(ControlId list) override;
    void setFieldText(Field field, const std::string& text) override;
    void setProgressRange(int low, int high) override;
    void setProgressPos(int pos) override;
    void enableControl(ControlId id, bool enabled) override;
    void showErrorBox(const std::string& text) override;
    void closeOwnedBoxes() override;

    BoxRunner boxRunner_;
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

    CDialogController controller_;  // last: its worker uses everything above until the destructor joins it
};

}  // namespace velmora::ui
