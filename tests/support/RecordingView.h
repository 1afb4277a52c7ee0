#pragma once
// An UpdateView that writes down every call, in order, so tests can compare the exact sequence of texts,
// steps, progress, enabled states and error boxes with what the procedure must show.

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "update/UpdateView.h"

namespace velmora::testing {

class RecordingView : public UpdateView {
  public:
    void setStatusText(const std::string& text) override { record("status:" + text); }
    void setStepText(const std::string& text) override { record("step:" + text); }
    void setProgressRange(int low, int high) override {
        record("range:" + std::to_string(low) + "-" + std::to_string(high));
    }
    void setProgressPos(int pos) override { record("pos:" + std::to_string(pos)); }
    void enableControl(ControlId id, bool enabled) override {
        record("enable:" + std::to_string(static_cast<int>(id)) + (enabled ? "=on" : "=off"));
    }
    void showError(const std::string& text) override { record("error:" + text); }
    int selectedInput() override { return input; }
    int selectedOutput() override { return output; }
    void stepStarted(int step, const FlashStep&, bool skipped) override {
        record("begin:" + std::to_string(step) + (skipped ? " skipped" : ""));
    }

    std::vector<std::string> events() const {
        std::lock_guard lock(mutex_);
        return events_;
    }
    // The events that start with prefix, in order.
    std::vector<std::string> only(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& e : events()) {
            if (e.rfind(prefix, 0) == 0)
                out.push_back(e);
        }
        return out;
    }
    std::size_t count(const std::string& event) const {
        const auto all = events();
        return static_cast<std::size_t>(std::count(all.begin(), all.end(), event));
    }
    void clear() {
        std::lock_guard lock(mutex_);
        events_.clear();
    }

    int input = 0;
    int output = 0;

  private:
    void record(std::string event) {
        std::lock_guard lock(mutex_);
        events_.push_back(std::move(event));
    }

    mutable std::mutex mutex_;
    std::vector<std::string> events_;
};

}  // namespace velmora::testing
