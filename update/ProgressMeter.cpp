#include "update/ProgressMeter.h"

#include "i18n/Translate.h"
#include "update/Format.h"

namespace velmora {

namespace {

using namespace std::chrono_literals;
using Clock = CProgressMeter::Clock;

constexpr auto kRateWindow = 3s;           // the rate shown follows the last few seconds
constexpr auto kShortestRateSpan = 100ms;  // below this a rate is mostly noise

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

CProgressMeter::CProgressMeter() {
    for (const FlashStep& row : FlashPlan) {
        if (row.kind == FlashStep::Erase) {
            eraseTotal_ += stepBytes(row);
        }
    }
}

void CProgressMeter::closeStep(Clock::time_point now) {
    if (active_ && row_.kind == FlashStep::Write) {
        writeTime_ += now - stepStart_;
    }
    active_ = false;
}

void CProgressMeter::stepStarted(int step, const FlashStep& row, bool skipped, Clock::time_point now) {
    closeStep(now);
    step_ = step;
    row_ = row;
    stepDone_ = 0;
    stepBase_ = writeDone_;
    stepStart_ = now;
    if (skipped) {
        // A skipped write is already out of the core's total.
        if (row.kind == FlashStep::Erase) {
            eraseTotal_ -= stepBytes(row);
        }
        return;
    }
    active_ = true;
    if (row.kind == FlashStep::Write) {
        // The rate shown is this step's: the pause of an erase in between would only drag it down.
        samples_.clear();
        samples_.push_back({now, writeDone_});
    }
}

void CProgressMeter::progressPos(int pos, Clock::time_point now) {
    // The bar reads 1 while an erase is awaited and 10 once the device has confirmed it.
    if (active_ && row_.kind == FlashStep::Erase && pos >= 10 && stepDone_ == 0) {
        stepDone_ = stepBytes(row_);
        eraseDone_ += stepDone_;
        eraseTime_ += now - stepStart_;
    }
}

void CProgressMeter::bytesProgress(std::int64_t done, std::int64_t total, Clock::time_point now) {
    writeTotal_ = total;
    if (done <= writeDone_) {
        return;
    }
    writeDone_ = done;
    if (active_ && row_.kind == FlashStep::Write) {
        stepDone_ = done - stepBase_;
    }
    samples_.push_back({now, writeDone_});
    while (samples_.size() > 2 && now - samples_.front().at > kRateWindow) {
        samples_.pop_front();
    }
    const Clock::duration span = samples_.back().at - samples_.front().at;
    if (span >= kShortestRateSpan) {
        lastRate_ = static_cast<double>(samples_.back().written - samples_.front().written) / seconds(span);
    }
}

ProgressSnapshot CProgressMeter::snapshot(Clock::time_point now) const {
    ProgressSnapshot p;
    p.step = step_;
    p.row = row_;
    p.stepDone = stepDone_;
    p.stepTotal = step_ > 0 ? stepBytes(row_) : 0;
    p.inStep = step_ > 0 ? std::chrono::duration_cast<std::chrono::milliseconds>(now - stepStart_)
                         : std::chrono::milliseconds(0);
    p.imageDone = writeDone_;
    p.imageTotal = writeTotal_.value_or(0);
    p.percent =
        p.imageTotal > 0 ? 100.0 * static_cast<double>(writeDone_) / static_cast<double>(p.imageTotal) : 0;
    p.bytesPerSecond = lastRate_;

    const bool writing = active_ && row_.kind == FlashStep::Write;
    const bool erasing = active_ && row_.kind == FlashStep::Erase && stepDone_ == 0;
    const double writeSeconds = seconds(writeTime_ + (writing ? now - stepStart_ : Clock::duration{}));
    if (!writeTotal_) {
        return p;  // the core has not said what the run writes: no honest guess
    }
    const std::int64_t writeLeft = *writeTotal_ - writeDone_;
    const std::int64_t eraseLeft = eraseTotal_ - eraseDone_;

    double left = 0;
    if (writeLeft > 0) {
        if (writeDone_ == 0 || writeSeconds <= 0) {
            return p;  // no write seen yet: no honest guess
        }
        left += static_cast<double>(writeLeft) * writeSeconds / static_cast<double>(writeDone_);
    }
    if (eraseLeft > 0) {
        if (eraseDone_ == 0 || eraseTime_ <= Clock::duration{}) {
            return p;
        }
        const double perByte = seconds(eraseTime_) / static_cast<double>(eraseDone_);
        std::int64_t later = eraseLeft;
        if (erasing) {
            // The erase under way counts what it should still take, never less than nothing.
            const std::int64_t current = stepBytes(row_);
            const double remaining = static_cast<double>(current) * perByte - seconds(now - stepStart_);
            left += remaining > 0 ? remaining : 0;
            later -= current;
        }
        left += static_cast<double>(later) * perByte;
    }
    p.timeLeft = std::chrono::seconds(static_cast<long long>(left + 0.5));
    return p;
}

std::string clockText(std::chrono::seconds s) {
    const long long total = s.count();
    return total >= 3600 ? format("%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60)
                         : format("%lld:%02lld", total / 60, total % 60);
}

std::string timeLeftText(const ProgressSnapshot& p) {
    return i18n::arg(i18n::translate("Texts", "%1 left"), {p.timeLeft ? clockText(*p.timeLeft) : "-:--"});
}

}  // namespace velmora
