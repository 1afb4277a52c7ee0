// The WinMM driver over a faked winmm that behaves as Windows does (callbacks on the system's thread, a long
// SysEx handed over in pieces, MHDR_DONE some time after midiOutLongMsg, ports held by others, unplugs), with
// the emulated device behind it. Built for Windows only and run under Wine.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "emulator/CEmulatedDevice.h"
#include "fakes/winmm/FakeWinMm.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "midi/drivers/winmm/WinMmDriver.h"
#include "support/ByteLink.h"
#include "support/DescribedRow.h"
#include "support/InstantDevice.h"
#include "support/OnlyEmulated.h"
#include "support/RecordingView.h"
#include "support/RunUpdate.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using velmora::testing::PrintTo;
using namespace std::chrono_literals;
using fakes::CFakeWinMm;
using fakes::FakeWinMmOptions;
using Clock = std::chrono::steady_clock;

using CFakedWinMmDriver = testing::COnlyEmulated<midi::CWinMmDriver>;

const std::vector<std::string> kPorts = {"Thru", "Velmora"};
constexpr unsigned kDevice = 1;

// The emulated device behind port 1 of the faked system.
struct Bench {
    explicit Bench(FakeWinMmOptions options, testing::CByteLink::Gate gate = {}) {
        device = std::make_unique<emulator::CEmulatedDevice>(deviceSide, testing::instantConfig());
        link = std::make_unique<testing::CByteLink>(
            deviceSide, [this](midi::Bytes answer) { winmm->deliver(kDevice, answer); }, std::move(gate));
        winmm =
            std::make_unique<CFakeWinMm>(kPorts, kPorts, options, [this](unsigned index, midi::Bytes bytes) {
                if (index == kDevice)
                    link->fromHost(bytes);
            });
        view.input = kDevice;
        view.output = kDevice;
    }
    midi::CLoopbackDriver deviceSide;
    std::unique_ptr<emulator::CEmulatedDevice> device;
    std::unique_ptr<testing::CByteLink> link;
    std::unique_ptr<CFakeWinMm> winmm;
    CFakedWinMmDriver driver;
    testing::RecordingView view;
};

// Every header done a little after midiOutLongMsg returned; answers arrive through the input callbacks.
TEST(WinMmUpdate, WholeUpdateThroughTheWinMmDriverCompletesWithThePlanInFlash) {
    Bench bench({});
    {
        CUpdateCore core(bench.driver, bench.view, Timing::scaled(0.1));
        ASSERT_TRUE(testing::runUpdate(core)) << "the update never ended";
    }
    testing::expectCompletedWithThePlan(bench.view, *bench.device);
    EXPECT_EQ(bench.winmm->lostBytes(), 0u);
    EXPECT_EQ(bench.winmm->openHandles(), 0);
}

// A long SysEx reaches the handler whole (split only at 8192 bytes) although the system hands it over in
// 1024-byte buffers, faster than a USB link delivers them, or all at once.
struct PiecesCase {
    const char* what;
    std::size_t size;
    std::chrono::microseconds gap;
};

class WinMmInput : public ::testing::TestWithParam<PiecesCase> {};

TEST_P(WinMmInput, ALongSysExArrivingInPiecesIsJoinedWhole) {
    const PiecesCase& c = GetParam();
    FakeWinMmOptions options;
    options.pieceGap = c.gap;
    CFakeWinMm winmm(kPorts, kPorts, options);
    CFakedWinMmDriver driver;
    std::mutex mutex;
    std::vector<std::uint8_t> received;
    int entries = 0;
    auto in = driver.openInput(
        static_cast<int>(kDevice),
        [&](midi::Bytes entry) {
            std::lock_guard lock(mutex);
            received.insert(received.end(), entry.begin(), entry.end());
            ++entries;
        },
        nullptr);
    ASSERT_NE(in, nullptr);
    std::vector<std::uint8_t> message(c.size);
    for (std::size_t i = 0; i < message.size(); ++i)
        message[i] = static_cast<std::uint8_t>(i % 0x7F);
    message.front() = 0xF0;
    message.back() = 0xF7;
    winmm.deliver(kDevice, message);
    const auto deadline = Clock::now() + 5s;
    for (;;) {
        {
            std::lock_guard lock(mutex);
            if (received.size() >= message.size() || Clock::now() > deadline)
                break;
        }
        std::this_thread::sleep_for(1ms);
    }
    in.reset();
    EXPECT_EQ(winmm.lostBytes(), 0u) << c.what << ": a piece found no buffer lent";
    EXPECT_EQ(received, message) << c.what;
    EXPECT_EQ(entries, static_cast<int>((c.size + midi::kMaxSysExEntry - 1) / midi::kMaxSysExEntry))
        << c.what;
    EXPECT_EQ(winmm.openHandles(), 0);
}

INSTANTIATE_TEST_SUITE_P(Pieces, WinMmInput,
                         ::testing::Values(PiecesCase{"five pieces, 1 ms apart", 5000, 1000us},
                                           PiecesCase{"twenty pieces 2 ms apart, three entries", 20000,
                                                      2000us},
                                           PiecesCase{"pieces back to back", 5000, 0us}));

// A send completes when the system has marked its header done, not when midiOutLongMsg returned.
TEST(WinMmOutput, SendCompletesOnlyOnceTheHeaderIsDone) {
    std::size_t onWire = 0;
    std::mutex mutex;
    CFakeWinMm winmm(kPorts, kPorts, {31250}, [&](unsigned, midi::Bytes bytes) {
        std::lock_guard lock(mutex);
        onWire += bytes.size();
    });
    CFakedWinMmDriver driver;
    auto out = driver.openOutput(static_cast<int>(kDevice), nullptr);
    ASSERT_NE(out, nullptr);
    std::vector<std::uint8_t> message(3125, 0x11);
    message.front() = 0xF0;
    message.back() = 0xF7;
    auto done = std::make_shared<midi::SendCompletion>();
    const auto started = Clock::now();
    ASSERT_TRUE(out->send(message, done));
    const auto sent = done->waitFor(5s);
    const auto took = Clock::now() - started;
    ASSERT_TRUE(sent.has_value());
    EXPECT_TRUE(*sent);
    EXPECT_GE(took, 90ms) << "3125 bytes at 31250 bytes per second take 100 ms";
    std::lock_guard lock(mutex);
    EXPECT_EQ(onWire, message.size());
}

// Opening: a port another program holds, and an index whose port changed since the list was shown.
struct OpenCase {
    const char* what;
    bool held;
    std::vector<std::string> now;  // the ports at open time; the list was shown with kPorts
    const char* why;               // what the driver says, "" when the open succeeds
};

class WinMmOpen : public ::testing::TestWithParam<OpenCase> {};

TEST_P(WinMmOpen, TheListedPortOpensOrTheOpenSaysWhy) {
    const OpenCase& c = GetParam();
    CFakeWinMm winmm(kPorts, kPorts);
    CFakedWinMmDriver driver;
    ASSERT_EQ(driver.portCount(midi::Direction::Out), 2u);
    ASSERT_EQ(driver.portName(midi::Direction::Out, kDevice), "Velmora");
    ASSERT_EQ(driver.portName(midi::Direction::In, kDevice), "Velmora");
    winmm.replug(c.now, c.now);
    winmm.hold(true, kDevice, c.held);
    std::string why;
    const bool opened = driver.openOutput(static_cast<int>(kDevice), &why) != nullptr;
    EXPECT_EQ(opened, *c.why == 0) << c.what << ": " << why;
    EXPECT_NE(why.find(c.why), std::string::npos) << c.what << ": " << why;
    why.clear();
    const bool inOpened = driver.openInput(
                              static_cast<int>(kDevice), [](midi::Bytes) {}, &why) != nullptr;
    EXPECT_EQ(inOpened, c.held || *c.why == 0) << c.what << ": " << why;
}

INSTANTIATE_TEST_SUITE_P(
    Ports, WinMmOpen,
    ::testing::Values(OpenCase{"nothing changed", false, kPorts, ""},
                      OpenCase{"another program holds the port", true, kPorts, "already allocated"},
                      OpenCase{"a device plugged in before it",
                               false,
                               {"Thru", "Synth", "Velmora"},
                               midi::kPortListChanged},
                      OpenCase{"the device unplugged", false, {"Thru"}, midi::kPortListChanged}));

// Lists of different lengths and names each way: a driver that answered one direction from the other's list,
// or kept what one list showed in the other's record, reports the wrong ports or refuses an unchanged one.
TEST(WinMmPorts, EachDirectionListsAndOpensItsOwnPorts) {
    const std::vector<std::string> inputs = {"In A", "In B", "In C"};
    const std::vector<std::string> outputs = {"Out A"};
    CFakeWinMm winmm(inputs, outputs);
    midi::CWinMmDriver driver;
    const std::pair<midi::Direction, const std::vector<std::string>&> lists[] = {
        {midi::Direction::In, inputs}, {midi::Direction::Out, outputs}};
    for (const auto& [direction, names] : lists) {
        ASSERT_EQ(driver.portCount(direction), names.size());
        for (unsigned i = 0; i <= names.size(); ++i) {
            EXPECT_EQ(driver.portName(direction, i), i < names.size() ? names[i] : "") << i;
        }
    }
    std::string why;
    EXPECT_NE(driver.openInput(0, midi::SysExHandler([](midi::Bytes) {}), &why), nullptr) << why;
    EXPECT_NE(driver.openOutput(0, &why), nullptr) << why;
}

// The device unplugged when it receives its k-th request: the run ends with one of the program's messages and
// nothing stays open.
TEST(WinMmUnplug, UnplugAtARequestFailsHonestlyWithoutAHang) {
    for (const int k : {1, 2, 7}) {
        Bench* benchPtr = nullptr;
        Bench bench({}, [&benchPtr, k](int n) {
            if (n < k)
                return true;
            benchPtr->winmm->unplug("Velmora");
            return false;
        });
        benchPtr = &bench;
        const auto started = Clock::now();
        {
            CUpdateCore core(bench.driver, bench.view, Timing::scaled(0.02));
            ASSERT_TRUE(testing::runUpdate(core, 60s)) << "unplug at request " << k;
        }
        EXPECT_LT(Clock::now() - started, 20s) << "unplug at request " << k;
        EXPECT_EQ(bench.view.count("status:Version update completed."), 0u) << "unplug at request " << k;
        EXPECT_EQ(bench.view.only("error:").size(), 1u) << "unplug at request " << k;
    }
}

}  // namespace
}  // namespace velmora
