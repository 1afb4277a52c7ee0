// The whole update procedure against a device on the loopback ports, seen through a recording view: the exact
// texts, steps, progress and enabled states of a complete run, the boot-region decision, and every way a run
// can fail or be aborted.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CEmulatedDevice.h"
#include "emulator/LoopbackDevice.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/DescribedRow.h"
#include "support/InstantDevice.h"
#include "support/RecordingView.h"
#include "support/ScriptedDevice.h"
#include "support/TestTiming.h"
#include "support/UntilIdle.h"
#include "update/Codec.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using velmora::testing::PrintTo;
using namespace std::chrono_literals;
using testing::RecordingView;
using testing::ScriptedDevice;
using Bytes = std::vector<std::uint8_t>;
using Events = std::vector<std::string>;

using testing::successTiming;
using testing::timeoutTiming;

const Events kDisabled = {"enable:1000=off", "enable:1001=off", "enable:1=off", "enable:1004=off"};
const Events kRestored = {"enable:1000=on", "enable:1001=on", "enable:1=on", "enable:1004=on"};

bool waitUntilIdle(const CUpdateCore& core, std::chrono::milliseconds limit = 120s) {
    return testing::waitUntilIdle(core, limit);
}

// The tail of `events` after the controls were disabled by Execute: what the worker did.
Events afterExecute(const Events& events) {
    EXPECT_GE(events.size(), kDisabled.size());
    EXPECT_EQ(Events(events.begin(), events.begin() + 4), kDisabled);
    return Events(events.begin() + 4, events.end());
}

Events tail(const Events& events, std::size_t n) {
    return Events(events.end() - static_cast<std::ptrdiff_t>(std::min(n, events.size())), events.end());
}

// ---- against the emulator ----

// More than a whole update with every block read back sends.
constexpr std::uint32_t kRequestCap = 4000;

class EmulatedUpdate : public ::testing::Test {
  protected:
    // `scale` 0: the device takes no time; otherwise its times shrink with the host's.
    void run(const std::string& scenario, const Timing& timing = successTiming(), double scale = 0,
             bool verify = false) {
        const auto parsed = emulator::parseScenario(scenario + (scenario.empty() ? "" : ",") + "link=none");
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        emulator::EmulatorConfig config;
        config.scenario = parsed.scenario;
        if (config.scenario.unplugAt == 0) {
            config.scenario.unplugAt = kRequestCap;  // a run that loops fails in seconds, not by the watchdog
        }
        config.timeScale = scale;
        device = std::make_unique<emulator::CEmulatedDevice>(driver, config);
        core = std::make_unique<CUpdateCore>(driver, view, timing);
        core->setVerify(verify);
        core->startPolling();
        core->onExecute();
        ASSERT_TRUE(waitUntilIdle(*core)) << "the run never ended";
        core->waitForWorker();
    }

    emulator::FlashVerdict verdict() const { return device->verdict(emulator::builtInImages()); }

    midi::CLoopbackDriver driver;
    RecordingView view;
    std::unique_ptr<emulator::CEmulatedDevice> device;
    std::unique_ptr<CUpdateCore> core;
};

// What the window shows for one erase step, and for one write step of `size` bytes.
void expectErase(Events& e) {
    e.insert(e.end(), {"range:0-10", "pos:1", "status:Erasing Flash memory.", "pos:10"});
}
void expectWrite(Events& e, int size) {
    e.push_back("range:0-" + std::to_string(size));
    for (int offset = 0; offset < size; offset += 4096) {
        e.push_back("status:" + texts::dataTransmit(offset, size));
        e.push_back("pos:" + std::to_string(std::min(offset + 4096, size)));
    }
}

Events expectedCompleteRun(bool bootSkipped) {
    Events e = {"step:0/9", "status:Erasing Flash memory.", "status:"};
    struct Row {
        bool erase;
        int size;
    };
    const Row rows[] = {{true, 0}, {true, 0},       {false, 16384},   {true, 0},    {false, 143360},
                        {true, 0}, {false, 462232}, {false, 3231744}, {false, 4096}};
    for (int n = 1; n <= 9; ++n) {
        e.push_back("step:" + std::to_string(n) + "/9");
        const bool skipped = bootSkipped && (n == 4 || n == 5);
        e.push_back("begin:" + std::to_string(n) + (skipped ? " skipped" : ""));
        if (skipped)
            continue;
        const Row& row = rows[n - 1];
        if (row.erase) {
            expectErase(e);
        } else {
            expectWrite(e, row.size);
        }
    }
    e.push_back("status:Version update completed.");
    e.insert(e.end(), kRestored.begin(), kRestored.end());
    e.push_back("enable:1=off");
    return e;
}

TEST_F(EmulatedUpdate, CompleteRunShowsEveryTextStepAndProgressInOrderAndLeavesThePlanInFlash) {
    run("boot=0.99");
    EXPECT_EQ(afterExecute(view.events()), expectedCompleteRun(false));
    EXPECT_EQ(device->counters().messagesReceived, 950) << "a clean run sends no request more than it needs";
    EXPECT_EQ(core->lastRun().result, RunReport::Result::Completed);
    const auto v = verdict();
    EXPECT_TRUE(v.ok) << v.summary;
    EXPECT_FALSE(v.bootSkipped);
    EXPECT_FALSE(core->busy());

    // Blocks per image 4, 35, 113, 789 and 1, the short one last in image 129.
    const auto counters = device->counters();
    EXPECT_EQ(counters.blocksWritten, 4 + 35 + 113 + 789 + 1);
    EXPECT_EQ(counters.blockResends, 0);
    EXPECT_EQ(view.count("status:Data transmit  0 / 462232 "), 1u);
    EXPECT_EQ(view.count("status:Data transmit  458752 / 462232 "), 1u);
    EXPECT_EQ(view.count("pos:462232"), 1u);
    const std::string transcript = device->transcriptText();
    EXPECT_NE(transcript.find("WriteRequest 0x093000, 3480 bytes"), std::string::npos)
        << "the last block of image 129 goes to 0x93000 with 3480 bytes";
}

TEST_F(EmulatedUpdate, DeviceWithCode0x62GetsTheSamePlan) {
    run("model=0x62");
    EXPECT_EQ(afterExecute(view.events()), expectedCompleteRun(false));
    EXPECT_TRUE(verdict().ok) << verdict().summary;
    EXPECT_EQ(core->sender().deviceCode(), 0x62);
    EXPECT_EQ(core->sender().hostIdentityModel(), 0x62);
}

TEST_F(EmulatedUpdate, BootRegionHoldingTheSameVersionIsSkippedButItsStepsStillCount) {
    run("boot=1.00");
    EXPECT_EQ(afterExecute(view.events()), expectedCompleteRun(true));
    const auto v = verdict();
    EXPECT_TRUE(v.ok) << v.summary;
    EXPECT_TRUE(v.bootSkipped);
    EXPECT_EQ(device->counters().blocksWritten, 4 + 113 + 789 + 1);
}

class BootRegionWritten : public EmulatedUpdate, public ::testing::WithParamInterface<const char*> {};

TEST_P(BootRegionWritten, ForAnyOtherFourBytes) {
    run(GetParam());
    EXPECT_EQ(afterExecute(view.events()), expectedCompleteRun(false)) << GetParam();
    EXPECT_TRUE(verdict().ok) << verdict().summary;
}

INSTANTIATE_TEST_SUITE_P(Versions, BootRegionWritten,
                         ::testing::Values("boot=blank", "boot=1.01", "boot=0.00", "boot=2.00", "boot=1.10"));

struct FailureCase {
    const char* what;
    const char* scenario;
    const char* message;  // nullptr: no message box
    bool completes;
};

class EmulatedFailure : public EmulatedUpdate, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(EmulatedFailure, EndsWithItsMessageAndTheControlsBack) {
    const FailureCase& c = GetParam();
    // Lost answers cost a block wait each: short block waits keep the 31-loss rows quick.
    Timing timing = c.completes ? successTiming() : timeoutTiming();
    timing.blockTimeout = 100ms;
    run(c.scenario, timing);
    const Events errors = view.only("error:");
    if (c.message != nullptr) {
        EXPECT_EQ(errors, Events{std::string("error:") + c.message}) << c.what;
    } else {
        EXPECT_TRUE(errors.empty()) << c.what;
    }
    if (c.completes) {
        EXPECT_EQ(tail(view.events(), 6).front(), "status:Version update completed.") << c.what;
        EXPECT_TRUE(verdict().ok) << c.what << ": " << verdict().summary;
    } else {
        EXPECT_EQ(tail(view.events(), 4), kRestored) << c.what;
    }
    EXPECT_FALSE(core->busy()) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EmulatedFailure,
    ::testing::Values(
        FailureCase{"a silent device: identity time-out", "silent", texts::kTimeOut1, false},
        FailureCase{"an unknown model code", "model=0x61", texts::kIllegalDevice, false},
        FailureCase{"not in version-update mode", "mode=off", texts::kSetUpdateMode, false},
        FailureCase{"an erase refused six times is accepted at the seventh", "refuse-erase=2:6", nullptr,
                    true},
        FailureCase{"an erase refused seven times ends the run", "refuse-erase=2:7", texts::kTransferError,
                    false},
        FailureCase{"a block refused 31 times is accepted at the 32nd", "refuse-block=5:31", nullptr, true},
        FailureCase{"a block refused 32 times ends the run", "refuse-block=5:32", texts::kTransferError,
                    false},
        FailureCase{"a block whose answer is lost 31 times", "drop-block=7:31", nullptr, true},
        FailureCase{"a block whose answer is lost 32 times", "drop-block=7:32", texts::kTimeOut2, false},
        FailureCase{"a failed read-back ends the run without a message", "bad-read", nullptr, false},
        FailureCase{"an End answered with a failure status is still a success", "end-status=7", nullptr,
                    true},
        FailureCase{"the device's own messages between answers change nothing", "chatter", nullptr, true},
        FailureCase{"DoneReply instead of status 0", "done-reply", nullptr, true}),
    [](const auto& row) { return "Row" + std::to_string(row.index); });

TEST_F(EmulatedUpdate, FailedReadBackLeavesTheCounterAtZeroAndRunsNoStep) {
    run("bad-read", timeoutTiming());
    EXPECT_EQ(afterExecute(view.events()),
              (Events{"step:0/9", "status:Erasing Flash memory.", "status:", "enable:1000=on",
                      "enable:1001=on", "enable:1=on", "enable:1004=on"}));
    EXPECT_EQ(device->counters().erase, 0);
}

TEST_F(EmulatedUpdate, RejectedCodeStaysTheDeviceCodeForReplyMatching) {
    run("model=0x61", timeoutTiming());
    EXPECT_EQ(core->sender().deviceCode(), 0x61);
    EXPECT_EQ(core->sender().hostIdentityModel(), 0x00) << "no code was accepted";
}

TEST_F(EmulatedUpdate, EndUnansweredIsATransferError) {
    run("");  // counts the requests of a whole run
    const int requests = device->counters().messagesReceived;
    core.reset();
    device.reset();
    view.clear();
    midi::CLoopbackDriver fresh;
    emulator::CEmulatedDevice unplugging(fresh, testing::instantConfig("unplug=" + std::to_string(requests)));
    CUpdateCore second(fresh, view, [] {
        Timing t = successTiming();
        t.replyTimeout = 300ms;
        return t;
    }());
    second.startPolling();
    second.onExecute();
    ASSERT_TRUE(waitUntilIdle(second));
    EXPECT_EQ(view.only("error:"), Events{"error:Transfer error occurred."});
    EXPECT_EQ(unplugging.counters().end, 0) << "the End request must be the one that went unanswered";
    EXPECT_EQ(view.count("status:Version update completed."), 0u);
}

// ---- answers matched to their requests ----

// Answers carry no reference to their request: a late, lost or echoed answer must never let a refusal be
// charged to another block, nor a block pass that the flash does not hold. The device runs at a tenth of real
// time, and the host's waits shrink with it.
struct MatchingCase {
    const char* what;
    const char* scenario;
    const char* error;  // nothing: the update completes with the plan in flash
    bool verify = false;
};

class AnswerMatching : public EmulatedUpdate, public ::testing::WithParamInterface<MatchingCase> {};

TEST_P(AnswerMatching, CompletesOnlyWithThePlanInFlashOrFailsWithItsMessage) {
    const MatchingCase& c = GetParam();
    run(c.scenario, Timing::scaled(0.1), 0.1, c.verify);
    const auto v = verdict();
    if (c.error == nullptr) {
        EXPECT_EQ(view.only("error:"), Events{});
        EXPECT_EQ(view.count("status:Version update completed."), 1);
        EXPECT_TRUE(v.ok) << v.summary;
    } else {
        EXPECT_EQ(view.only("error:"), Events{std::string("error:") + c.error});
        EXPECT_EQ(view.count("status:Version update completed."), 0);
        EXPECT_EQ(core->lastRun().result, RunReport::Result::Failed);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, AnswerMatching,
    ::testing::Values(
        MatchingCase{"a block answered 3 s late, the next one refused once",
                     "late-block=10:3000,refuse-block=11:1", nullptr},
        MatchingCase{"an answer 1.2 s late, inside the grace wait; the next one lost",
                     "late-block=10:1200,drop-block=11:1", nullptr},
        MatchingCase{"an answer 10 s late in the middle, the next block refused twice",
                     "late-block=500:10000,refuse-block=501:2", nullptr},
        MatchingCase{"the last block answered 6 s late", "late-block=942:6000", nullptr},
        MatchingCase{"an erase answered 10 s late, the next erase refused",
                     "late-erase=2:10000,refuse-erase=3:1", nullptr},
        MatchingCase{"a link that hands every message back", "echo", nullptr},
        MatchingCase{"an echoing link and a device that talks between its answers", "echo,chatter", nullptr},
        MatchingCase{"every written block read back", "", nullptr, true},
        MatchingCase{"a block stored wrong, found by the read-back", "corrupt-block=100",
                     "Verify failed: image 129 differs at 0x05F800", true},
        MatchingCase{"a boot-region block stored wrong, found by the read-back", "corrupt-block=10",
                     "Verify failed: image 142 differs at 0x005800", true},
        MatchingCase{"a current boot region, left unwritten, is not read back", "boot=1.00", nullptr, true},
        MatchingCase{"a verify read whose answer is lost is asked again", "lose=1:94", nullptr, true}));

// Whether the link echoes is learnt anew for every run: a core that once ran over an echoing link must not
// drop a later device's status 0 as the echo of its own acknowledgement.
TEST(SameCore, ARunOverALinkThatEchoesLeavesNothingForTheNextRunOverOneThatDoesNot) {
    midi::CLoopbackDriver driver;
    const auto toHost = driver.addInput("Velmora");
    const auto fromHost = driver.addOutput("Velmora");
    RecordingView view;
    Timing timing = successTiming();
    timing.blockTimeout = 50ms;
    timing.lateGrace = 50ms;
    CUpdateCore core(driver, view, timing);
    core.startPolling();
    for (const char* scenario : {"echo,link=none", "chatter,link=none"}) {
        emulator::EmulatorConfig config;
        config.scenario = emulator::parseScenario(scenario).scenario;
        config.scenario.unplugAt = kRequestCap;
        config.timeScale = 0;
        emulator::CEmulatedDevice device(toHost, fromHost, config);
        view.clear();
        core.onExecute();
        ASSERT_TRUE(waitUntilIdle(core)) << scenario;
        core.waitForWorker();
        EXPECT_EQ(view.only("error:"), Events{}) << scenario;
        EXPECT_EQ(core.lastRun().result, RunReport::Result::Completed) << scenario;
        EXPECT_TRUE(device.verdict(emulator::builtInImages()).ok) << scenario;
    }
}

// ---- against a scripted device ----

class ScriptedUpdate : public ::testing::Test {
  protected:
    void start(ScriptedDevice::Script script, const Timing& timing = timeoutTiming(), bool verify = false) {
        device = std::make_unique<ScriptedDevice>(driver, std::move(script));
        core = std::make_unique<CUpdateCore>(driver, view, timing);
        core->setVerify(verify);
        core->startPolling();
        core->onExecute();
    }
    void finish() {
        ASSERT_TRUE(waitUntilIdle(*core));
        core->waitForWorker();
    }
    int countRequests(std::uint8_t code) const {
        int n = 0;
        for (const auto& r : device->requests())
            n += ScriptedDevice::isCode(r, code);
        return n;
    }

    midi::CLoopbackDriver driver;
    RecordingView view;
    std::unique_ptr<ScriptedDevice> device;
    std::unique_ptr<CUpdateCore> core;
};

// A device that answers everything with success: identity 0x63, read-back "0.99".
std::optional<Bytes> agreeable(const Bytes& r, int) {
    if (ScriptedDevice::isIdentityRequest(r))
        return ScriptedDevice::identity(0x63);
    if (ScriptedDevice::isCode(r, 0x60))
        return ScriptedDevice::readReply({'0', '.', '9', '9'});
    return ScriptedDevice::status(0x63, 0);
}

TEST_F(ScriptedUpdate, IdentityAnsweredWithAFailureStatusIsAnIllegalDevice) {
    start([](const Bytes& r, int) -> std::optional<Bytes> {
        if (ScriptedDevice::isIdentityRequest(r))
            return ScriptedDevice::status(0x63, 3);
        return std::nullopt;
    });
    finish();
    EXPECT_EQ(view.only("error:"), Events{"error:Illegal device connected."});
}

TEST_F(ScriptedUpdate, BeginAnsweredWithAnotherStatusIsATransferErrorAndTheStatusLineIsCleared) {
    start([](const Bytes& r, int) -> std::optional<Bytes> {
        if (ScriptedDevice::isIdentityRequest(r))
            return ScriptedDevice::identity(0x63);
        return ScriptedDevice::status(0x63, 5);
    });
    finish();
    EXPECT_EQ(afterExecute(view.events()),
              (Events{"step:0/9", "status:Erasing Flash memory.", "status:", "error:Transfer error occurred.",
                      "enable:1000=on", "enable:1001=on", "enable:1=on", "enable:1004=on"}));
}

TEST_F(ScriptedUpdate, BeginUnansweredKeepsTheStatusLine) {
    start([](const Bytes& r, int) -> std::optional<Bytes> {
        if (ScriptedDevice::isIdentityRequest(r))
            return ScriptedDevice::identity(0x63);
        return std::nullopt;
    });
    finish();
    EXPECT_EQ(afterExecute(view.events()),
              (Events{"step:0/9", "status:Erasing Flash memory.", "error:Time out error(1)", "enable:1000=on",
                      "enable:1001=on", "enable:1=on", "enable:1004=on"}));
}

TEST_F(ScriptedUpdate, UnansweredEraseEndsTheRunWithoutARepeat) {
    start([](const Bytes& r, int n) -> std::optional<Bytes> {
        if (ScriptedDevice::isCode(r, 0x0A))
            return std::nullopt;
        return agreeable(r, n);
    });
    finish();
    EXPECT_EQ(view.only("error:"), Events{"error:Time out error(3)"});
    EXPECT_EQ(countRequests(0x0A), 1);
    EXPECT_EQ(view.only("step:"), (Events{"step:0/9", "step:1/9"}));
}

TEST_F(ScriptedUpdate, ThirtyOneRefusalsThenATimeOutIsTimeOutError2) {
    start([](const Bytes& r, int n) -> std::optional<Bytes> {
        static int writes = 0;
        if (n == 0)
            writes = 0;
        if (ScriptedDevice::isCode(r, 0x02)) {
            return ++writes <= 31 ? std::optional<Bytes>(ScriptedDevice::status(0x63, 1)) : std::nullopt;
        }
        return agreeable(r, n);
    });
    finish();
    EXPECT_EQ(view.only("error:"), Events{"error:Time out error(2)"});
    EXPECT_EQ(countRequests(0x02), 32) << "one block, sent 32 times";
}

TEST_F(ScriptedUpdate, ThirtyOneTimeOutsThenARefusalIsATransferError) {
    start([](const Bytes& r, int n) -> std::optional<Bytes> {
        static int writes = 0;
        if (n == 0)
            writes = 0;
        if (ScriptedDevice::isCode(r, 0x02)) {
            return ++writes <= 31 ? std::nullopt : std::optional<Bytes>(ScriptedDevice::status(0x63, 1));
        }
        return agreeable(r, n);
    });
    finish();
    EXPECT_EQ(view.only("error:"), Events{"error:Transfer error occurred."});
    // Late answers are not counted here: the device answers none of the first 31 sends.
    EXPECT_EQ(countRequests(0x02), 32);
}

// The failure count starts again at 0 for every block: two blocks refused 20 times each still complete.
TEST_F(ScriptedUpdate, EveryBlockGetsItsOwnThirtyOneRepeats) {
    start([](const Bytes& r, int n) -> std::optional<Bytes> {
        static int writes = 0;
        if (n == 0)
            writes = 0;
        // Sends 1 to 20 refused, the 21st accepted (block 1); then the same for block 2.
        if (ScriptedDevice::isCode(r, 0x02) && ++writes <= 41 && writes != 21)
            return ScriptedDevice::status(0x63, 1);
        return agreeable(r, n);
    });
    finish();
    EXPECT_EQ(view.only("error:"), Events{});
    EXPECT_EQ(view.count("status:Version update completed."), 1);
    EXPECT_EQ(core->lastRun().resends, 40);
}

// An answer later than the block wait but within the grace wait after it is the block's own: the block is not
// sent again, nor read back.
TEST_F(ScriptedUpdate, AnAnswerInsideTheGraceWaitCountsAsItsOwn) {
    Timing graceful = successTiming();
    graceful.blockTimeout = 50ms;
    graceful.lateGrace = 5s;
    start(
        [](const Bytes& r, int n) -> std::optional<Bytes> {
            static int writes = 0;
            if (n == 0)
                writes = 0;
            if (ScriptedDevice::isCode(r, 0x02) && ++writes == 1)
                std::this_thread::sleep_for(300ms);  // the first block's answer, late
            return agreeable(r, n);
        },
        graceful);
    finish();
    EXPECT_EQ(view.count("status:Version update completed."), 1u);
    EXPECT_EQ(core->lastRun().resends, 0);
    EXPECT_EQ(countRequests(0x60), 1) << "only the boot version is read: the late answer left no doubt";
}

// A block's answer lost for good, and a device that answers no read but the boot version's: the block cannot
// be confirmed, so the run fails, however often the device says it wrote the block.
TEST_F(ScriptedUpdate, ABlockThatCannotBeReadBackAfterALostAnswerFailsTheRun) {
    start([](const Bytes& r, int n) -> std::optional<Bytes> {
        static int writes = 0;
        if (n == 0)
            writes = 0;
        if (ScriptedDevice::isCode(r, 0x02) && ++writes == 1)
            return std::nullopt;
        if (ScriptedDevice::isCode(r, 0x60) && r != ScriptedDevice::readRequest(0x22FFC, 4))
            return ScriptedDevice::status(0x63, 0);  // anything but the data asked for
        return agreeable(r, n);
    });
    finish();
    EXPECT_EQ(view.count("status:Version update completed."), 0);
    EXPECT_EQ(view.only("error:"), Events{"error:Time out error(2)"});
}

// A read-back that delivers fewer than four bytes must not let stale bytes from an earlier read decide that
// the boot region is current: the first run reads "1.00" (skipped), the second gets two bytes only (written).
TEST_F(ScriptedUpdate, ShortReadBackDoesNotReuseStaleBytes) {
    std::atomic<bool> shortRead{false};
    start(
        [&shortRead](const Bytes& r, int n) -> std::optional<Bytes> {
            if (ScriptedDevice::isCode(r, 0x60)) {
                return ScriptedDevice::readReply(shortRead ? Bytes{'1', '.'} : Bytes{'1', '.', '0', '0'});
            }
            return agreeable(r, n);
        },
        successTiming());
    finish();
    EXPECT_EQ(view.count("begin:4 skipped"), 1u) << "the first run reads 1.00 and skips the boot region";
    view.clear();
    shortRead = true;
    core->enableExecute(true);
    core->onExecute();
    finish();
    EXPECT_EQ(view.count("begin:4"), 1u) << "two delivered bytes cannot show the boot version is current";
    EXPECT_EQ(view.count("status:Version update completed."), 1u);
}

// The window closing at each kind of wait: the worker ends without a message and without touching a control.
struct AbortCase {
    const char* name;
    const char* what;
    std::uint8_t heldCode;  // the request whose answer is held back; 0xFF: the identity request
    // Reads: hold back only those of written blocks (the boot-version read is answered), which a run makes
    // when it verifies, or when a block's first answer was lost and the block must be read back.
    bool blockReads = false;
    bool verify = false;
};

class AbortAtWait : public ScriptedUpdate, public ::testing::WithParamInterface<AbortCase> {};

TEST_P(AbortAtWait, EndsSilentlyTouchingNoControl) {
    const AbortCase& c = GetParam();
    std::atomic<bool> reached{false};
    Timing patient = successTiming();
    patient.replyTimeout = 20s;
    patient.readBackTimeout = 20s;
    patient.blockTimeout = c.blockReads && !c.verify ? 30ms : 20s;  // the doubt row loses a block's answer
    patient.lateGrace = 30ms;
    start(
        [&reached, c](const Bytes& r, int n) -> std::optional<Bytes> {
            static int writes = 0;
            if (n == 0)
                writes = 0;
            if (ScriptedDevice::isCode(r, 0x02) && ++writes == 1 && c.blockReads && !c.verify)
                return std::nullopt;
            const bool isHeld =
                c.heldCode == 0xFF
                    ? ScriptedDevice::isIdentityRequest(r)
                    : ScriptedDevice::isCode(r, c.heldCode) &&
                          !(c.blockReads && r == ScriptedDevice::readRequest(kBootVersionAddress, 4));
            if (isHeld) {
                reached = true;
                return std::nullopt;
            }
            return agreeable(r, n);
        },
        patient, c.verify);
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!reached && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(reached) << c.what;
    std::this_thread::sleep_for(20ms);
    const std::size_t before = view.events().size();
    const auto start = std::chrono::steady_clock::now();
    core->abort();
    core->waitForWorker();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 5s) << "the worker must not wait out its time-out";
    const Events all = view.events();
    const Events after(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    for (const auto& e : after) {
        EXPECT_NE(e.rfind("error:", 0), 0u) << c.what << ": " << e;
        EXPECT_NE(e.rfind("enable:", 0), 0u) << c.what << ": " << e;
    }
    EXPECT_TRUE(core->busy()) << "an aborted run leaves busy as it was";
    EXPECT_EQ(core->replies().replyStatus(), 255);
}

INSTANTIATE_TEST_SUITE_P(
    Waits, AbortAtWait,
    ::testing::Values(AbortCase{"Identity", "identity", 0xFF}, AbortCase{"Begin", "begin", 0x01},
                      AbortCase{"ReadBack", "read-back", 0x60}, AbortCase{"Erase", "erase", 0x0A},
                      AbortCase{"Write", "write block", 0x02}, AbortCase{"End", "end", 0x04},
                      AbortCase{"Verify", "a verify read", 0x60, true, true},
                      AbortCase{"Doubt", "a block read back after its answer was lost", 0x60, true}),
    [](const auto& row) { return std::string(row.param.name); });

// ---- Execute itself ----

class ExecuteTest : public ScriptedUpdate {};

TEST_F(ExecuteTest, WhileBusyShowsInProgressAndChangesNothing) {
    std::atomic<bool> asked{false};
    start(
        [&asked](const Bytes&, int) -> std::optional<Bytes> {
            asked = true;
            return std::nullopt;
        },
        successTiming());
    ASSERT_TRUE(core->busy());
    // The worker shows 0/9 before it asks for the identity: once asked, it is waiting and shows nothing more.
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (!asked && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_TRUE(asked);
    view.clear();
    core->onExecute();
    EXPECT_EQ(view.events(), Events{"error:In Progress."});
    core->abort();
}

TEST_F(ExecuteTest, OutputThatWillNotOpenStartsNothing) {
    auto out = driver.addOutput("Velmora");
    driver.addInput("Velmora");
    out->setRefuseOpen(true);
    CUpdateCore local(driver, view, successTiming());
    local.onExecute();
    EXPECT_EQ(view.events(), Events{"error:Can't open MIDI Out device."});
    EXPECT_FALSE(local.busy());
}

TEST_F(ExecuteTest, InputThatWillNotOpenLeavesTheOutputOpenAndNothingDisabled) {
    auto out = driver.addOutput("Velmora");
    auto in = driver.addInput("Velmora");
    in->setRefuseOpen(true);
    CUpdateCore local(driver, view, successTiming());
    local.onExecute();
    EXPECT_EQ(view.events(), Events{"error:Can't open MIDI In device."});
    EXPECT_TRUE(out->isOpen());
    EXPECT_FALSE(local.busy());
}

TEST_F(ExecuteTest, NoSelectionPassesMinusOneToThePorts) {
    driver.addOutput("Velmora");
    driver.addInput("Velmora");
    view.output = -1;
    CUpdateCore local(driver, view, successTiming());
    local.onExecute();
    EXPECT_EQ(view.events(), Events{"error:Can't open MIDI Out device."});
    EXPECT_EQ(local.outPort().deviceIndex(), -1);
}

TEST_F(ExecuteTest, ASignalLeftFromIdleTrafficIsNotTakenForTheIdentityAnswer) {
    auto toHost = driver.addInput("Velmora");
    driver.addOutput("Velmora");
    CUpdateCore local(driver, view, timeoutTiming());
    local.startPolling();
    ASSERT_TRUE(local.inPort().open(0));
    const Bytes unsolicited = ScriptedDevice::status(0x63, 0);
    toHost->write(midi::Bytes(unsolicited.data(), unsolicited.size()));
    std::this_thread::sleep_for(30ms);  // processed while idle: the event is left signalled
    local.onExecute();
    ASSERT_TRUE(waitUntilIdle(local));
    EXPECT_EQ(view.only("error:"), Events{"error:Time out error(1)"});
}

// An answer that came while no run was waiting (here the identity of another model, unasked) is not the
// answer to the run's first request.
TEST_F(ExecuteTest, AnIdentityReplyLeftFromIdleTrafficIsNotTakenForTheDevicesAnswer) {
    device = std::make_unique<ScriptedDevice>(driver, agreeable);
    CUpdateCore local(driver, view, successTiming());
    local.startPolling();
    ASSERT_TRUE(local.inPort().open(0));
    device->say(ScriptedDevice::identity(0x41));
    const auto deadline = std::chrono::steady_clock::now() + 60s;
    while (local.replies().reportedDeviceCode() != 0x41 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(1ms);
    ASSERT_EQ(local.replies().reportedDeviceCode(), 0x41) << "the unasked reply was never processed";
    local.onExecute();
    ASSERT_TRUE(waitUntilIdle(local));
    local.waitForWorker();
    EXPECT_EQ(view.only("error:"), Events{});
    EXPECT_EQ(local.lastRun().result, RunReport::Result::Completed);
}

// The bytes a device with a patterned flash holds at `address`.
Bytes patterned(std::uint32_t address, std::uint32_t count) {
    Bytes out(count);
    for (std::uint32_t i = 0; i < count; ++i)
        out[i] = static_cast<std::uint8_t>((address + i) * 2654435761u >> 24);  // no two 4 KiB blocks alike
    return out;
}

// A ReadReply tells nothing of its request but its length: a reply to an earlier read that comes late, after
// the next read was sent, must never be taken for the next read's, even where both asked for as many bytes.
TEST_F(ScriptedUpdate, ALateReplyToAnEarlierReadIsNeverTakenForALaterOne) {
    std::optional<Bytes> held;  // the first read's reply, sent just before the second's
    device = std::make_unique<ScriptedDevice>(driver, [&held](const Bytes& r, int) -> std::optional<Bytes> {
        Bytes reply = ScriptedDevice::readReply(
            patterned(decode7x5(&r[sysex::kReadAddressPos]), decode7x5(&r[sysex::kReadCountPos])));
        if (!held) {
            held = reply;
            return std::nullopt;
        }
        reply.insert(reply.begin(), held->begin(), held->end());
        return reply;
    });
    core = std::make_unique<CUpdateCore>(driver, view, timeoutTiming());
    core->startPolling();
    ASSERT_TRUE(core->outPort().open(0));
    ASSERT_TRUE(core->inPort().open(0));
    RunReport report;
    RunContext run{view, core->sender(), core->replies(), core->timing(), [] {}, report};
    ASSERT_EQ(run.readFlash(0x1000, 64).outcome, Outcome::TimedOut);
    const RunContext::ReadBack second = run.readFlash(0x2000, 64);
    ASSERT_EQ(second.outcome, Outcome::Accepted);
    EXPECT_EQ(Bytes(second.data, second.data + 64), patterned(0x2000, 64));
}

class FailingStart : public CUpdateCore {
  public:
    using CUpdateCore::CUpdateCore;

  protected:
    bool startWorker(std::function<void()>) override { return false; }
};

// The stop comes between Execute and the worker's first send: the abort has closed the ports under it.
class AbortedBeforeFirstSend : public CUpdateCore {
  public:
    using CUpdateCore::CUpdateCore;

  protected:
    bool startWorker(std::function<void()> body) override {
        abort();
        return CUpdateCore::startWorker(std::move(body));
    }
};

// Guards a Ctrl-C during start-up being reported as "Can't open MIDI Out device.".
TEST_F(ExecuteTest, AnAbortBeforeTheFirstSendEndsTheRunSilentlyAsAborted) {
    driver.addOutput("Velmora");
    driver.addInput("Velmora");
    AbortedBeforeFirstSend local(driver, view, successTiming());
    local.onExecute();
    local.waitForWorker();
    EXPECT_EQ(view.only("error:"), Events{});
    EXPECT_EQ(local.lastRun().result, RunReport::Result::Aborted);
}

TEST_F(ExecuteTest, WorkerThatCannotStartGivesTheControlsBackWithATransferError) {
    driver.addOutput("Velmora");
    driver.addInput("Velmora");
    FailingStart local(driver, view, successTiming());
    local.onExecute();
    Events expected = kDisabled;
    expected.insert(expected.end(), kRestored.begin(), kRestored.end());
    expected.push_back("error:Transfer error occurred.");
    EXPECT_EQ(view.events(), expected);
    EXPECT_FALSE(local.busy());
}

// ---- dry run, and the hooks velmora-flash reports from ----

// Keeps the hooks apart from the window's events, whose exact sequences are compared above.
class HookView : public RecordingView {
  public:
    void deviceIdentified(std::uint8_t code) override {
        std::lock_guard lock(mutex);
        hooks.push_back("identified:" + std::to_string(code));
    }
    void requestRepeated(std::uint32_t address, bool timedOut, int count) override {
        std::lock_guard lock(mutex);
        hooks.push_back("repeat:" + std::to_string(address) + (timedOut ? " time-out " : " refused ") +
                        std::to_string(count));
    }
    Events recorded() const {
        std::lock_guard lock(mutex);
        return hooks;
    }

  private:
    mutable std::mutex mutex;
    Events hooks;
};

struct HookCase {
    const char* what;
    const char* scenario;
    bool dryRun;
    RunReport::Result result;
    bool bootSkipped;
    Events hooks;
};

class Hooks : public ::testing::TestWithParam<HookCase> {};

TEST_P(Hooks, DryRunWritesNothingAndRepeatsAreReportedOncePerResend) {
    const HookCase& c = GetParam();
    const auto parsed = emulator::parseScenario(std::string(c.scenario) + "link=none");
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    emulator::CLoopbackDevice emulated(parsed.scenario, 0);
    HookView view;
    CUpdateCore core(emulated.driver(), view, timeoutTiming());
    core.setDryRun(c.dryRun);
    core.startPolling();
    core.onExecute();
    ASSERT_TRUE(waitUntilIdle(core)) << "the run never ended";
    core.waitForWorker();

    EXPECT_EQ(core.lastRun().result, c.result);
    EXPECT_EQ(core.lastRun().bootRegionSkipped, c.bootSkipped);
    EXPECT_EQ(view.recorded(), c.hooks);
    const Events hooks = view.recorded();
    EXPECT_EQ(core.lastRun().resends, std::count_if(hooks.begin(), hooks.end(), [](const std::string& h) {
                  return h.rfind("repeat:", 0) == 0;
              }));
    const emulator::EmulatorCounters n = emulated.device().counters();
    if (c.dryRun) {
        // A dry run must leave a device exactly as it found it.
        EXPECT_EQ(n.begin + n.erase + n.write + n.end, 0);
        EXPECT_EQ(emulated.device().flash(), emulated.device().initialFlash());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Runs, Hooks,
    ::testing::Values(
        HookCase{"dry run, boot region to be written",
                 "",
                 true,
                 RunReport::Result::Completed,
                 false,
                 {"identified:99"}},
        HookCase{"dry run, boot region current",
                 "boot=1.00,",
                 true,
                 RunReport::Result::Completed,
                 true,
                 {"identified:99"}},
        HookCase{
            "dry run, wrong model", "model=0x41,", true, RunReport::Result::Failed, false, {"identified:65"}},
        HookCase{"dry run, silent device", "silent,", true, RunReport::Result::Failed, false, {}},
        HookCase{"dry run, boot version unreadable",
                 "bad-read,",
                 true,
                 RunReport::Result::Failed,
                 false,
                 {"identified:99"}},
        HookCase{"erase refused twice",
                 "refuse-erase=2:2,",
                 false,
                 RunReport::Result::Completed,
                 false,
                 {"identified:99", "repeat:4177920 refused 1", "repeat:4177920 refused 2"}},
        HookCase{"block answer lost once",
                 "drop-block=3:1,",
                 false,
                 RunReport::Result::Completed,
                 false,
                 {"identified:99", "repeat:4186112 time-out 1"}}));

}  // namespace
}  // namespace velmora
