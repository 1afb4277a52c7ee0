// The terminal's view of an update: the live line and how it is rewritten in place, and the plain lines a log
// gets, the latter from a real run of the core against the emulated device.
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cli/CTerminalView.h"
#include "cli/JsonEvents.h"
#include "cli/ProgressLines.h"
#include "emulator/CEmulatedDevice.h"
#include "emulator/LoopbackDevice.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/TestTiming.h"
#include "support/UntilIdle.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora::cli {
namespace {

using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

constexpr std::int64_t kAllImageBytes = 16384 + 143360 + 462232 + 3231744 + 4096;

const FlashStep& row(int step) {
    return FlashPlan[static_cast<std::size_t>(step - 1)];
}

TEST(LiveLine, ShowsTheStepWhatItDoesTheBytesThePercentageTheRateAndTheTimeLeft) {
    ProgressSnapshot p;
    p.step = 7;
    p.row = row(7);
    p.stepDone = 180224;
    p.stepTotal = 462232;
    p.percent = 43.9;
    p.bytesPerSecond = 102.5 * 1024;
    p.timeLeft = 81s;
    EXPECT_EQ(liveLine(p, "", 200),
              "Step 7/9 writing image 129 at 0x023000: 180224/462232 bytes   43%  102.5 KiB/s  1:21 left");
    EXPECT_EQ(liveLine(p, "", 20), "Step 7/9 writing ima");

    p.step = 6;
    p.row = row(6);
    p.stepDone = 0;
    p.stepTotal = 3764224;
    p.inStep = 4200ms;
    p.timeLeft.reset();
    EXPECT_EQ(liveLine(p, "", 200), "Step 6/9 erasing 3764224 bytes at 0x023000 for 0:04   43%  -:-- left");

    ProgressSnapshot before;
    EXPECT_EQ(liveLine(before, texts::kErasing, 200), "Step 0/9 Erasing Flash memory.    0%  -:-- left");
}

// ---- the live line on a terminal ----

// What a terminal shows after `text`: \r goes back to column 0, \n starts a new row, anything else
// overwrites.
Lines screen(const std::string& text) {
    Lines rows(1);
    std::size_t column = 0;
    for (char c : text) {
        if (c == '\r') {
            column = 0;
        } else if (c == '\n') {
            rows.emplace_back();
            column = 0;
        } else {
            std::string& r = rows.back();
            if (r.size() <= column) {
                r.resize(column + 1, ' ');
            }
            r[column++] = c;
        }
    }
    return rows;
}

std::string trimmed(std::string s) {
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

class LiveView : public ::testing::Test {
  protected:
    CTerminalView makeView(std::size_t columns = 120) {
        return CTerminalView(out, err, true, columns, [this] { return now; });
    }
    std::ostringstream out;
    std::ostringstream err;
    Clock::time_point now{};
};

TEST_F(LiveView, RewritesOneLineInPlaceAndWipesItBeforeTheClosingLines) {
    CTerminalView view = makeView();
    view.stepStarted(8, row(8), false);
    for (int block = 1; block <= 50; ++block) {
        now += 150ms;
        view.setStatusText(texts::dataTransmit((block - 1) * 4096, 3231744));
        view.bytesProgress(block * 4096, kAllImageBytes);
    }
    EXPECT_EQ(out.str().find('\n'), std::string::npos) << "the progress must stay on one line";
    EXPECT_EQ(screen(out.str()).size(), 1u);
    EXPECT_NE(screen(out.str())[0].find("204800/3231744 bytes"), std::string::npos) << screen(out.str())[0];

    view.endLiveLine(false);
    EXPECT_EQ(trimmed(screen(out.str())[0]), "") << "the live line was left behind";
    out << texts::kCompleted << '\n';
    EXPECT_EQ(trimmed(screen(out.str())[0]), texts::kCompleted);
}

TEST_F(LiveView, AShorterLineLeavesNothingOfTheLongerOneBehind) {
    CTerminalView view = makeView();
    view.stepStarted(8, row(8), false);
    now += 1s;
    view.bytesProgress(3227648, kAllImageBytes);
    view.stepStarted(9, row(9), false);
    const Lines rows = screen(out.str());
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(trimmed(rows[0]).rfind("Step 9/9 writing image 139 at 0x0A4000: 0/4096 bytes", 0), 0u)
        << rows[0];
    EXPECT_EQ(trimmed(rows[0]).find("3231744"), std::string::npos) << rows[0];
}

TEST_F(LiveView, BlocksArrivingFasterThanTheEyeCanReadAreNotEachDrawn) {
    CTerminalView view = makeView();
    view.stepStarted(8, row(8), false);
    for (int block = 1; block <= 500; ++block) {
        now += 1ms;
        view.bytesProgress(block * 4096, kAllImageBytes);
    }
    const std::string text = out.str();
    const auto draws = std::count(text.begin(), text.end(), '\r');
    EXPECT_LE(draws, 6) << "500 blocks in half a second";
    EXPECT_GE(draws, 2) << "the line must still move";
}

TEST_F(LiveView, NeverDrawsALineThatWouldWrapOnANarrowTerminal) {
    CTerminalView view = makeView(40);
    view.stepStarted(7, row(7), false);
    now += 1s;
    view.bytesProgress(4096, kAllImageBytes);
    for (const std::string& r : screen(out.str())) {
        EXPECT_LE(r.size(), 39u) << r;
    }
}

TEST_F(LiveView, AnErrorEndsTheLiveLineWithANewlineBeforeTheMessage) {
    CTerminalView view = makeView();
    view.stepStarted(3, row(3), false);
    view.showError(texts::kTransferError);
    EXPECT_EQ(out.str().back(), '\n') << "the message would land on the live line";
    EXPECT_EQ(err.str(), std::string(texts::kTransferError) + "\n");
    EXPECT_EQ(view.error(), texts::kTransferError);
    EXPECT_FALSE(view.completed());
    const std::size_t before = out.str().size();
    view.refresh();
    EXPECT_EQ(out.str().size(), before) << "nothing more is drawn under the message";
}

// ---- plain lines, from a real run ----

TEST(PlainView, ARunWithASkippedBootRegionAndResendsGivesOneLinePerStepAndPerStatusChangeNotPerBlock) {
    const auto parsed = emulator::parseScenario("boot=1.00,refuse-erase=2:2,refuse-block=2:3,link=none");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    emulator::CLoopbackDevice emulated(parsed.scenario, 0);

    std::ostringstream out;
    std::ostringstream err;
    CTerminalView view(out, err, false);
    view.selectPorts(0, 0);
    {
        CUpdateCore core(emulated.driver(), view, testing::quickTiming());
        core.startPolling();
        core.onExecute();
        ASSERT_TRUE(testing::waitUntilIdle(core, 120s)) << "the run never ended";
        core.waitForWorker();
    }
    EXPECT_EQ(err.str(), "");
    EXPECT_TRUE(view.completed());
    ASSERT_EQ(emulated.device().counters().eraseResends, 2) << "the scenario's resends did not happen";
    ASSERT_EQ(emulated.device().counters().blockResends, 3);

    std::istringstream lines(out.str());
    Lines got;
    for (std::string line; std::getline(lines, line);) {
        got.push_back(line);
    }
    const Lines expected = {
        "Erasing Flash memory.",
        "Step 1/9: erase 0x0A4000 to 0x0A4FFF, 4096 bytes",
        "Erasing Flash memory.",
        "Step 2/9: erase 0x3FC000 to 0x3FFFFF, 16384 bytes",
        "Erasing Flash memory.",
        "Step 3/9: write image 133 to 0x3FC000, 16384 bytes",
        "Data transmit  0 / 16384 ",
        "Step 4/9: skipped, the boot region already holds this version "
        "(erase 0x000000 to 0x022FFF, 143360 bytes)",
        "Step 5/9: skipped, the boot region already holds this version "
        "(write image 142 to 0x000000, 143360 bytes)",
        "Step 6/9: erase 0x023000 to 0x3B9FFF, 3764224 bytes",
        "Erasing Flash memory.",
        "Step 7/9: write image 129 to 0x023000, 462232 bytes",
        "Data transmit  0 / 462232 ",
        "Step 8/9: write image 136 to 0x0A5000, 3231744 bytes",
        "Data transmit  0 / 3231744 ",
        "Step 9/9: write image 139 to 0x0A4000, 4096 bytes",
        "Data transmit  0 / 4096 ",
    };
    EXPECT_EQ(got, expected) << "the completion text is the owner's to print last";
}

// ---- --json ----

// Port names come from the device: bytes that are not UTF-8 become U+FFFD, and the line is still written
// whole, so that a reader can parse it and the run goes on to its outcome.
TEST(JsonSink, APortNameThatIsNotUtf8IsWrittenWithReplacementCharacters) {
    std::ostringstream out;
    CJsonSink sink(out);
    sink.emit(jsonEvent("start", "Velmora \xFF\xC3(2)"));
    const nlohmann::json line = nlohmann::json::parse(out.str(), nullptr, false);
    ASSERT_TRUE(line.is_object()) << out.str();
    EXPECT_EQ(line["device"], "Velmora \xEF\xBF\xBD\xEF\xBF\xBD(2)");
}

// Guards a second count of the plan's bytes beside the core's: the live line and the progress events show
// the bytes done and in all as the core gives them, also where the run writes less than the whole plan.
TEST(ProgressFigures, BothViewsShowTheCoresByteCountAndTotalAsGiven) {
    const struct {
        const char* description;
        std::int64_t done;
        std::int64_t total;
        const char* percent;
    } rows[] = {
        {"the whole plan, one block in", 4096, kAllImageBytes, "  0%"},
        {"a total smaller than the plan's", 50000, 100000, " 50%"},
        {"every byte of a small total", 4096, 4096, "100%"},
    };
    for (const auto& r : rows) {
        std::ostringstream events;
        CJsonSink sink(events);
        CJsonView json(sink, "Velmora", 0, 0);
        json.stepStarted(8, row(8), false);
        json.bytesProgress(r.done, r.total);
        std::istringstream lines(events.str());
        nlohmann::json progress;
        for (std::string line; std::getline(lines, line);) {
            progress = nlohmann::json::parse(line);
        }
        EXPECT_EQ(progress["event"], "progress") << r.description;
        EXPECT_EQ(progress["done"], r.done) << r.description;
        EXPECT_EQ(progress["total"], r.total) << r.description;

        std::ostringstream out;
        std::ostringstream err;
        CTerminalView live(out, err, true, 120, [t = Clock::time_point{}]() mutable { return t += 1s; });
        live.stepStarted(8, row(8), false);
        live.bytesProgress(r.done, r.total);
        EXPECT_NE(screen(out.str()).at(0).find(r.percent), std::string::npos)
            << r.description << ": " << screen(out.str())[0];
    }
}

}  // namespace
}  // namespace velmora::cli
