// CMidiInPort over the loopback driver: its states, what becomes an entry, the queue's order and lifetime,
// and closing while the driver's thread is delivering.
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "midi/CMidiInPort.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/DescribedRow.h"

namespace velmora::midi {
namespace {

using velmora::testing::PrintTo;
using Vec = std::vector<std::uint8_t>;

const Vec kStatus = {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7};
const Vec kDone = {0xF0, 0x52, 0x00, 0x63, 0x02, 0xF7};

Vec sysex(std::size_t length, std::uint8_t fill = 0x11) {
    Vec m(length, fill);
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}

class InPortTest : public ::testing::Test {
  protected:
    bool write(const Vec& raw) { return dev0->write(Bytes(raw.data(), raw.size())); }

    // Takes the oldest entry off the queue; empty when there is none.
    Vec take() {
        const auto entry = port.peekMessage();
        if (!entry) {
            return {};
        }
        Vec copy(entry->begin(), entry->end());
        port.popMessage();
        return copy;
    }

    CLoopbackDriver driver;
    std::shared_ptr<LoopbackInputEnd> dev0 = driver.addInput("USB Audio Device");
    std::shared_ptr<LoopbackInputEnd> dev1 = driver.addInput("Velmora");
    CMidiInPort port{driver};
};

TEST_F(InPortTest, StartsClosedOnIndexZeroWithAnEmptyQueue) {
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.deviceIndex(), 0);
    EXPECT_FALSE(port.peekMessage().has_value());
}

// A second open must not silently move the port to another device or reopen the running one.
TEST_F(InPortTest, OpenWhileRunningSucceedsAndChangesNothing) {
    ASSERT_TRUE(port.open(0));
    EXPECT_TRUE(port.open(1));
    EXPECT_EQ(port.deviceIndex(), 0) << "the index is not even compared";
    EXPECT_TRUE(dev0->isOpen());
    EXPECT_FALSE(dev1->isOpen());
    ASSERT_TRUE(write(kStatus));
    EXPECT_EQ(take(), kStatus);
}

TEST_F(InPortTest, CloseWhileClosedDoesNothing) {
    EXPECT_FALSE(port.close());
    ASSERT_TRUE(port.open(1));
    EXPECT_TRUE(port.close());
    EXPECT_FALSE(dev1->isOpen());
    EXPECT_FALSE(port.close());
    EXPECT_EQ(port.deviceIndex(), 1) << "the index is kept after close";
}

TEST_F(InPortTest, ClosedPortReceivesNothing) {
    ASSERT_TRUE(port.open(0));
    ASSERT_TRUE(port.close());
    EXPECT_FALSE(write(kStatus));
    EXPECT_FALSE(port.peekMessage().has_value());
}

// Replies that arrived just before "Execute" reopens the port are still processed afterwards.
TEST_F(InPortTest, EntriesQueuedBeforeACloseSurviveItAndTheNextOpen) {
    ASSERT_TRUE(port.open(0));
    ASSERT_TRUE(write(kStatus));
    ASSERT_TRUE(port.close());
    const auto kept = port.peekMessage();
    ASSERT_TRUE(kept.has_value());
    EXPECT_EQ(Vec(kept->begin(), kept->end()), kStatus);
    ASSERT_TRUE(port.open(1));
    ASSERT_TRUE(dev1->write(Bytes(kDone.data(), kDone.size())));
    EXPECT_EQ(take(), kStatus);
    EXPECT_EQ(take(), kDone);
    EXPECT_TRUE(take().empty());
}

TEST_F(InPortTest, PeekTwiceGivesTheSameEntryAndLeavesItQueued) {
    ASSERT_TRUE(port.open(0));
    ASSERT_TRUE(write(kStatus));
    ASSERT_TRUE(write(kDone));
    const auto first = port.peekMessage();
    const auto second = port.peekMessage();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->data(), second->data()) << "the same entry, not a copy";
    EXPECT_EQ(Vec(second->begin(), second->end()), kStatus);
    port.popMessage();
    EXPECT_EQ(take(), kDone);
}

TEST_F(InPortTest, PopOnAnEmptyQueueDoesNothing) {
    port.popMessage();
    ASSERT_TRUE(port.open(0));
    port.popMessage();
    ASSERT_TRUE(write(kStatus));
    EXPECT_EQ(take(), kStatus) << "an earlier pop on the empty queue must not have eaten a later entry";
}

TEST_F(InPortTest, EntriesComeOutInArrivalOrder) {
    ASSERT_TRUE(port.open(0));
    Vec both = kStatus;
    both.insert(both.end(), kDone.begin(), kDone.end());
    ASSERT_TRUE(write(both));  // two replies back to back in one read
    ASSERT_TRUE(write(sysex(9, 0x33)));
    EXPECT_EQ(take(), kStatus);
    EXPECT_EQ(take(), kDone);
    EXPECT_EQ(take(), sysex(9, 0x33));
    EXPECT_TRUE(take().empty());
}

TEST_F(InPortTest, ChannelAndRealTimeMessagesYieldNoEntry) {
    ASSERT_TRUE(port.open(0));
    ASSERT_TRUE(write({0x90, 0x3C, 0x64, 0xB0, 0x07, 0x7F, 0xF8, 0xFE, 0xC0, 0x05}));
    EXPECT_FALSE(port.peekMessage().has_value());
}

struct LengthCase {
    const char* what;
    std::size_t messageLength;
    std::vector<std::size_t> entryLengths;
};

class InPortLengths : public InPortTest, public ::testing::WithParamInterface<LengthCase> {};

// The queue must hold what the driver delivered, byte for byte: no entry merged, cut or lost.
TEST_P(InPortLengths, LongMessagesArriveAsEntriesOfAtMost8192Bytes) {
    const LengthCase& c = GetParam();
    Vec message = sysex(c.messageLength);
    for (std::size_t i = 1; i + 1 < message.size(); ++i) {
        message[i] = static_cast<std::uint8_t>(i % 127);
    }
    ASSERT_TRUE(port.open(0));
    ASSERT_TRUE(write(message));
    Vec joined;
    for (std::size_t i = 0; i < c.entryLengths.size(); ++i) {
        const Vec entry = take();
        ASSERT_EQ(entry.size(), c.entryLengths[i]) << c.what << ", entry " << i;
        EXPECT_EQ(entry.front() == 0xF0, i == 0) << c.what << ": only the first piece begins the message";
        joined.insert(joined.end(), entry.begin(), entry.end());
    }
    EXPECT_FALSE(port.peekMessage().has_value()) << c.what;
    EXPECT_EQ(joined, message) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Sizes, InPortLengths,
                         ::testing::Values(LengthCase{"an empty SysEx", 2, {2}},
                                           LengthCase{"exactly one buffer", 8192, {8192}},
                                           LengthCase{"one byte over", 8193, {8192, 1}},
                                           LengthCase{"two buffers and a bit", 16390, {8192, 8192, 6}}));

TEST_F(InPortTest, RefusedOpenLeavesThePortClosedWithTheReason) {
    dev1->setRefuseOpen(true);
    EXPECT_FALSE(port.open(1));
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.deviceIndex(), 1) << "the index is stored even when opening fails";
    EXPECT_FALSE(port.lastError().empty());
    dev1->setRefuseOpen(false);
    EXPECT_TRUE(port.open(1)) << "a failed open must not leave anything behind that blocks the next";
    EXPECT_TRUE(port.lastError().empty());
}

TEST_F(InPortTest, NoSelectionAndIndicesPastTheEndFailToOpen) {
    EXPECT_FALSE(port.open(-1));
    EXPECT_EQ(port.deviceIndex(), -1);
    EXPECT_FALSE(port.open(2));
    EXPECT_FALSE(port.isOpen());
}

TEST_F(InPortTest, CountsAndWholeNamesDoNotDependOnTheOpenState) {
    // 44 bytes: "Velmora " then 12 three-byte characters, shown whole (a Japanese name of 14 characters was
    // cut).
    std::string longName = "Velmora ";
    for (int i = 0; i < 12; ++i) {
        longName += "\xE3\x82\xAA";
    }
    driver.addInput(longName);
    EXPECT_EQ(port.deviceCount(), 3u);
    EXPECT_EQ(port.deviceName(1), "Velmora");
    ASSERT_TRUE(port.open(0));
    EXPECT_EQ(port.deviceName(2), longName);
    EXPECT_EQ(port.deviceName(3), "");
    EXPECT_EQ(port.deviceName(-1), "");
}

TEST_F(InPortTest, ADeviceThatFloodsMessagesFillsTheQueueOnlyToItsBoundAndTheRestAreCounted) {
    // Guards memory growing without limit while nobody drains the queue.
    ASSERT_TRUE(port.open(0));
    const std::size_t fits = kMaxQueuedBytes / 8192;
    for (std::size_t i = 0; i < fits + 10; ++i) {
        ASSERT_TRUE(write(sysex(8192)));
    }
    EXPECT_EQ(port.droppedEntries(), 10u);
    ASSERT_FALSE(take().empty());
    ASSERT_TRUE(write(kStatus)) << "room made by the consumer is used again";
    std::size_t queued = 0;
    Vec last;
    for (Vec entry = take(); !entry.empty(); entry = take()) {
        ++queued;
        last = entry;
    }
    EXPECT_EQ(queued, fits);
    EXPECT_EQ(last, kStatus);
    EXPECT_EQ(port.droppedEntries(), 10u);
}

// Entries left in the queue belong to the port: LeakSanitizer reports them if destruction forgets any.
TEST_F(InPortTest, DestructionClosesTheDeviceAndReleasesQueuedEntries) {
    auto doomed = std::make_unique<CMidiInPort>(driver);
    ASSERT_TRUE(doomed->open(1));
    for (const Vec& m : {kStatus, sysex(8192), sysex(8193), kDone}) {
        ASSERT_TRUE(dev1->write(Bytes(m.data(), m.size())));
    }
    doomed.reset();
    EXPECT_FALSE(dev1->isOpen());
    EXPECT_FALSE(dev1->write(Bytes(kStatus.data(), kStatus.size())));
}

TEST_F(InPortTest, ArrivalHookRunsOncePerEntryAfterItIsQueued) {
    int calls = 0;
    bool queuedBeforeHook = true;
    port.setArrivalHook([&] {
        ++calls;
        queuedBeforeHook = queuedBeforeHook && port.peekMessage().has_value();
    });
    ASSERT_TRUE(port.open(0));
    ASSERT_TRUE(write({0x90, 0x3C, 0x64}));
    EXPECT_EQ(calls, 0) << "no entry, no call";
    ASSERT_TRUE(write(kStatus));
    ASSERT_TRUE(write(sysex(8193)));
    EXPECT_EQ(calls, 3);
    EXPECT_TRUE(queuedBeforeHook);
    port.setArrivalHook(nullptr);
    ASSERT_TRUE(write(kDone));
    EXPECT_EQ(calls, 3) << "a cleared hook is not called";
}

// The driver delivers while holding its own lock, and closing waits for that lock. A port that held its
// queue lock (or anything its handler takes) while closing would deadlock here, and a lost or reordered entry
// would show in the sequence numbers.
TEST_F(InPortTest, CloseAndReopenWhileTheDriverDeliversNeitherDeadlocksNorLosesEntries) {
    constexpr int kMessages = 20000;
    std::atomic<int> hookCalls{0};
    port.setArrivalHook([&] { hookCalls.fetch_add(1); });
    ASSERT_TRUE(port.open(0));
    std::atomic<bool> writing{true};
    std::vector<int> accepted;  // written only by the writer until it is joined
    std::thread writer([&] {
        for (int i = 0; i < kMessages; ++i) {
            const Vec m = {0xF0,
                           0x52,
                           0x00,
                           0x63,
                           0x00,
                           static_cast<std::uint8_t>(i & 0x7F),
                           static_cast<std::uint8_t>((i >> 7) & 0x7F),
                           static_cast<std::uint8_t>(i >> 14),
                           0xF7};
            if (dev0->write(Bytes(m.data(), m.size()))) {
                accepted.push_back(i);
            }
        }
        writing = false;
    });
    std::vector<int> received;
    auto drain = [&] {
        while (const auto entry = port.peekMessage()) {
            const Bytes& e = *entry;
            received.push_back(e[5] | (e[6] << 7) | (e[7] << 14));
            port.popMessage();
        }
    };
    for (int cycles = 0; writing || cycles < 50; ++cycles) {
        port.close();
        drain();
        if (!port.open(0)) {
            ADD_FAILURE() << "reopening failed";
            break;
        }
        drain();
    }
    writer.join();
    drain();
    EXPECT_EQ(received, accepted);
    EXPECT_EQ(hookCalls.load(), static_cast<int>(accepted.size()));
}

}  // namespace
}  // namespace velmora::midi
