#pragma once
// --json: the update as JSON Lines events on standard output, one object per line, for programs to read. The
// events and their fields are documented in docs/json-events.md; kJsonSchema changes whenever a field changes
// its meaning or goes away.

#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include <nlohmann/json.hpp>

#include "cli/ProgressLines.h"

namespace velmora::cli {

inline constexpr int kJsonSchema = 1;

// Where the events of every device go: whole lines only, however many devices write at once, each stamped
// with the seconds since the sink was made.
class CJsonSink {
  public:
    explicit CJsonSink(
        std::ostream& out, std::function<Clock::time_point()> now = [] { return Clock::now(); });

    // Adds "t" and writes the event as one line; returns the time it was stamped with.
    Clock::time_point emit(nlohmann::json event);
    Clock::time_point now() const { return now_(); }
    double seconds(Clock::time_point at) const;

  private:
    std::ostream& out_;
    const std::function<Clock::time_point()> now_;
    const Clock::time_point start_;
    std::mutex mutex_;
};

// An event of `kind` about `device` (its MIDI IN port's name), with `fields` besides.
nlohmann::json jsonEvent(const char* kind, const std::string& device,
                         const nlohmann::json& fields = nlohmann::json::object());

// A value, or null where there is none.
template <typename T>
nlohmann::json orNull(const std::optional<T>& value) {
    return value ? nlohmann::json(*value) : nlohmann::json();
}

// The plan as the start event lists it: nine steps with kind, address, bytes and image.
nlohmann::json jsonPlan();

// The update procedure's window as events: step, progress (at most ten a second), status (every change but
// the block-by-block texts of a write step), identity and retry. Error boxes become the result event's
// message, which the owner writes.
class CJsonView : public CHeadlessView {
  public:
    CJsonView(CJsonSink& sink, std::string device, int input, int output);

    void setStatusText(const std::string& text) override;
    void setProgressPos(int pos) override;
    void showError(const std::string& text) override;
    int selectedInput() override { return input_; }
    int selectedOutput() override { return output_; }
    void stepStarted(int step, const FlashStep& row, bool skipped) override;
    void deviceIdentified(std::uint8_t code) override;
    void requestRepeated(std::uint32_t address, bool timedOut, int count) override;
    void bytesProgress(std::int64_t done, std::int64_t total) override;

  private:
    Clock::time_point emit(const char* kind, nlohmann::json fields);
    void emitProgress(Clock::time_point now);  // caller holds mutex_

    CJsonSink& sink_;
    const std::string device_;
    const int input_;
    const int output_;

    std::mutex mutex_;
    CProgressMeter meter_;
    std::string lastStatus_;
    bool stepIsWrite_ = false;
    bool statusShownInStep_ = false;
    Clock::time_point lastProgress_{};
};

}  // namespace velmora::cli
