#include "cli/CTerminalView.h"

#include "cli/TextWidth.h"
#include "update/Texts.h"

namespace velmora::cli {

namespace {
using namespace std::chrono_literals;
// A terminal redrawn for every 4 KiB block would spend more on drawing than the update spends on sending.
constexpr auto kRedrawEvery = 100ms;

// Views of devices updated at once share the streams: each line goes out whole.
std::mutex& lineMutex() {
    static std::mutex m;
    return m;
}

void writeLine(std::ostream& out, const std::string& line) {
    std::lock_guard lock(lineMutex());
    out << line;
    out.flush();
}
}  // namespace

CTerminalView::CTerminalView(std::ostream& out, std::ostream& err, bool live, std::size_t columns,
                             std::function<Clock::time_point()> now)
    : out_(out), err_(err), live_(live), columns_(columns > 1 ? columns : 80), now_(std::move(now)) {}

void CTerminalView::selectPorts(int input, int output) {
    std::lock_guard lock(mutex_);
    input_ = input;
    output_ = output;
}

void CTerminalView::setPrefix(std::string prefix) {
    std::lock_guard lock(mutex_);
    prefix_ = std::move(prefix);
}

int CTerminalView::selectedInput() {
    std::lock_guard lock(mutex_);
    return input_;
}

int CTerminalView::selectedOutput() {
    std::lock_guard lock(mutex_);
    return output_;
}

void CTerminalView::setStatusText(const std::string& english) {
    std::lock_guard lock(mutex_);
    const std::string text = texts::shownStatus(english);
    status_ = text;
    if (english == texts::kCompleted) {
        // Held back: the owner prints it as the very last line, after anything it has to add.
        completed_ = true;
        return;
    }
    if (live_) {
        // Within the plan the live line tells more than the status text; before it, the text is all there is.
        if (!inPlan_) {
            draw(true);
        }
        return;
    }
    // The write texts change with every block; a log gets the first of each step only.
    if (text.empty() || text == lastPrinted_ || (stepIsWrite_ && statusShownInStep_)) {
        return;
    }
    statusShownInStep_ = true;
    plainLine(text);
}

void CTerminalView::setProgressPos(int pos) {
    std::lock_guard lock(mutex_);
    meter_.progressPos(pos, now_());
    if (live_) {
        draw(false);
    }
}

void CTerminalView::bytesProgress(std::int64_t done, std::int64_t total) {
    std::lock_guard lock(mutex_);
    meter_.bytesProgress(done, total, now_());
    if (live_) {
        draw(false);
    }
}

void CTerminalView::showError(const std::string& text) {
    std::lock_guard lock(mutex_);
    if (!error_) {
        error_ = text;
    }
    closeLine(true);
    writeLine(err_, prefix_ + text + '\n');
}

void CTerminalView::stepStarted(int step, const FlashStep& row, bool skipped) {
    std::lock_guard lock(mutex_);
    meter_.stepStarted(step, row, skipped, now_());
    inPlan_ = true;
    stepIsWrite_ = row.kind == FlashStep::Write;
    statusShownInStep_ = false;
    lastPrinted_.clear();  // the first status of every step is shown, even when it repeats the last one
    if (live_) {
        draw(true);
    } else {
        plainLine(stepLine(step, row, skipped));
    }
}

void CTerminalView::refresh() {
    std::lock_guard lock(mutex_);
    if (live_ && !completed_ && !error_) {
        draw(true);
    }
}

void CTerminalView::endLiveLine(bool keep) {
    std::lock_guard lock(mutex_);
    closeLine(keep);
}

bool CTerminalView::completed() const {
    std::lock_guard lock(mutex_);
    return completed_ && !error_;
}

std::optional<std::string> CTerminalView::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

void CTerminalView::draw(bool force) {
    const Clock::time_point now = now_();
    if (!force && drawnWidth_ > 0 && now - lastDraw_ < kRedrawEvery) {
        return;
    }
    lastDraw_ = now;
    // One column short of the width: a line that fills the last column wraps on some terminals, and \r
    // would then return to the wrong row.
    const std::string line = liveLine(meter_.snapshot(now), status_, columns_ - 1);
    // Measured in columns: a Japanese character takes two, and three bytes.
    const std::size_t width = displayWidth(line);
    out_ << '\r' << line;
    if (width < drawnWidth_) {
        out_ << std::string(drawnWidth_ - width, ' ');  // no escape sequences: any console can do this
    }
    out_.flush();
    drawnWidth_ = width > 0 ? width : 1;
}

void CTerminalView::closeLine(bool keep) {
    if (drawnWidth_ == 0) {
        return;
    }
    if (keep) {
        out_ << '\n';
    } else {
        out_ << '\r' << std::string(drawnWidth_, ' ') << '\r';
    }
    out_.flush();
    drawnWidth_ = 0;
}

void CTerminalView::plainLine(const std::string& line) {
    lastPrinted_ = line;
    writeLine(out_, prefix_ + line + '\n');  // flushed: a log read while the update runs shows each line
}

}  // namespace velmora::cli
