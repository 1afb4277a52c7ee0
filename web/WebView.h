#pragma once
// The page as an UpdateView: every call runs on the page's main thread, where the glue object
// `Module.velmoraView` (web/velmora-glue.js) changes the controls, in the order made. Enabled states, error
// boxes and the selections are waited for; texts and progress are queued ahead of them without waiting.
// The rate and the time left are reckoned here, once for every view that shows them (update/ProgressMeter).

#include <condition_variable>
#include <functional>
#include <mutex>

#include "update/ProgressMeter.h"
#include "update/UpdateView.h"

namespace velmora::web {

class CWebView : public UpdateView {
  public:
    void setStatusText(const std::string& text) override;
    void setStepText(const std::string& text) override;
    void setProgressRange(int low, int high) override;
    void setProgressPos(int pos) override;
    void enableControl(ControlId id, bool enabled) override;
    // A page cannot stop its own thread for a box: the message is shown in the page and, from the worker,
    // waited on until the user dismisses it (dismissError) or the page is going away (release).
    void showError(const std::string& text) override;
    int selectedInput() override;
    int selectedOutput() override;
    void requestRepeated(std::uint32_t address, bool timedOut, int count) override;
    void stepStarted(int step, const FlashStep& row, bool skipped) override;
    void bytesProgress(std::int64_t done, std::int64_t total) override;

    void dismissError();
    // From now on nothing waits for the user.
    void release();

  private:
    // Applies `change` to the meter, then shows the rate and the time left it gives.
    void meterChanged(const std::function<void(CProgressMeter&, CProgressMeter::Clock::time_point)>& change);

    std::mutex mutex_;
    CProgressMeter meter_;  // under mutex_
    std::condition_variable dismissed_;
    bool errorShown_ = false;
    bool released_ = false;
};

}  // namespace velmora::web
