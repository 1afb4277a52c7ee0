#pragma once
// What the update procedure needs from a window. The dialog implements it with Qt, the command line with a
// terminal, the tests with a recorder.
//
// Calls come from the worker thread (texts, progress, enabled states, error boxes) and must have taken
// effect, in order, when they return. After the owner has called CUpdateCore::abort() they must return
// without waiting for the owner's thread, which may by then be waiting for the worker to end.

#include <cstdint>
#include <string>

#include "update/FlashPlan.h"

namespace velmora {

// The controls an update enables and disables, by their dialog ids.
enum class ControlId : int { Execute = 1, MidiIn = 1000, MidiOut = 1001, Rescan = 1004 };

class UpdateView {
  public:
    virtual ~UpdateView() = default;

    // In English (texts::k... or texts::dataTransmit's): a view that shows it to people translates it
    // with texts::shownStatus.
    virtual void setStatusText(const std::string& text) = 0;
    virtual void setStepText(const std::string& text) = 0;
    virtual void setProgressRange(int low, int high) = 0;
    virtual void setProgressPos(int pos) = 0;
    virtual void enableControl(ControlId id, bool enabled) = 0;
    // An error box: caption "Error", stop icon, one OK; returns when the user has dismissed it.
    virtual void showError(const std::string& text) = 0;

    // The selection indices of the MIDI IN and MIDI OUT lists, -1 for none (asked on the owner's thread).
    virtual int selectedInput() = 0;
    virtual int selectedOutput() = 0;

    // For views that show more than the dialog does: step n (1-based) of the plan begins, or is skipped.
    virtual void stepStarted(int /*step*/, const FlashStep& /*row*/, bool /*skipped*/) {}
    // Image bytes the device has accepted so far, of `total` for this run. The total is decided once, when
    // the device's plan is known (the boot region written or skipped), and stays the same to the run's end.
    virtual void bytesProgress(std::int64_t /*done*/, std::int64_t /*total*/) {}
    // The device answered the identity request with model code `code`, accepted or not.
    virtual void deviceIdentified(std::uint8_t /*code*/) {}
    // The erase, block or verify read at `address` is sent again, the `count`-th time, after a refusal or a
    // time-out.
    virtual void requestRepeated(std::uint32_t /*address*/, bool /*timedOut*/, int /*count*/) {}
};

}  // namespace velmora
