#pragma once
// The lines velmora-flash tells an update's steps and progress by, and the headless view its two views share.

#include <chrono>
#include <string>

#include "update/ProgressMeter.h"
#include "update/UpdateView.h"

namespace velmora::cli {

using Clock = std::chrono::steady_clock;

// "erase 0x0A4000 to 0x0A4FFF, 4096 bytes", "write image 133 to 0x3FC000, 16384 bytes".
std::string describeStep(const FlashStep& row);
// The line a step begins with when the output is not a terminal: "Step 4/9: ...", with "skipped" in it
// for a skipped step.
std::string stepLine(int step, const FlashStep& row, bool skipped);

// A window with no controls, whose steps and progress are told from the plan and the meter: the step
// counter text and the progress range say nothing more.
class CHeadlessView : public UpdateView {
  public:
    void setStepText(const std::string& /*text*/) override {}
    void setProgressRange(int /*low*/, int /*high*/) override {}
    void enableControl(ControlId /*id*/, bool /*enabled*/) override {}
};

// The live line: step, what it does, the bytes of the step, percentage, rate, time left. `status` is shown
// before the first step (the identity and begin exchanges). At most `width` characters.
std::string liveLine(const ProgressSnapshot& p, const std::string& status, std::size_t width);

}  // namespace velmora::cli
