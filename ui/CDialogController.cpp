#include "ui/CDialogController.h"

#include "midi/PortPreselect.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora::ui {

CDialogController::CDialogController(DialogWindow& window, midi::MidiDriver& driver, int instanceNumber,
                                     Timing timing, CUiCallGate::Post post)
    : window_(window),
      instanceNumber_(instanceNumber),
      gate_(std::move(post)),
      core_(std::make_unique<CUpdateCore>(driver, *this, timing)) {}

CDialogController::~CDialogController() {
    beginClosing();
    core_.reset();
}

void CDialogController::start() {
    populateDeviceLists();
    window_.setProgressRange(0, 100);
    window_.setProgressPos(0);
    core_->startPolling();
}

std::string CDialogController::title() const {
    return texts::instanceTitle(instanceNumber_);
}

void CDialogController::populateDeviceLists() {
    for (const auto& [list, names] : {std::pair{ControlId::MidiOut, midi::portNames(core_->outPort())},
                                      std::pair{ControlId::MidiIn, midi::portNames(core_->inPort())}}) {
        window_.fillList(list, names, midi::preselect(names, instanceNumber_));
    }
}

void CDialogController::onRescan() {
    if (core_->busy()) {
        return;
    }
    populateDeviceLists();
    core_->enableExecute(true);
}

void CDialogController::onExecute() {
    core_->onExecute();
}

void CDialogController::beginClosing() {
    if (closing_) {
        return;
    }
    closing_ = true;
    // First release the worker from waiting for this thread, which will soon wait for the worker.
    gate_.close();
    window_.closeOwnedBoxes();
    core_->abort();
}

void CDialogController::setStatusText(const std::string& text) {
    gate_.call([this, shown = texts::shownStatus(text)] {
        window_.setFieldText(DialogWindow::Field::Status, shown);
    });
}

void CDialogController::setStepText(const std::string& text) {
    gate_.call([this, text] { window_.setFieldText(DialogWindow::Field::Step, text); });
}

void CDialogController::setProgressRange(int low, int high) {
    gate_.call([this, low, high] { window_.setProgressRange(low, high); });
}

void CDialogController::setProgressPos(int pos) {
    gate_.call([this, pos] { window_.setProgressPos(pos); });
}

void CDialogController::enableControl(ControlId id, bool enabled) {
    gate_.call([this, id, enabled] { window_.enableControl(id, enabled); });
}

void CDialogController::showError(const std::string& text) {
    gate_.call([this, text] { window_.showErrorBox(text); });
}

int CDialogController::selectedInput() {
    return window_.selectedIndex(ControlId::MidiIn);
}

int CDialogController::selectedOutput() {
    return window_.selectedIndex(ControlId::MidiOut);
}

}  // namespace velmora::ui
