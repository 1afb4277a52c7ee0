#include "cli/ProgressLines.h"

#include <cinttypes>

#include "cli/TextWidth.h"
#include "i18n/Translate.h"
#include "update/Format.h"

namespace velmora::cli {

namespace {

std::string hex6(std::uint32_t value) {
    return format("0x%06" PRIX32, value);
}

std::string rateText(double bytesPerSecond) {
    const double kib = bytesPerSecond / 1024;
    return kib >= 1024 ? format("%.1f MiB/s", kib / 1024) : format("%.1f KiB/s", kib);
}

}  // namespace

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
    line += "  " + timeLeftText(p);
    // Cut by the columns a terminal gives it, never inside a character.
    return fitWidth(line, width);
}

}  // namespace velmora::cli
