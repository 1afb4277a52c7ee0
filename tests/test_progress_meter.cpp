// The progress arithmetic velmora-flash and the web page show: share of the image bytes, rate, time left.
#include <gtest/gtest.h>

#include <cmath>

#include "update/ProgressMeter.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Clock = CProgressMeter::Clock;

constexpr std::int64_t kAllImageBytes = 16384 + 143360 + 462232 + 3231744 + 4096;

const FlashStep& row(int step) {
    return FlashPlan[static_cast<std::size_t>(step - 1)];
}

TEST(ProgressMeter, ThePercentageIsOfTheImageBytesOfTheTotalTheCoreGives) {
    const Clock::time_point t0{};
    for (const bool skipBoot : {false, true}) {
        CProgressMeter meter;
        std::int64_t written = 0;
        const std::int64_t total = kAllImageBytes - (skipBoot ? 143360 : 0);
        meter.bytesProgress(0, total, t0);
        for (int step = 1; step <= kFlashPlanSteps; ++step) {
            const bool skipped = skipBoot && row(step).address == 0;
            meter.stepStarted(step, row(step), skipped, t0);
            if (!skipped && row(step).kind == FlashStep::Write) {
                written += stepBytes(row(step));
                meter.bytesProgress(written, total, t0);
                EXPECT_EQ(meter.snapshot(t0).stepDone, stepBytes(row(step))) << "step " << step;
            }
            if (step == 7) {
                EXPECT_DOUBLE_EQ(meter.snapshot(t0).percent, 100.0 * static_cast<double>(written) / total)
                    << "skipBoot " << skipBoot;
                EXPECT_EQ(meter.snapshot(t0).imageTotal, total) << "skipBoot " << skipBoot;
            }
        }
        EXPECT_DOUBLE_EQ(meter.snapshot(t0).percent, 100.0) << "skipBoot " << skipBoot;
    }
}

TEST(ProgressMeter, TheRateIsTheCurrentWriteStepsAndAnEraseBeforeItDoesNotDragItDown) {
    CProgressMeter meter;
    Clock::time_point t{};
    meter.stepStarted(3, row(3), false, t);
    for (int block = 1; block <= 4; ++block) {
        t += 40ms;
        meter.bytesProgress(block * 4096, kAllImageBytes, t);
    }
    ASSERT_TRUE(meter.snapshot(t).bytesPerSecond);
    EXPECT_NEAR(*meter.snapshot(t).bytesPerSecond, 4096 / 0.040, 1.0);

    meter.stepStarted(6, row(6), false, t);
    t += 2s;  // a long erase
    meter.progressPos(10, t);
    meter.stepStarted(7, row(7), false, t);
    for (int block = 1; block <= 5; ++block) {
        t += 20ms;
        meter.bytesProgress(16384 + block * 4096, kAllImageBytes, t);
    }
    EXPECT_NEAR(*meter.snapshot(t).bytesPerSecond, 4096 / 0.020, 1.0);
}

TEST(ProgressMeter, TimeLeftAddsTheWritesAndErasesStillToComeAtTheRatesSeenSoFar) {
    CProgressMeter meter;
    Clock::time_point t{};
    EXPECT_FALSE(meter.snapshot(t).timeLeft) << "nothing seen yet: no guess";

    meter.stepStarted(1, row(1), false, t);
    t += 100ms;
    meter.progressPos(1, t);
    meter.progressPos(10, t);  // 4096 bytes erased in 0.1 s
    meter.stepStarted(2, row(2), false, t);
    t += 400ms;
    meter.progressPos(10, t);  // 16384 bytes in 0.4 s: 40960 bytes a second
    EXPECT_FALSE(meter.snapshot(t).timeLeft) << "no write seen yet: no guess";

    meter.stepStarted(3, row(3), false, t);
    for (int block = 1; block <= 4; ++block) {
        t += 250ms;
        meter.bytesProgress(block * 4096, kAllImageBytes, t);  // 16384 bytes a second
    }
    const double writes = static_cast<double>(kAllImageBytes - 16384) / 16384;
    const double erases = static_cast<double>(143360 + 3764224) / 40960;
    ASSERT_TRUE(meter.snapshot(t).timeLeft);
    EXPECT_EQ(meter.snapshot(t).timeLeft->count(), static_cast<long long>(writes + erases + 0.5));
}

TEST(ProgressMeter, TimeLeftCountsDownDuringAnEraseAndNeverBelowWhatIsLeftAfterIt) {
    CProgressMeter meter;
    Clock::time_point t{};
    // Everything before step 6 done, at 4096 bytes a second for erases and writes alike.
    std::int64_t written = 0;
    for (int step = 1; step <= 5; ++step) {
        meter.stepStarted(step, row(step), false, t);
        const std::int64_t bytes = stepBytes(row(step));
        t += std::chrono::milliseconds(bytes * 1000 / 4096);
        if (row(step).kind == FlashStep::Erase) {
            meter.progressPos(10, t);
        } else {
            meter.bytesProgress(written += bytes, kAllImageBytes, t);
        }
    }
    meter.stepStarted(6, row(6), false, t);
    const double writesAfter = (462232 + 3231744 + 4096) / 4096.0;
    const long long start = meter.snapshot(t).timeLeft->count();
    EXPECT_EQ(start, std::llround(3764224 / 4096.0 + writesAfter));
    EXPECT_EQ(meter.snapshot(t + 100s).timeLeft->count(), start - 100);
    EXPECT_EQ(meter.snapshot(t + 5000s).timeLeft->count(), std::llround(writesAfter))
        << "an erase that overruns its estimate must not count as negative time";
}

TEST(ClockText, MinutesAndSecondsThenHours) {
    EXPECT_EQ(clockText(0s), "0:00");
    EXPECT_EQ(clockText(81s), "1:21");
    EXPECT_EQ(clockText(3723s), "1:02:03");
}

}  // namespace
}  // namespace velmora
