#include "emulator/FlashVerdict.h"

#include <algorithm>
#include <cstdio>

#include "firmware/SplitMix64.h"
#include "i18n/Translate.h"
#include "update/FlashPlan.h"
#include "update/Format.h"

namespace velmora::emulator {

namespace {

std::uint32_t writeLength(const FlashStep& step, std::span<const std::uint8_t> image) {
    return rowBytes(step, static_cast<std::uint32_t>(image.size()));
}

bool skipped(const FlashStep& step, bool bootSkipped) {
    return inBootRegion(step) && bootSkipped;
}

// What the plan last did at `address`, as a person would look for it.
std::string origin(std::uint32_t address, bool bootSkipped, const ImageSource& images) {
    for (int i = kFlashPlanSteps - 1; i >= 0; --i) {
        const FlashStep& step = FlashPlan[static_cast<std::size_t>(i)];
        if (skipped(step, bootSkipped)) {
            continue;
        }
        const std::uint32_t length =
            step.kind == FlashStep::Write ? writeLength(step, images(step.imageId)) : step.size;
        if (address >= step.address && address - step.address < length) {
            if (step.kind == FlashStep::Write) {
                return i18n::arg(i18n::translate("Emulator", "image %1 written by step %2, offset %3"),
                                 {std::to_string(step.imageId), std::to_string(i + 1),
                                  format("0x%X", address - step.address)});
            }
            return i18n::arg(i18n::translate("Emulator", "erased by step %1 and never written"),
                             {std::to_string(i + 1)});
        }
    }
    if (bootSkipped && address < kBootVersionAddress + kBootVersionLength) {
        return i18n::translate("Emulator", "boot region, skipped: earlier content");
    }
    return i18n::translate("Emulator", "never touched by the plan: earlier content");
}

}  // namespace

std::vector<std::uint8_t> initialFlash(const Scenario& scenario) {
    std::vector<std::uint8_t> flash(kFlashSize, 0xFF);
    if (scenario.blankFlash) {
        return flash;
    }
    for (std::uint32_t a = 0; a < kFlashSize; a += 8) {
        // A fixed mix of the address: the same earlier firmware on every run and platform, differing from
        // every image in nearly every byte, so that a step left out shows.
        std::uint64_t v = CSplitMix64(a).next();
        for (std::uint32_t j = 0; j < 8; ++j, v >>= 8) {
            flash[a + j] = static_cast<std::uint8_t>(v);
        }
    }
    std::copy(scenario.bootVersion.begin(), scenario.bootVersion.end(), flash.begin() + kBootVersionAddress);
    return flash;
}

ExpectedFlash expectedFlash(std::span<const std::uint8_t> initial, const ImageSource& images) {
    ExpectedFlash out;
    if (initial.size() != kFlashSize) {
        out.error = i18n::translate("Emulator", "the initial flash is not 4 MiB");
        return out;
    }
    const std::span<const std::uint8_t> boot = images(kBootImageId);
    if (boot.size() < kBootVersionLength) {
        out.error =
            i18n::arg(i18n::translate("Emulator", "image %1 is missing"), {std::to_string(kBootImageId)});
        return out;
    }
    out.bootSkipped =
        std::equal(boot.end() - kBootVersionLength, boot.end(), initial.begin() + kBootVersionAddress);
    out.bytes.assign(initial.begin(), initial.end());
    for (const FlashStep& step : FlashPlan) {
        if (skipped(step, out.bootSkipped)) {
            continue;
        }
        if (step.kind == FlashStep::Erase) {
            std::fill_n(out.bytes.begin() + step.address, step.size, std::uint8_t{0xFF});
            continue;
        }
        const std::span<const std::uint8_t> image = images(step.imageId);
        const std::uint32_t length = writeLength(step, image);
        if (image.empty() || length > image.size() ||
            static_cast<std::uint64_t>(step.address) + length > kFlashSize) {
            out.error =
                i18n::arg(image.empty() ? i18n::translate("Emulator", "image %1 is missing")
                                        : i18n::translate("Emulator", "image %1 does not fit its plan row"),
                          {std::to_string(step.imageId)});
            out.bytes.clear();
            return out;
        }
        std::copy_n(image.begin(), length, out.bytes.begin() + step.address);
    }
    return out;
}

FlashVerdict judgeFlash(std::span<const std::uint8_t> flash, std::span<const std::uint8_t> initial,
                        const ImageSource& images) {
    FlashVerdict v;
    const ExpectedFlash expected = expectedFlash(initial, images);
    v.bootSkipped = expected.bootSkipped;
    if (!expected.error.empty()) {
        v.summary = i18n::arg(i18n::translate("Emulator", "no verdict: %1"), {expected.error});
        return v;
    }
    if (flash.size() != expected.bytes.size()) {
        v.summary = i18n::translate("Emulator", "no verdict: the flash is not 4 MiB");
        return v;
    }
    bool first = true;
    for (std::uint32_t a = 0; a < kFlashSize; ++a) {
        if (flash[a] != expected.bytes[a]) {
            if (first) {
                v.firstWrongAddress = a;
                v.expected = expected.bytes[a];
                v.actual = flash[a];
                first = false;
            }
            ++v.wrongBytes;
        }
    }
    v.ok = v.wrongBytes == 0;
    if (v.ok) {
        v.summary =
            v.bootSkipped
                ? i18n::translate("Emulator", "flash matches the plan; boot region skipped and unchanged")
                : i18n::translate("Emulator", "flash matches the plan; boot region written");
    } else {
        v.summary = i18n::arg(
            i18n::translate("Emulator",
                            "flash differs at %1: %2 expected (%3), %4 found; %5 wrong bytes in all"),
            {format("0x%06X", v.firstWrongAddress), format("0x%02X", v.expected),
             origin(v.firstWrongAddress, v.bootSkipped, images), format("0x%02X", v.actual),
             std::to_string(v.wrongBytes)});
    }
    return v;
}

}  // namespace velmora::emulator
