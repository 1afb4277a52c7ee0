// Fault sweeps against the emulated device: the device unplugged at every point of an update, answers lost at
// random, and the window closed at every kind of wait. Whatever happens, a run either completes with exactly
// the plan in flash or ends with one of the program's own messages; "completed" over a wrong flash must never
// occur.
//
// CI runs a sample; VELMORA_SWEEP=full (scripts/fault-sweep) runs every point and more seeds.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CEmulatedDevice.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/RecordingView.h"
#include "support/ScriptedDevice.h"
#include "support/TestTiming.h"
#include "support/UntilIdle.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using testing::RecordingView;
using testing::ScriptedDevice;
using Bytes = std::vector<std::uint8_t>;

bool fullSweep() {
    const char* mode = std::getenv("VELMORA_SWEEP");
    return mode != nullptr && std::string(mode) == "full";
}

using testing::sweepTiming;

const std::set<std::string> kProgramMessages = {
    texts::kTimeOut1,      texts::kTimeOut2,      texts::kTimeOut3,    texts::kIllegalDevice,
    texts::kSetUpdateMode, texts::kTransferError, texts::kCantOpenOut, texts::kCantOpenIn};

struct Outcome {
    bool completed = false;
    std::vector<std::string> errors;  // message boxes shown
    emulator::FlashVerdict verdict;   // against the flash the device started with
    Bytes flash;
    int messages = 0;      // everything the device received
    std::string lastStep;  // the step counter's last text
};

// `scale` 0: the device takes no time and the host waits as sweepTiming says; otherwise both run at that
// share of real time (for answers that are late by so many seconds).
Outcome updateOnce(const std::string& scenario, const Bytes& startFlash = {}, double scale = 0) {
    const auto parsed = emulator::parseScenario(scenario.empty() ? "link=none" : scenario + ",link=none");
    EXPECT_TRUE(parsed.ok()) << parsed.error;
    midi::CLoopbackDriver driver;
    emulator::EmulatorConfig config;
    config.scenario = parsed.scenario;
    if (config.scenario.unplugAt == 0) {
        config.scenario.unplugAt = 4000;  // more than any honest run sends: a run that loops ends in seconds
    }
    config.startFlash = startFlash;
    config.timeScale = scale;
    emulator::CEmulatedDevice device(driver, config);
    RecordingView view;
    Outcome out;
    {
        CUpdateCore core(driver, view, scale > 0 ? Timing::scaled(scale) : sweepTiming());
        core.startPolling();
        core.onExecute();
        EXPECT_TRUE(testing::waitUntilIdle(core, 300s)) << "the run never ended: " << scenario;
    }
    for (const auto& e : view.only("error:"))
        out.errors.push_back(e.substr(6));
    out.completed = view.count("status:Version update completed.") == 1;
    const auto steps = view.only("step:");
    out.lastStep = steps.empty() ? "" : steps.back().substr(5);
    out.verdict = device.verdict(emulator::builtInImages());
    out.flash = device.flash();
    out.messages = device.counters().messagesReceived;
    return out;
}

// Either the plan is in flash and the run said so, or the run said what went wrong with a program message (a
// failed boot-region read-back alone ends quietly, before any step, with the counter at 0/9).
void expectHonest(const Outcome& o, const std::string& what) {
    if (o.completed) {
        EXPECT_TRUE(o.errors.empty()) << what;
        EXPECT_TRUE(o.verdict.ok) << what << ": completed, but " << o.verdict.summary;
    } else if (o.errors.empty()) {
        EXPECT_EQ(o.lastStep, "0/9") << what << ": only a failed read-back ends without a message";
    } else {
        ASSERT_EQ(o.errors.size(), 1u) << what << ": a failure shows exactly one message";
        EXPECT_EQ(kProgramMessages.count(o.errors.front()), 1u) << what << ": " << o.errors.front();
    }
}

// The points of an update at which the device goes away: every one in the full sweep; in CI the start, each
// phase change and a spread across the blocks.
std::vector<int> unplugPoints(int messages) {
    std::vector<int> points;
    if (fullSweep()) {
        for (int k = 1; k <= messages; ++k)
            points.push_back(k);
        return points;
    }
    for (int k : {1, 2, 3, 4, 5, 6, 7, 9, 12, 48, 200, 600})
        points.push_back(k);
    points.push_back(messages - 1);
    points.push_back(messages);
    return points;
}

TEST(FaultSweep, UnpluggedAtAnyRequestThenAFreshRunCompletesWithThePlanInFlash) {
    const Outcome clean = updateOnce("");
    ASSERT_TRUE(clean.completed);
    ASSERT_TRUE(clean.verdict.ok) << clean.verdict.summary;
    const emulator::Scenario defaults;
    const Bytes original = emulator::initialFlash(defaults);

    int runs = 0;
    int honestFailures = 0;
    int recovered = 0;
    for (const int k : unplugPoints(clean.messages)) {
        const std::string what = "unplug=" + std::to_string(k);
        const Outcome broken = updateOnce(what);
        expectHonest(broken, what);
        EXPECT_FALSE(broken.completed) << what << ": the device went away before the end";
        honestFailures += broken.completed ? 0 : 1;

        const Outcome fresh = updateOnce("", broken.flash);
        EXPECT_TRUE(fresh.completed) << what << ": the run after replugging";
        const auto verdict = emulator::judgeFlash(fresh.flash, original, emulator::builtInImages());
        EXPECT_TRUE(verdict.ok) << what << ": " << verdict.summary;
        recovered += fresh.completed && verdict.ok ? 1 : 0;
        ++runs;
    }
    std::cout << "[ sweep    ] unplug: " << runs << " points of " << clean.messages << " messages, "
              << honestFailures << " honest failures, " << recovered << " recovered by a fresh run, "
              << (runs - recovered) << " not\n";
}

TEST(FaultSweep, AnswersLostAtRandomNeverEndInACompletedRunWithWrongFlash) {
    const int seeds = fullSweep() ? 20 : 2;
    for (const int percent : {1, 5, 10}) {
        int completed = 0;
        int failed = 0;
        int wrongFlash = 0;
        for (int seed = 1; seed <= seeds; ++seed) {
            const std::string what = "lose=" + std::to_string(percent) + ":" + std::to_string(seed);
            const Outcome o = updateOnce(what);
            expectHonest(o, what);
            completed += o.completed ? 1 : 0;
            failed += o.completed ? 0 : 1;
            wrongFlash += o.completed && !o.verdict.ok ? 1 : 0;
        }
        std::cout << "[ sweep    ] " << percent << "% of answers lost: " << seeds << " runs, " << completed
                  << " completed, " << failed << " honest failures, " << wrongFlash
                  << " completed with wrong flash\n";
        EXPECT_EQ(wrongFlash, 0);
    }
}

// A late answer, then a refusal or a lost answer of one of the next requests: the pairing of answers with
// requests must survive every combination. Late by 1.05 to 10 s, at an early, a middle and the last block and
// at an erase. CI runs a spread of the combinations; the full sweep runs them all.
TEST(FaultSweep, LateAnswersFollowedByRefusalsOrLossesNeverEndInACompletedRunWithWrongFlash) {
    struct Place {
        const char* late;  // the key that holds the answer back, with K
        std::uint32_t k;
        const char* refuse;  // the keys for a fault of the next requests
        const char* drop;
    };
    const Place places[] = {{"late-block", 3, "refuse-block", "drop-block"},
                            {"late-block", 500, "refuse-block", "drop-block"},
                            {"late-block", 942, "refuse-block", "drop-block"},
                            {"late-erase", 2, "refuse-erase", nullptr}};
    std::vector<std::string> scenarios;
    for (const int ms : {1050, 1200, 2500, 6000, 10000}) {
        for (const Place& p : places) {
            const std::string late =
                std::string(p.late) + "=" + std::to_string(p.k) + ":" + std::to_string(ms);
            for (std::uint32_t next = 1; next <= 3; ++next) {
                for (const char* fault : {p.refuse, p.drop}) {
                    if (fault != nullptr) {
                        scenarios.push_back(late + "," + fault + "=" + std::to_string(p.k + next) + ":1");
                    }
                }
            }
        }
    }
    int completed = 0;
    int failed = 0;
    int wrongFlash = 0;
    for (std::size_t i = 0; i < scenarios.size(); i += fullSweep() ? 1 : 9) {
        const Outcome o = updateOnce(scenarios[i], {}, 0.1);
        expectHonest(o, scenarios[i]);
        completed += o.completed ? 1 : 0;
        failed += o.completed ? 0 : 1;
        wrongFlash += o.completed && !o.verdict.ok ? 1 : 0;
    }
    std::cout << "[ sweep    ] late answers: " << (completed + failed) << " runs, " << completed
              << " completed, " << failed << " honest failures, " << wrongFlash
              << " completed with wrong flash\n";
    EXPECT_EQ(wrongFlash, 0);
    EXPECT_EQ(failed, 0) << "one late answer and one fault more are within what the retries absorb";
}

// A link that hands every host message back, alone and with a device that talks between its answers.
TEST(FaultSweep, AnEchoingLinkCompletesWithThePlanInFlash) {
    for (const char* scenario : {"echo", "echo,chatter", "echo,lose=5:3"}) {
        const Outcome o = updateOnce(scenario);
        expectHonest(o, scenario);
        if (std::string(scenario).find("lose") == std::string::npos) {
            EXPECT_TRUE(o.completed) << scenario;
        }
    }
}

// The window closed while the worker waits for each kind of answer, a hundred times over: every teardown ends
// promptly, shows nothing, and (under the sanitizers) leaks nothing.
TEST(FaultSweep, WindowClosedAtEveryKindOfWaitAHundredTimes) {
    const std::uint8_t held[] = {0xFF, 0x01, 0x60,
                                 0x0A, 0x02, 0x04};  // identity, begin, read, erase, write, end
    std::mt19937 random(7);
    const int rounds = fullSweep() ? 600 : 100;
    for (int round = 0; round < rounds; ++round) {
        const std::uint8_t code = held[round % 6];
        midi::CLoopbackDriver driver;
        std::atomic<bool> reached{false};
        ScriptedDevice device(driver, [&reached, code](const Bytes& r, int) -> std::optional<Bytes> {
            const bool isHeld =
                code == 0xFF ? ScriptedDevice::isIdentityRequest(r) : ScriptedDevice::isCode(r, code);
            if (isHeld) {
                reached = true;
                return std::nullopt;
            }
            return ScriptedDevice::usualAnswer(r);
        });
        RecordingView view;
        Timing timing = sweepTiming();
        timing.replyTimeout = 30s;  // the close, not a time-out, must end every wait
        timing.blockTimeout = 30s;
        const auto closedAt = [&] {
            CUpdateCore core(driver, view, timing);
            core.startPolling();
            core.onExecute();
            const auto deadline = std::chrono::steady_clock::now() + 5s;
            while (!reached && core.busy() && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(1ms);
            }
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
            view.clear();
            return std::chrono::steady_clock::now();
        }();  // the core's destructor is the window's teardown
        EXPECT_LT(std::chrono::steady_clock::now() - closedAt, 5s) << "round " << round;
        for (const auto& e : view.events()) {
            EXPECT_NE(e.rfind("error:", 0), 0u) << "round " << round << ": a message after the close: " << e;
        }
    }
}

}  // namespace
}  // namespace velmora
