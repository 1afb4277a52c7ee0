#include "cli/ProgressMeter.h"

#include <cinttypes>

#include "cli/TextWidth.h"
#include "firmware/FirmwareImages.h"
#include "i18n/Translate.h"
#include "update/Format.h"

namespace velmora::cli {

namespace {

using namespace std::chrono_literals;

constexpr auto kRateWindow = 3s;           // the rate shown follows the last few seconds
constexpr auto kShortestRateSpan = 100ms;  // below this a rate is mostly noise

std::string hex6(std::uint32_t value) {
    return format("0x%06" PRIX32, value);
}

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

std::string clockText(std::chrono::seconds s) {
    const long long total = s.count();
    return total >= 3600 ? format("%lld:%02lld:%02lld", total / 3600, total / 60 % 60, total % 60)
                         : format("%lld:%02lld", total / 60, total % 60);
}

std::string rateText(double bytesPerSecond) {
    const double kib = bytesPerSecond / 1024;
    return kib >= 1024 ? format("%.1f MiB/s", kib / 1024) : format("%.1f KiB/s", kib);
}

}  // namespace

std::int64_t stepBytes(const FlashStep& row) {
    const FirmwareImage* image = row.kind == FlashStep::Write ? loadImage(row.imageId) : nullptr;
    return rowBytes(row, image != nullptr ? image->size : 0);
}

std::string describeStep(const FlashStep& row) {
    const std::int64_t bytes = stepBytes(row);
    if (row.kind == FlashStep::Erase) {
        const auto last = static_cast<std::uint32_t>(row.address + bytes - 1);
        return i18n::arg(i18n::translate("velmora-flash", "erase %1 to %2, %3 bytes"),
                         {hex6(row.address), hex6(last), std::to_string(bytes)});
    }
    return i18n::arg(i18n::translate("velmora-flash", "write image %1 to %2, %3 bytes"),
                     {std::to_string(row.imageId), hex6(row.address), std::to_string(bytes)});
}

std::string stepLine(int step, const FlashStep& row, bool skipped) {
    return i18n::arg(
        skipped ? i18n::translate("velmora-flash",
                                  "Step %1/%2: skipped, the boot region already holds this version (%3)")
                : i18n::translate("velmora-flash", "Step %1/%2: %3"),
        {std::to_string(step), std::to_string(kFlashPlanSteps), describeStep(row)});
}

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

std::string liveLine(const ProgressSnapshot& p, const std::string& status, std::size_t width) {
    const std::string step = std::to_string(p.step);
    const std::string steps = std::to_string(kFlashPlanSteps);
    std::string line;
    if (p.step == 0) {
        line =
            i18n::arg(i18n::translate("velmora-flash", "Step %1/%2 %3"),
                      {step, steps,
                       status.empty() ? i18n::translate("velmora-flash", "identifying the device") : status});
    } else if (p.row.kind == FlashStep::Erase) {
        const std::string bytes = std::to_string(p.stepTotal);
        line = p.stepDone > 0
                   ? i18n::arg(i18n::translate("velmora-flash", "Step %1/%2 erasing %3 bytes at %4, done"),
                               {step, steps, bytes, hex6(p.row.address)})
                   : i18n::arg(i18n::translate("velmora-flash", "Step %1/%2 erasing %3 bytes at %4 for %5"),
                               {step, steps, bytes, hex6(p.row.address),
                                clockText(std::chrono::duration_cast<std::chrono::seconds>(p.inStep))});
    } else {
        line = i18n::arg(i18n::translate("velmora-flash", "Step %1/%2 writing image %3 at %4: %5/%6 bytes"),
                         {step, steps, std::to_string(p.row.imageId), hex6(p.row.address),
                          std::to_string(p.stepDone), std::to_string(p.stepTotal)});
    }
    line += format("  %3d%%", static_cast<int>(p.percent));
    if (p.step > 0 && p.row.kind == FlashStep::Write && p.bytesPerSecond) {
        line += "  " + rateText(*p.bytesPerSecond);
    }
    line += "  " + i18n::arg(i18n::translate("velmora-flash", "%1 left"),
                             {p.timeLeft ? clockText(*p.timeLeft) : std::string("-:--")});
    // Cut by the columns a terminal gives it, never inside a character.
    return fitWidth(line, width);
}

}  // namespace velmora::cli
