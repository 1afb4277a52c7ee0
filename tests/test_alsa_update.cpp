// The ALSA driver over a faked alsa-lib that behaves like the kernel (bounded buffer, partial writes, EAGAIN,
// a drain that takes time, reads in pieces, unplugs), with the emulated device behind it: whole updates,
// the send's completion against the drain, unplugs and closing the window.
#include <dirent.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CEmulatedDevice.h"
#include "fakes/alsa/FakeAlsa.h"
#include "midi/drivers/alsa/AlsaDriver.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/ByteLink.h"
#include "support/DescribedRow.h"
#include "support/InstantDevice.h"
#include "support/OnlyEmulated.h"
#include "support/RecordingView.h"
#include "support/RunUpdate.h"
#include "support/ScriptedDevice.h"
#include "support/TestTiming.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using velmora::testing::PrintTo;
using namespace std::chrono_literals;
using fakes::CFakeAlsa;
using fakes::FakeAlsaOptions;
using fakes::FakeCard;
using Clock = std::chrono::steady_clock;

using CFakedAlsaDriver = testing::COnlyEmulated<midi::CAlsaDriver>;

// Another program's card first, so that the device is not simply port 0.
std::vector<FakeCard> twoCards() {
    return {FakeCard{{{"Thru", {"Thru"}, {"Thru"}}}},
            FakeCard{{{"Velmora", {"Velmora MIDI 1"}, {"Velmora MIDI 1"}}}}};
}
constexpr const char* kDevicePort = "hw:1,0,0";

using testing::quickTiming;

std::size_t entries(const char* dir) {
    std::size_t n = 0;
    if (DIR* d = ::opendir(dir)) {
        while (::readdir(d) != nullptr)
            ++n;
        ::closedir(d);
    }
    return n;
}

// Descriptors and threads of this process, to see that a run gives back all it took.
struct Resources {
    std::size_t fds = entries("/proc/self/fd");
    std::size_t threads = entries("/proc/self/task");
};

// The faked kernel with a device behind card 1: bytes leaving hw:1,0,0 go to the device, its answers arrive
// at hw:1,0,0's input. Make the device on `deviceSide` first, then start().
struct Bench {
    void start(FakeAlsaOptions options, testing::CByteLink::Gate gate = {}) {
        link = std::make_unique<testing::CByteLink>(
            deviceSide, [this](midi::Bytes answer) { alsa->deliver(kDevicePort, answer); }, std::move(gate));
        alsa = std::make_unique<CFakeAlsa>(twoCards(), options,
                                           [this](const std::string& hw, midi::Bytes bytes) {
                                               if (hw == kDevicePort)
                                                   link->fromHost(bytes);
                                           });
        view.input = 1;
        view.output = 1;
    }
    void emulate(const std::string& scenario = "") {
        device = std::make_unique<emulator::CEmulatedDevice>(deviceSide, testing::instantConfig(scenario));
    }

    midi::CLoopbackDriver deviceSide;
    std::unique_ptr<emulator::CEmulatedDevice> device;
    std::unique_ptr<testing::ScriptedDevice> scripted;
    std::unique_ptr<testing::CByteLink> link;
    std::unique_ptr<CFakeAlsa> alsa;
    CFakedAlsaDriver driver;
    testing::RecordingView view;
};

struct UpdateCase {
    const char* what;
    FakeAlsaOptions kernel;
};

class AlsaUpdate : public ::testing::TestWithParam<UpdateCase> {};

TEST_P(AlsaUpdate, WholeUpdateThroughTheAlsaDriverCompletesWithThePlanInFlash) {
    Bench bench;
    bench.emulate();
    bench.start(GetParam().kernel);
    const Resources before;
    {
        CUpdateCore core(bench.driver, bench.view, quickTiming());
        ASSERT_TRUE(testing::runUpdate(core)) << "the update never ended";
    }
    testing::expectCompletedWithThePlan(bench.view, *bench.device);
    EXPECT_EQ(bench.alsa->openHandles(), 0);
    const Resources after;
    EXPECT_EQ(after.fds, before.fds);
}

INSTANTIATE_TEST_SUITE_P(
    Kernel, AlsaUpdate,
    ::testing::Values(UpdateCase{"a fast link: every write partial once the 4096-byte buffer fills", {}},
                      UpdateCase{"EAGAIN storms after every transfer and answers read one byte at a time",
                                 {4096, 0, 1, 3}}),
    [](const auto& param) {
        return param.index == 0 ? std::string("FastLink") : std::string("EagainStorms");
    });

// A send completes when its last byte has left the buffer, never when the driver merely handed it over.
struct DrainCase {
    const char* what;
    double bytesPerSecond;
    std::size_t size;
};

class AlsaDrain : public ::testing::TestWithParam<DrainCase> {};

TEST_P(AlsaDrain, SendCompletesOnlyAfterTheLastByteHasDrained) {
    const DrainCase& c = GetParam();
    CFakeAlsa alsa(twoCards(), {4096, c.bytesPerSecond, 0, 0});
    CFakedAlsaDriver driver;
    auto out = driver.openOutput(1, nullptr);
    ASSERT_NE(out, nullptr);
    std::vector<std::uint8_t> message(c.size, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;
    auto done = std::make_shared<midi::SendCompletion>();
    const auto started = Clock::now();
    ASSERT_TRUE(out->send(message, done));
    const std::optional<bool> sent = done->waitFor(10s);
    const std::size_t onWire = alsa.wireBytes();
    const auto took = std::chrono::duration<double>(Clock::now() - started).count();
    ASSERT_TRUE(sent.has_value()) << c.what << ": the send never completed";
    EXPECT_TRUE(*sent) << c.what;
    EXPECT_EQ(onWire, c.size) << c.what << ": completed before the buffer had drained";
    EXPECT_GE(took, 0.9 * static_cast<double>(c.size) / c.bytesPerSecond) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Links, AlsaDrain,
                         ::testing::Values(DrainCase{"a DIN cable, the message fits the buffer", 3125, 1000},
                                           DrainCase{"a USB link, the message is five buffers long", 250000,
                                                     20000}));

// The card goes away when the device receives its k-th request: the run ends with one of the program's
// messages, promptly, and gives back every descriptor and thread.
struct UnplugCase {
    int request;
    // What the run shows: the wait's time-out when the send had completed before the unplug, the send's own
    // failure when the driver saw the unplug first; "" for the boot-region read-back, which ends quietly.
    const char* waited;
    const char* refused;
};

void PrintTo(const UnplugCase& c, std::ostream* os) {
    *os << "request " << c.request;
}

class AlsaUnplug : public ::testing::TestWithParam<UnplugCase> {};

TEST_P(AlsaUnplug, UnplugAtARequestFailsHonestlyAndReleasesEverything) {
    const int k = GetParam().request;
    Bench bench;
    bench.emulate();
    bench.start({}, [&bench, k](int n) {
        if (n < k)
            return true;
        bench.alsa->unplug(1);
        return false;
    });
    const Resources before;
    const auto started = Clock::now();
    {
        CUpdateCore core(bench.driver, bench.view, Timing::scaled(0.02));
        ASSERT_TRUE(testing::runUpdate(core, 60s)) << "unplug at request " << k << ": the run never ended";
    }
    EXPECT_LT(Clock::now() - started, 20s) << "unplug at request " << k;
    EXPECT_EQ(bench.view.count("status:Version update completed."), 0u) << "unplug at request " << k;
    const auto errors = bench.view.only("error:");
    const std::string shown = errors.empty() ? "" : errors.front().substr(6);
    EXPECT_LE(errors.size(), 1u) << "unplug at request " << k;
    EXPECT_TRUE(shown == GetParam().waited || shown == GetParam().refused)
        << "unplug at request " << k << ": " << shown;
    EXPECT_EQ(bench.alsa->openHandles(), 0);
    const Resources after;
    EXPECT_EQ(after.fds, before.fds) << "unplug at request " << k;
    EXPECT_EQ(after.threads, before.threads) << "unplug at request " << k;
}

// The identity request, the begin, the boot-region read, an erase, a block, and one far into the images.
INSTANTIATE_TEST_SUITE_P(Requests, AlsaUnplug,
                         ::testing::Values(UnplugCase{1, texts::kTimeOut1, texts::kCantOpenOut},
                                           UnplugCase{2, texts::kTimeOut1, texts::kTransferError},
                                           UnplugCase{3, "", ""},
                                           UnplugCase{5, texts::kTimeOut3, texts::kTransferError},
                                           UnplugCase{7, texts::kTimeOut2, texts::kTransferError},
                                           UnplugCase{60, texts::kTimeOut2, texts::kTransferError}));

// The window closed while the worker waits: for each kind of answer, and for a send still draining at DIN
// speed.
struct CloseCase {
    const char* what;
    std::uint8_t trigger;  // the request at which the window closes (0xFF: identity)
    bool answered;  // false: the request is left unanswered; true: the close comes while the next drains
    double bytesPerSecond;
};

class AlsaClose : public ::testing::TestWithParam<CloseCase> {};

TEST_P(AlsaClose, ClosingTheWindowEndsEveryWaitPromptlyAndSilently) {
    using testing::ScriptedDevice;
    const CloseCase& c = GetParam();
    Bench bench;
    std::atomic<bool> reached{false};
    bench.scripted = std::make_unique<ScriptedDevice>(
        bench.deviceSide,
        [&reached, &c](const ScriptedDevice::Bytes& r, int) -> std::optional<ScriptedDevice::Bytes> {
            const bool trigger = c.trigger == 0xFF ? ScriptedDevice::isIdentityRequest(r)
                                                   : ScriptedDevice::isCode(r, c.trigger);
            if (trigger) {
                reached = true;
                if (!c.answered)
                    return std::nullopt;
            }
            return ScriptedDevice::usualAnswer(r);
        });
    bench.start({4096, c.bytesPerSecond, 0, 0});
    const Resources before;
    Timing timing = quickTiming();
    timing.replyTimeout = 30s;  // the close, not a time-out, must end every wait
    timing.blockTimeout = 30s;
    const auto closedAt = [&] {
        CUpdateCore core(bench.driver, bench.view, timing);
        core.startPolling();
        core.onExecute();
        const auto deadline = Clock::now() + 10s;
        while (!reached && core.busy() && Clock::now() < deadline)
            std::this_thread::sleep_for(1ms);
        EXPECT_TRUE(reached) << c.what << ": the wait was never reached";
        std::this_thread::sleep_for(50ms);
        bench.view.clear();
        return Clock::now();
    }();  // the core's destructor is the window's teardown
    EXPECT_LT(Clock::now() - closedAt, 3s) << c.what;
    EXPECT_TRUE(bench.view.only("error:").empty()) << c.what << ": a message after the close";
    EXPECT_EQ(bench.alsa->openHandles(), 0) << c.what;
    const Resources after;
    EXPECT_EQ(after.threads, before.threads) << c.what;
    EXPECT_EQ(after.fds, before.fds) << c.what;
}

INSTANTIATE_TEST_SUITE_P(
    Waits, AlsaClose,
    ::testing::Values(CloseCase{"identity", 0xFF, false, 0}, CloseCase{"begin", 0x01, false, 0},
                      CloseCase{"read-back", 0x60, false, 0}, CloseCase{"erase", 0x0A, false, 0},
                      CloseCase{"block", 0x02, false, 0}, CloseCase{"end", 0x04, false, 0},
                      CloseCase{"the first block draining at DIN speed", 0x0A, true, 3125}));

// Several cards with equal, long and UTF-8 names and several subdevices: what the lists show (whole), and
// where.
TEST(AlsaPorts, CardsAreListedWithDistinctBoundedNamesAndTheirAddresses) {
    const std::string longName(50, 'L');
    const std::string utf8 = "\xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA" + longName;
    CFakeAlsa alsa(
        {FakeCard{{{"Velmora", {"Velmora MIDI 1"}, {"Velmora MIDI 1"}}}},
         FakeCard{{{"Velmora", {"Velmora MIDI 1"}, {}}, {"Hub", {"Hub 1", "Hub 2", ""}, {"Hub 1"}}}},
         FakeCard{{{longName, {""}, {}}, {utf8, {""}, {}}}}});
    CFakedAlsaDriver driver;
    const std::vector<std::pair<std::string, std::string>> expected = {{"Velmora MIDI 1", "hw:0,0,0"},
                                                                       {"Velmora MIDI 1 (2)", "hw:1,0,0"},
                                                                       {"Hub 1", "hw:1,1,0"},
                                                                       {"Hub 2", "hw:1,1,1"},
                                                                       {"Hub", "hw:1,1,2"},
                                                                       {longName, "hw:2,0,0"},
                                                                       {utf8, "hw:2,1,0"}};
    ASSERT_EQ(driver.portCount(midi::Direction::In), expected.size());
    for (unsigned i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(driver.portName(midi::Direction::In, i), expected[i].first) << "input " << i;
        EXPECT_EQ(driver.portAddress(midi::Direction::In, i), expected[i].second) << "input " << i;
    }
    EXPECT_EQ(driver.portCount(midi::Direction::Out), 2u) << "a device without outputs lists none";
    EXPECT_EQ(driver.portAddress(midi::Direction::Out, 1), "hw:1,1,0");
}

// Between the list and the open, the ports may change: an index opens the port listed there or nothing.
struct ReopenCase {
    const char* what;
    std::vector<FakeCard> now;  // the cards at open time; the list was taken with twoCards()
    const char* shown;          // the dialog's message, "" when the open succeeds
};

class AlsaReopen : public ::testing::TestWithParam<ReopenCase> {};

TEST_P(AlsaReopen, TheListedPortIsThePortOpenedOrTheOpenFails) {
    const ReopenCase& c = GetParam();
    CFakeAlsa alsa(twoCards());
    CFakedAlsaDriver driver;
    ASSERT_EQ(driver.portName(midi::Direction::Out, 1), "Velmora MIDI 1");
    alsa.replug(c.now);
    std::string why;
    const bool opened = driver.openOutput(1, &why) != nullptr;
    EXPECT_EQ(opened, std::string(c.shown).empty()) << c.what << ": " << why;
    if (!opened) {
        EXPECT_EQ(why, midi::kPortListChanged) << c.what;
    }

    testing::RecordingView view;  // the same through Execute, as the dialog shows it
    view.input = 1;
    view.output = 1;
    alsa.replug(twoCards());
    ASSERT_EQ(driver.portName(midi::Direction::In, 1), "Velmora MIDI 1");
    ASSERT_EQ(driver.portName(midi::Direction::Out, 1), "Velmora MIDI 1");
    alsa.replug(c.now);
    {
        CUpdateCore core(driver, view, Timing::scaled(0.01));
        testing::runUpdate(core, 10s);
    }
    if (*c.shown != 0) {
        EXPECT_EQ(view.only("error:"), std::vector<std::string>{std::string("error:") + c.shown}) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Changes, AlsaReopen,
    ::testing::Values(ReopenCase{"nothing changed", twoCards(), ""},
                      ReopenCase{"a card plugged in before the device",
                                 {twoCards()[0], FakeCard{{{"Synth", {"Synth"}, {"Synth"}}}}, twoCards()[1]},
                                 texts::kCantOpenOut},
                      ReopenCase{"the device unplugged", {twoCards()[0]}, texts::kCantOpenOut},
                      ReopenCase{"another device in the device's place",
                                 {twoCards()[0], FakeCard{{{"Synth", {"Synth"}, {"Synth"}}}}},
                                 texts::kCantOpenOut}));

TEST(AlsaPorts, AnOutputAnotherProgramHoldsIsRefusedWithEbusy) {
    CFakeAlsa alsa(twoCards());
    CFakedAlsaDriver driver;
    alsa.hold(kDevicePort, true);
    std::string why;
    EXPECT_EQ(driver.openOutput(1, &why), nullptr);
    EXPECT_NE(why.find("is in use by"), std::string::npos) << why;
    alsa.hold(kDevicePort, false);
    EXPECT_NE(driver.openOutput(1, &why), nullptr) << why;
}

}  // namespace
}  // namespace velmora
