#pragma once
// How far an update has come, from what the procedure tells its view: the step, the image bytes accepted of
// all the run writes, a confirmed erase; and from that the rate and the time left, as velmora-flash and the
// web page show them. Time is handed in, so the arithmetic can be checked without waiting.

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>

#include "update/FlashPlan.h"

namespace velmora {

struct ProgressSnapshot {
    int step = 0;  // 0 until the first plan step begins
    FlashStep row{};
    std::int64_t stepDone = 0;   // bytes of this step accepted (a write) or confirmed (an erase)
    std::int64_t stepTotal = 0;  // bytes of this step
    std::chrono::milliseconds inStep{0};
    std::int64_t imageDone = 0;            // image bytes written so far, all steps together
    std::int64_t imageTotal = 0;           // image bytes this update writes
    double percent = 0;                    // of the image bytes this update writes
    std::optional<double> bytesPerSecond;  // writes, over the last few seconds
    std::optional<std::chrono::seconds> timeLeft;
};

class CProgressMeter {
  public:
    using Clock = std::chrono::steady_clock;

    CProgressMeter();

    void stepStarted(int step, const FlashStep& row, bool skipped, Clock::time_point now);
    // The procedure's progress position; only an erase's counts here: 10 once the device has confirmed it.
    void progressPos(int pos, Clock::time_point now);
    // Image bytes accepted so far, of `total` for the whole run (the core decides it once the plan is known).
    void bytesProgress(std::int64_t done, std::int64_t total, Clock::time_point now);

    ProgressSnapshot snapshot(Clock::time_point now) const;

  private:
    void closeStep(Clock::time_point now);

    int step_ = 0;
    FlashStep row_{};
    bool active_ = false;  // a step that is performed, not skipped, is under way
    Clock::time_point stepStart_{};
    std::int64_t stepDone_ = 0;
    std::int64_t stepBase_ = 0;  // image bytes done when this step began

    std::optional<std::int64_t> writeTotal_;  // image bytes the update writes, once the core has said
    std::int64_t writeDone_ = 0;
    std::int64_t eraseTotal_ = 0;
    std::int64_t eraseDone_ = 0;
    Clock::duration writeTime_{};  // spent in finished write steps
    Clock::duration eraseTime_{};  // spent in confirmed erases

    struct Sample {
        Clock::time_point at;
        std::int64_t written;
    };
    std::deque<Sample> samples_;  // for the rate shown
    std::optional<double> lastRate_;
};

// "1:05", or "1:02:03" from an hour on.
std::string clockText(std::chrono::seconds s);
// "1:05 left", translated; "-:-- left" while the time left cannot be told.
std::string timeLeftText(const ProgressSnapshot& p);

}  // namespace velmora
