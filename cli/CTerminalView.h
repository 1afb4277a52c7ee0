#pragma once
// The update procedure's window, on a terminal: one live progress line that is rewritten in place, or, when
// the output is not a terminal, plain lines that a log or a script can read. Errors go to the error stream
// as the window's message boxes would show them, and return at once: nobody is there to dismiss them.
//
// The worker calls it; the owner's thread calls refresh() and reads the outcome. Neither ever waits for the
// other beyond the output lock, so an aborted worker never waits for the owner.

#include <functional>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>

#include "cli/ProgressLines.h"

namespace velmora::cli {

class CTerminalView : public CHeadlessView {
  public:
    // live: stdout is a terminal `columns` wide.
    CTerminalView(
        std::ostream& out, std::ostream& err, bool live, std::size_t columns = 80,
        std::function<Clock::time_point()> now = [] { return Clock::now(); });

    void selectPorts(int input, int output);
    // Put before every line and error message: the device's port name when several update at once.
    void setPrefix(std::string prefix);

    void setStatusText(const std::string& english) override;
    void setProgressPos(int pos) override;
    void showError(const std::string& text) override;
    int selectedInput() override;
    int selectedOutput() override;
    void stepStarted(int step, const FlashStep& row, bool skipped) override;
    void bytesProgress(std::int64_t done, std::int64_t total) override;

    // Owner's thread: redraws the live line so that the time left keeps moving while the device is quiet.
    void refresh();
    // Ends the live line: kept and closed with a newline (to show where a run stopped), or wiped (before the
    // closing lines of a completed run). Nothing to do when there is none.
    void endLiveLine(bool keep);

    // The run's outcome as shown: the completion text, and the first error message.
    bool completed() const;
    std::optional<std::string> error() const;

  private:
    void draw(bool force);  // caller holds mutex_
    void closeLine(bool keep);
    void plainLine(const std::string& line);

    std::ostream& out_;
    std::ostream& err_;
    const bool live_;
    const std::size_t columns_;
    const std::function<Clock::time_point()> now_;

    mutable std::mutex mutex_;
    int input_ = -1;
    int output_ = -1;
    std::string prefix_;
    CProgressMeter meter_;
    std::string status_;
    bool inPlan_ = false;  // a plan step has begun
    bool stepIsWrite_ = false;
    bool statusShownInStep_ = false;  // plain output: a write step prints only its first status
    std::string lastPrinted_;
    std::size_t drawnWidth_ = 0;  // columns of the live line on screen, 0 when there is none
    Clock::time_point lastDraw_{};
    bool completed_ = false;
    std::optional<std::string> error_;
};

}  // namespace velmora::cli
