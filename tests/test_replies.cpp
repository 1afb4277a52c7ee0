// Reply processing: the decision table and the read-reply path with messages that arrive through a real
// input queue, every truncation of a message against the parser, the abort, and the timer thread draining
// while a device floods the port.
#include <gtest/gtest.h>

#include <functional>

#include <algorithm>

#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "midi/CDxMTimer.h"
#include "midi/CMidiInPort.h"
#include "midi/CMidiOutPort.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/DescribedRow.h"
#include "update/Codec.h"
#include "update/Messages.h"
#include "update/Replies.h"

namespace velmora {
namespace {

using velmora::testing::PrintTo;
using namespace std::chrono_literals;
using Vec = std::vector<std::uint8_t>;

constexpr std::int32_t kSeedStatus = 42;  // set before each case, so that "unchanged" shows
const Vec kSeed = {0xF0, 0x52, 0x00, 0x63, 0x00, kSeedStatus, 0xF7};

const Vec kAck63 = {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7};
const Vec kAck62 = {0xF0, 0x52, 0x00, 0x62, 0x00, 0x00, 0xF7};
const Vec kReject63 = {0xF0, 0x52, 0x00, 0x63, 0x00, 0x01, 0xF7};
const Vec kHostIdentity = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00,
                           0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};

// The 4 data bytes "1.00" for device 0x63, as the device sends them.
const Vec kReadExample = {0xF0, 0x52, 0x00, 0x63, 0x60, 0x04, 0x30, 0x00, 0x00, 0x04, 0x00,
                          0x00, 0x31, 0x2E, 0x30, 0x30, 0x12, 0x25, 0x03, 0x6B, 0x05, 0xF7};

Vec readReply(const Vec& data, std::uint8_t deviceCode = 0x63) {
    Vec m = {0xF0, 0x52, 0x00, deviceCode, 0x60, 0x04, 0x30, 0x00, 0x00, 0x00, 0x00};
    encodeLength14(static_cast<std::uint32_t>(data.size()), &m[9]);
    const std::size_t dataPos = m.size();
    m.resize(dataPos + packedLength(data.size()) + 6);
    const std::size_t packed = pack7(&m[dataPos], data.data(), data.size());
    encode7x5(checksum32(data.data(), data.size()), &m[dataPos + packed]);
    m.back() = 0xF7;
    return m;
}

Vec withByte(Vec m, std::size_t pos, std::uint8_t value) {
    m[pos] = value;
    return m;
}

// A message longer than one input buffer whose second piece reads like `piece`; the first piece comes from
// another maker and is dropped.
Vec longMessageEndingIn(const Vec& piece) {
    Vec m(8192 + piece.size(), 0x00);
    m[0] = 0xF0;
    m[1] = 0x41;
    std::copy(piece.begin(), piece.end(), m.begin() + 8192);
    return m;
}

// A host with its two ports open on a loopback device and its reply state.
struct Rig {
    explicit Rig(std::uint8_t deviceCode = CSysExSender::kInitialDeviceCode) {
        fromDevice = driver.addInput("Velmora");
        toDevice = driver.addOutput("Velmora");
        out.open(0);
        in.open(0);
        sender.setDeviceCode(deviceCode);
    }
    bool feed(const Vec& raw) { return fromDevice->write(midi::Bytes(raw.data(), raw.size())); }
    void process() { processReplies(in, sender, state); }
    // Every answer the host has sent so far, in order.
    std::vector<Vec> answers() {
        std::vector<Vec> all;
        while (auto m = toDevice->receive(0ms)) {
            all.push_back(std::move(*m));
        }
        return all;
    }
    bool signalled() { return state.event().waitFor(0ms); }

    midi::CLoopbackDriver driver;
    std::shared_ptr<midi::LoopbackInputEnd> fromDevice;
    std::shared_ptr<midi::LoopbackOutputEnd> toDevice;
    midi::CMidiOutPort out{driver};
    midi::CMidiInPort in{driver};
    CSysExSender sender{out};
    CReplyState state;
};

class RepliesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(rig.out.isOpen() && rig.in.isOpen());
        ASSERT_TRUE(rig.feed(kSeed));
        rig.process();
        ASSERT_EQ(rig.state.replyStatus(), kSeedStatus);
        rig.state.event().reset();
    }
    Rig rig;
};

// ---- the decision table ----

struct TableRow {
    const char* what;
    std::uint8_t deviceCode;
    Vec wire;
    std::int32_t status;
    std::uint8_t reportedCode;
    bool signalled;
    std::vector<Vec> answers;
};

class DecisionTable : public RepliesTest, public ::testing::WithParamInterface<TableRow> {};

TEST_P(DecisionTable, StatusReportedCodeSignalAndAnswers) {
    const TableRow& row = GetParam();
    rig.sender.setDeviceCode(row.deviceCode);
    ASSERT_TRUE(rig.feed(row.wire));
    rig.process();
    EXPECT_FALSE(rig.in.peekMessage().has_value()) << "every entry is popped, whatever it was";
    EXPECT_EQ(rig.state.replyStatus(), row.status);
    EXPECT_EQ(rig.state.reportedDeviceCode(), row.reportedCode);
    EXPECT_EQ(rig.signalled(), row.signalled);
    EXPECT_EQ(rig.answers(), row.answers);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Rows, DecisionTable, ::testing::Values(
    TableRow{"status 0 answers a request", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7}, 0, 0, true, {}},
    TableRow{"status 11: not in version-update mode", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x00, 0x0B, 0xF7}, 11, 0, true, {}},
    TableRow{"status 1 is a failure", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x00, 0x01, 0xF7}, 1, 0, true, {}},
    TableRow{"the channel byte is never examined", 0x63, {0xF0, 0x52, 0x7F, 0x63, 0x00, 0x07, 0xF7}, 7, 0, true, {}},
    TableRow{"a status from a device with another code is dropped", 0x63, {0xF0, 0x52, 0x00, 0x62, 0x00, 0x00, 0xF7}, kSeedStatus, 0, false, {}},
    TableRow{"a status matched on the learnt code", 0x62, {0xF0, 0x52, 0x00, 0x62, 0x00, 0x05, 0xF7}, 5, 0, true, {}},
    TableRow{"the start-up code no longer matches once another is learnt", 0x62, {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7}, kSeedStatus, 0, false, {}},
    TableRow{"another maker's message is dropped", 0x63, {0xF0, 0x41, 0x00, 0x63, 0x00, 0x00, 0xF7}, kSeedStatus, 0, false, {}},
    TableRow{"the second piece of a long message is not read as a reply", 0x63, longMessageEndingIn({0x10, 0x52, 0x00, 0x63, 0x00, 0x05, 0xF7}), kSeedStatus, 0, false, {}},
    TableRow{"device code 0x01 is acknowledged", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7}, kSeedStatus, 0, false, {kAck63}},
    TableRow{"device code 0x04 is acknowledged", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x04, 0xF7}, kSeedStatus, 0, false, {kAck63}},
    TableRow{"device code 0x05 is acknowledged", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x05, 0xF7}, kSeedStatus, 0, false, {kAck63}},
    TableRow{"the acknowledgement carries the learnt code", 0x62, {0xF0, 0x52, 0x00, 0x62, 0x01, 0xF7}, kSeedStatus, 0, false, {kAck62}},
    TableRow{"DoneReply is success", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x02, 0xF7}, 0, 0, true, {}},
    TableRow{"code 0x03 is ignored", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x03, 0xF7}, kSeedStatus, 0, false, {}},
    TableRow{"code 0x07 is rejected", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x07, 0xF7}, kSeedStatus, 0, false, {kReject63}},
    TableRow{"code 0x5F, just below the read code, is rejected", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x5F, 0xF7}, kSeedStatus, 0, false, {kReject63}},
    TableRow{"code 0x61, just above the read code, is rejected", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x61, 0xF7}, kSeedStatus, 0, false, {kReject63}},
    TableRow{"code 0x7F is rejected", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x7F, 0x00, 0xF7}, kSeedStatus, 0, false, {kReject63}},
    TableRow{"code 0x60 with byte 5 not 0x04 signals and leaves the status", 0x63, {0xF0, 0x52, 0x00, 0x63, 0x60, 0x05, 0xF7}, kSeedStatus, 0, true, {}},
    TableRow{"a universal real-time message is dropped", 0x63, {0xF0, 0x7F, 0x7F, 0x06, 0x01, 0xF7}, kSeedStatus, 0, false, {}},
    TableRow{"a universal message other than General Information is dropped", 0x63, {0xF0, 0x7E, 0x00, 0x07, 0x01, 0xF7}, kSeedStatus, 0, false, {}},
    TableRow{"the device asks for identity", 0x63, {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}, kSeedStatus, 0, false, {kHostIdentity}},
    TableRow{"an all-call identity request is answered too", 0x63, {0xF0, 0x7E, 0x7F, 0x06, 0x01, 0xF7}, kSeedStatus, 0, false, {kHostIdentity}},
    TableRow{"IdentityReply reports the model code", 0x63, {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x62, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7}, 0, 0x62, true, {}},
    TableRow{"IdentityReply is taken whatever its manufacturer byte", 0x63, {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x41, 0x63, 0x00, 0x00, 0x00, 0xF7}, 0, 0x63, true, {}},
    TableRow{"IdentityReply is not matched on the device code", 0x62, {0xF0, 0x7E, 0x05, 0x06, 0x02, 0x52, 0x63, 0x00, 0xF7}, 0, 0x63, true, {}},
    TableRow{"IdentityReply ending before its model byte is dropped", 0x63, {0xF0, 0x7E, 0x00, 0x06, 0x02, 0xF7}, kSeedStatus, 0, false, {}},
    TableRow{"another General Information sub-ID is rejected", 0x63, {0xF0, 0x7E, 0x00, 0x06, 0x03, 0xF7}, kSeedStatus, 0, false, {kReject63}}));
// clang-format on

TEST_F(RepliesTest, TwoAnswersBeforeTheWaitLeaveOneSignalAndTheLaterStatus) {
    ASSERT_TRUE(rig.feed({0xF0, 0x52, 0x00, 0x63, 0x00, 0x05, 0xF7}));
    ASSERT_TRUE(rig.feed({0xF0, 0x52, 0x00, 0x63, 0x00, 0x0B, 0xF7}));
    rig.process();
    EXPECT_EQ(rig.state.replyStatus(), 11);
    EXPECT_TRUE(rig.signalled());
    EXPECT_FALSE(rig.signalled()) << "signals are not counted";
}

// The worker pairs answers with requests itself, so none may be lost when two arrive before it looks.
TEST_F(RepliesTest, EveryAnswerIsKeptInArrivalOrderUntilTakenOrCleared) {
    rig.state.clearAnswers();  // the fixture's seed
    rig.feed(kReject63);
    rig.feed({0xF0, 0x52, 0x00, 0x63, 0x02, 0xF7});
    rig.process();
    const auto first = rig.state.takeAnswer(0ms);
    const auto second = rig.state.takeAnswer(0ms);
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->status, 1);
    EXPECT_EQ(second->kind, Answer::Kind::Done);
    EXPECT_FALSE(rig.state.takeAnswer(0ms)) << "two answers, two takes";
    rig.feed(kAck63);
    rig.process();
    rig.state.clearAnswers();
    EXPECT_FALSE(rig.state.takeAnswer(0ms)) << "an answer from before the request is not its answer";
}

// A device that floods answers: once the queue is full the oldest answer goes, never the newest, which is the
// one owed to the request just sent.
TEST(AnswerQueue, WhenFullTheOldestGoesAndTheNewestStays) {
    CReplyState state;
    constexpr int kSent = static_cast<int>(reply::kMaxQueuedAnswers) + 44;
    for (int i = 0; i < kSent; ++i) {
        const Vec m = {0xF0, 0x52, 0x00, 0x63, 0x00, static_cast<std::uint8_t>(i % 128), 0xF7};
        interpretReply(midi::Bytes(m.data(), m.size()), 0x63, state);
    }
    std::vector<int> taken;
    while (const auto a = state.takeAnswer(0ms))
        taken.push_back(a->status);
    ASSERT_EQ(taken.size(), reply::kMaxQueuedAnswers);
    EXPECT_EQ(taken.front(), 44 % 128) << "the oldest kept is the first not pushed out";
    EXPECT_EQ(taken.back(), (kSent - 1) % 128) << "the newest answer must stay";
}

// A link that loops the host's own messages back (a MIDI thru, a merger, a loop cable): a WriteRequest has
// byte 4 = 0x02 as a DoneReply has, and the host's acknowledgement is byte for byte a device's status 0.
struct EchoCase {
    const char* what;
    std::function<void(CSysExSender&)> send;  // what the host sends
    int copies;                               // how often the link hands all of it back
    Vec fromDevice;                           // then the device says this, if anything
    std::size_t answers;                      // answers the worker is given
};

void writeFourBytes(CSysExSender& s) {
    const std::uint8_t data[4] = {1, 2, 3, 4};
    s.sendWriteRequest(0x63, data, 0x1000, 4);
}

const EchoCase kEchoCases[] = {
    {"the host's WriteRequest heard back is no DoneReply", writeFourBytes, 1, {}, 0},
    {"an echo is dropped once: a second copy is the device's", writeFourBytes, 2, {}, 1},
    {"a status 0 is the device's while the link is not known to echo", [](CSysExSender& s) { s.sendAck(); },
     0, kAck63, 1},
    {"the acknowledgement heard back once the link has echoed a request",
     [](CSysExSender& s) {
         s.sendReadRequest(0x22FFC, 4);
         s.sendAck();
     },
     1,
     {},
     0},
    {"the device's own status after the echoes still counts",
     [](CSysExSender& s) {
         writeFourBytes(s);
         s.sendAck();
     },
     1, kReject63, 1},
};

TEST_F(RepliesTest, MessagesTheHostSentAreEchoesNeverAnswers) {
    for (const EchoCase& c : kEchoCases) {
        SCOPED_TRACE(c.what);
        Rig r;
        c.send(r.sender);
        const std::vector<Vec> sent = r.answers();
        for (int i = 0; i < c.copies; ++i) {
            for (const Vec& m : sent) {
                r.feed(m);
            }
        }
        if (!c.fromDevice.empty()) {
            r.feed(c.fromDevice);
        }
        r.process();
        std::size_t taken = 0;
        while (r.state.takeAnswer(0ms)) {
            ++taken;
        }
        EXPECT_EQ(taken, c.answers);
        EXPECT_TRUE(r.answers().empty()) << "an echo is not answered";
    }
}

TEST_F(RepliesTest, QueuedMessagesAreAllProcessedInArrivalOrder) {
    ASSERT_TRUE(rig.feed({0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
    ASSERT_TRUE(rig.feed({0xF0, 0x52, 0x00, 0x63, 0x07, 0xF7}));
    ASSERT_TRUE(rig.feed({0xF0, 0x52, 0x00, 0x63, 0x04, 0xF7}));
    rig.process();
    EXPECT_EQ(rig.answers(), (std::vector<Vec>{kHostIdentity, kReject63, kAck63}));
}

// A device whose answers cannot be sent (port gone) must not stop the rest of the queue from being read.
TEST_F(RepliesTest, FailedAnswersAreIgnoredAndDrainingGoesOn) {
    ASSERT_TRUE(rig.feed({0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7}));
    ASSERT_TRUE(rig.feed({0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7}));
    rig.out.close();
    rig.process();
    EXPECT_EQ(rig.state.replyStatus(), 0);
    EXPECT_TRUE(rig.signalled());
    EXPECT_FALSE(rig.in.peekMessage().has_value());
}

// ---- the read-reply path ----

struct ReadCase {
    const char* what;
    Vec wire;
    std::int32_t offsetBefore;  // negative: counted back from the end of the buffer
    std::int32_t status;
    bool accepted;
    Vec data;  // what an accepted reply stores
};

class ReadReplies : public RepliesTest, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadReplies, StoreOnlyWhatFitsAndMatchesItsChecksum) {
    const ReadCase& c = GetParam();
    const auto capacity = static_cast<std::int32_t>(rig.state.readBackCapacity());
    ASSERT_EQ(capacity, static_cast<std::int32_t>(reply::kReadBackBufferSize));
    const std::int32_t before = c.offsetBefore < 0 ? capacity + c.offsetBefore : c.offsetBefore;
    rig.state.setReadBackOffset(before);
    ASSERT_TRUE(rig.feed(c.wire));
    rig.process();
    EXPECT_EQ(rig.state.replyStatus(), c.status);
    EXPECT_TRUE(rig.signalled()) << "a read reply always wakes the worker";
    EXPECT_TRUE(rig.answers().empty());
    const std::uint8_t* buffer = rig.state.readBackData();
    if (c.accepted) {
        const auto after = before + static_cast<std::int32_t>(c.data.size());
        ASSERT_EQ(rig.state.readBackOffset(), after);
        EXPECT_EQ(Vec(buffer + before, buffer + after), c.data);
        if (after < capacity) {
            EXPECT_EQ(buffer[after], 0) << "written past the data";
        }
    } else {
        EXPECT_EQ(rig.state.readBackOffset(), before);
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Cases, ReadReplies, ::testing::Values(
    ReadCase{"the four bytes 1.00", kReadExample, 0, 0, true, {0x31, 0x2E, 0x30, 0x30}},
    ReadCase{"stored at the offset, which advances", kReadExample, 100, 0, true, {0x31, 0x2E, 0x30, 0x30}},
    ReadCase{"a wrong checksum is a failed read", withByte(kReadExample, 20, 0x04), 0, 1, false, {}},
    ReadCase{"byte 6 other than 0x30 is a failed read", withByte(kReadExample, 6, 0x31), 0, 1, false, {}},
    ReadCase{"byte 5 other than 0x04 reads nothing further", withByte(kReadExample, 5, 0x05), 0, kSeedStatus, false, {}},
    ReadCase{"6 data bytes, a final group of 7", readReply({0x80, 0x81, 0x7F, 0x00, 0xFF, 0x01}), 0, 0, true, {0x80, 0x81, 0x7F, 0x00, 0xFF, 0x01}},
    ReadCase{"7 data bytes, one whole group", readReply({1, 2, 3, 4, 5, 6, 0xF7}), 10, 0, true, {1, 2, 3, 4, 5, 6, 0xF7}},
    ReadCase{"no data bytes", readReply({}), 5, 0, true, {}},
    ReadCase{"data that ends exactly at the end of the buffer", kReadExample, -4, 0, true, {0x31, 0x2E, 0x30, 0x30}},
    ReadCase{"data one byte past the end of the buffer", kReadExample, -3, 1, false, {}},
    ReadCase{"an offset already past the end", kReadExample, static_cast<std::int32_t>(reply::kReadBackBufferSize) + 1, 1, false, {}},
    ReadCase{"a length that the message does not hold", withByte(kReadExample, 9, 0x08), 0, 1, false, {}},
    ReadCase{"bytes 7 and 8 are not examined", withByte(withByte(kReadExample, 7, 0x7F), 8, 0x55), 0, 0, true, {0x31, 0x2E, 0x30, 0x30}}));
// clang-format on

TEST(ReadReplyFormat, TheTestBuilderMatchesTheDevicesExample) {
    EXPECT_EQ(readReply({0x31, 0x2E, 0x30, 0x30}), kReadExample);
}

// Data that would run past the end of the buffer must not be written at all, not even in part.
TEST_F(RepliesTest, AnOverflowingReplyWritesNothing) {
    const auto capacity = static_cast<std::int32_t>(rig.state.readBackCapacity());
    rig.state.setReadBackOffset(capacity - 3);
    ASSERT_TRUE(rig.feed(kReadExample));
    rig.process();
    const std::uint8_t* tail = rig.state.readBackData() + capacity - 3;
    EXPECT_EQ(Vec(tail, tail + 3), (Vec{0, 0, 0}));
}

TEST_F(RepliesTest, ANegativeOffsetIsAFailedReadThatWritesNothing) {
    rig.state.setReadBackOffset(-2);
    ASSERT_TRUE(rig.feed(kReadExample));
    rig.process();
    EXPECT_EQ(rig.state.replyStatus(), 1);
    EXPECT_TRUE(rig.signalled());
    EXPECT_EQ(rig.state.readBackOffset(), -2);
    EXPECT_EQ(rig.state.readBackData()[0], 0);
    EXPECT_EQ(rig.state.readBackData()[1], 0);
}

TEST_F(RepliesTest, SuccessiveReadRepliesFollowEachOther) {
    rig.state.setReadBackOffset(0);
    ASSERT_TRUE(rig.feed(kReadExample));
    ASSERT_TRUE(rig.feed(readReply({0xAA, 0xBB})));
    rig.process();
    ASSERT_EQ(rig.state.readBackOffset(), 6);
    const std::uint8_t* b = rig.state.readBackData();
    EXPECT_EQ(Vec(b, b + 6), (Vec{0x31, 0x2E, 0x30, 0x30, 0xAA, 0xBB}));
}

// ---- truncated messages, each in a heap block of exactly its size so that AddressSanitizer sees any read
// past the end ----

struct Outcome {
    std::int32_t status;
    std::uint8_t reportedCode;
    bool signalled;
    ReplyAnswer answer;
    std::int32_t offset;
    bool operator==(const Outcome&) const = default;
};

void PrintTo(const Outcome& o, std::ostream* os) {
    *os << "{status " << o.status << ", code " << int{o.reportedCode} << ", signalled " << o.signalled
        << ", answer " << static_cast<int>(o.answer) << ", offset " << o.offset << "}";
}

// Interprets the first `length` bytes of `message` after putting `state` back to the seed status, offset 0
// and no signal. The reported code is not reset: the callers go from short prefixes to long ones, and only
// the longer ones may change it.
Outcome interpretPrefix(CReplyState& state, const Vec& message, std::size_t length) {
    state.setReadBackOffset(0);
    const auto seeded = interpretReply(midi::Bytes(kSeed.data(), kSeed.size()), 0x63, state);
    EXPECT_EQ(seeded, ReplyAnswer::None);
    state.event().reset();
    std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[length]);
    if (length > 0) {
        std::memcpy(exact.get(), message.data(), length);
    }
    const ReplyAnswer answer = interpretReply(midi::Bytes(exact.get(), length), 0x63, state);
    return {state.replyStatus(), state.reportedDeviceCode(), state.event().waitFor(0ms), answer,
            state.readBackOffset()};
}

const Outcome kNoEffect = {kSeedStatus, 0, false, ReplyAnswer::None, 0};
const Outcome kFailedRead = {1, 0, true, ReplyAnswer::None, 0};

struct TruncationCase {
    const char* what;
    Vec message;
    std::size_t shortest;  // the shortest prefix that has the full message's effect
};

class Truncations : public ::testing::TestWithParam<TruncationCase> {};

TEST_P(Truncations, APrefixTooShortForItsTestHasNoEffect) {
    const TruncationCase& c = GetParam();
    CReplyState whole;
    const Outcome full = interpretPrefix(whole, c.message, c.message.size());
    ASSERT_NE(full, kNoEffect) << c.what << ": the whole message must do something";
    CReplyState state;
    for (std::size_t length = 0; length < c.message.size(); ++length) {
        EXPECT_EQ(interpretPrefix(state, c.message, length), length < c.shortest ? kNoEffect : full)
            << c.what << ", first " << length << " bytes";
    }
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Messages, Truncations, ::testing::Values(
    TruncationCase{"StatusMessage", {0xF0, 0x52, 0x00, 0x63, 0x00, 0x0B, 0xF7}, 6},
    TruncationCase{"DoneReply", {0xF0, 0x52, 0x00, 0x63, 0x02, 0xF7}, 5},
    TruncationCase{"device code 0x04", {0xF0, 0x52, 0x00, 0x63, 0x04, 0xF7}, 5},
    TruncationCase{"unknown code", {0xF0, 0x52, 0x00, 0x63, 0x09, 0xF7}, 5},
    TruncationCase{"identity request", {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}, 5},
    TruncationCase{"other General Information", {0xF0, 0x7E, 0x00, 0x06, 0x05, 0xF7}, 5},
    TruncationCase{"IdentityReply", {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x62, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7}, 7},
    TruncationCase{"read code, byte 5 not 0x04", {0xF0, 0x52, 0x00, 0x63, 0x60, 0x10, 0xF7}, 6}));
// clang-format on

struct ReadTruncationCase {
    const char* what;
    Vec message;
    std::size_t dataBytes;
};

class ReadTruncations : public ::testing::TestWithParam<ReadTruncationCase> {};

// Once byte 5 says "read reply", any shortfall is a failed read; the data is used only when the whole packed
// run and its five checksum bytes are there (11 + P + 5; the closing 0xF7 itself is not needed).
TEST_P(ReadTruncations, EveryPrefixIsDroppedFailedOrWhole) {
    const ReadTruncationCase& c = GetParam();
    const std::size_t needed = 11 + packedLength(c.dataBytes) + 5;
    ASSERT_EQ(c.message.size(), needed + 1);
    const Outcome accepted = {0, 0, true, ReplyAnswer::None, static_cast<std::int32_t>(c.dataBytes)};
    CReplyState state;
    for (std::size_t length = 0; length <= c.message.size(); ++length) {
        const Outcome expected = length < 6 ? kNoEffect : length < needed ? kFailedRead : accepted;
        EXPECT_EQ(interpretPrefix(state, c.message, length), expected)
            << c.what << ", first " << length << " bytes";
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, ReadTruncations,
                         ::testing::Values(ReadTruncationCase{"four bytes", kReadExample, 4},
                                           ReadTruncationCase{
                                               "thirteen bytes",
                                               readReply({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 0xFF}), 13},
                                           ReadTruncationCase{"no bytes", readReply({}), 0}));

// ---- independence, abort ----

TEST(ReplyStates, TwoInstancesInOneProcessShareNothing) {
    Rig first(0x63);
    Rig second(0x62);
    second.state.setReadBackOffset(8);
    ASSERT_TRUE(first.feed({0xF0, 0x52, 0x00, 0x63, 0x00, 0x0B, 0xF7}));
    ASSERT_TRUE(second.feed(readReply({9, 8, 7}, 0x62)));
    first.process();
    second.process();
    EXPECT_EQ(first.state.replyStatus(), 11);
    EXPECT_EQ(second.state.replyStatus(), 0);
    EXPECT_EQ(first.state.readBackOffset(), 0);
    EXPECT_EQ(second.state.readBackOffset(), 11);
    EXPECT_EQ(first.state.readBackData()[8], 0);
    EXPECT_EQ(second.state.readBackData()[8], 9);
    EXPECT_NE(first.state.readBackData(), second.state.readBackData());
}

TEST(ReplyEventTest, AtMostOneSignalIsPendingAndResetClearsIt) {
    CReplyEvent event;
    EXPECT_FALSE(event.waitFor(0ms)) << "not signalled when created";
    event.set();
    event.set();
    EXPECT_TRUE(event.waitFor(0ms));
    EXPECT_FALSE(event.waitFor(1ms)) << "auto-reset: the wait took the one signal";
    event.set();
    event.reset();
    EXPECT_FALSE(event.waitFor(0ms));
}

TEST(ReplyEventTest, SetWakesAWaitingThread) {
    CReplyEvent event;
    std::atomic<bool> woken{false};
    std::thread waiter([&] { woken = event.waitFor(10s); });
    std::this_thread::sleep_for(10ms);
    event.set();
    waiter.join();
    EXPECT_TRUE(woken.load());
}

TEST_F(RepliesTest, AbortWakesAWaitingWorkerWith255AndClosesBothPorts) {
    std::atomic<bool> woken{false};
    std::atomic<std::int32_t> seen{0};
    std::thread worker([&] {
        woken = rig.state.event().waitFor(10s);
        seen = rig.state.replyStatus();
    });
    std::this_thread::sleep_for(10ms);
    abortReplies(rig.state, rig.out, rig.in);
    worker.join();
    EXPECT_TRUE(woken.load());
    EXPECT_EQ(seen.load(), reply::kAborted);
    EXPECT_FALSE(rig.out.isOpen());
    EXPECT_FALSE(rig.in.isOpen());
    EXPECT_FALSE(rig.toDevice->isOpen());
    EXPECT_FALSE(rig.fromDevice->isOpen());
}

// A reply still queued when the window closes, processed by a tick that comes after the abort, must not
// turn the worker's 255 into a success or failure with a message box.
TEST_F(RepliesTest, NoReplyAfterTheAbortReplacesIts255) {
    ASSERT_TRUE(rig.feed({0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7}));
    ASSERT_TRUE(rig.feed({0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x62, 0x00, 0xF7}));
    abortReplies(rig.state, rig.out, rig.in);
    ASSERT_TRUE(rig.signalled());
    rig.process();
    EXPECT_EQ(rig.state.replyStatus(), reply::kAborted);
    EXPECT_EQ(rig.state.reportedDeviceCode(), 0);
    EXPECT_FALSE(rig.signalled());
    EXPECT_FALSE(rig.in.peekMessage().has_value()) << "ignored entries are still popped";
    const Vec ack = {0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7};
    EXPECT_EQ(interpretReply(midi::Bytes(ack.data(), ack.size()), 0x63, rig.state), ReplyAnswer::None)
        << "after the abort the device's own messages are not answered either";
    EXPECT_EQ(interpretReply(midi::Bytes(kReadExample.data(), kReadExample.size()), 0x63, rig.state),
              ReplyAnswer::None);
    EXPECT_EQ(rig.state.replyStatus(), reply::kAborted);
    EXPECT_EQ(rig.state.readBackOffset(), 0);
}

// ---- the timer thread draining while the device writes ----

struct Poller {
    midi::CMidiInPort* in;
    CSysExSender* sender;
    CReplyState* state;
    static void tick(std::uintptr_t self) {
        auto* p = reinterpret_cast<Poller*>(self);
        processReplies(*p->in, *p->sender, *p->state);
    }
};

Vec sequenceReply(std::uint32_t i) {
    return readReply({static_cast<std::uint8_t>(i), static_cast<std::uint8_t>(i >> 8),
                      static_cast<std::uint8_t>(i >> 16), static_cast<std::uint8_t>(i >> 24)});
}

// Thousands of replies written on one thread and drained on the timer's: each stored once, in order; the
// device's identity requests in the stream answered from the timer thread.
TEST(RepliesUnderLoad, EveryReplyIsConsumedInOrderWhileTheDeviceKeepsWriting) {
    constexpr std::uint32_t kReplies = 20000;
    constexpr std::uint32_t kAskEvery = 1000;
    Rig rig;
    Poller poller{&rig.in, &rig.sender, &rig.state};
    midi::CDxMTimer timer;
    rig.in.setArrivalHook([&timer] { timer.wake(); });
    ASSERT_NE(timer.start(50, &Poller::tick, reinterpret_cast<std::uintptr_t>(&poller)), 0u);
    std::thread device([&] {
        const Vec ask = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};
        for (std::uint32_t i = 0; i < kReplies; ++i) {
            const Vec m = sequenceReply(i);
            ASSERT_TRUE(rig.feed(m));
            if (i % kAskEvery == 0) {
                ASSERT_TRUE(rig.feed(ask));
            }
        }
    });
    const auto want = static_cast<std::int32_t>(4 * kReplies);
    const auto deadline = std::chrono::steady_clock::now() + 120s;
    while (rig.state.readBackOffset() < want && std::chrono::steady_clock::now() < deadline) {
        rig.state.event().waitFor(100ms);
    }
    device.join();
    timer.stop();
    rig.in.setArrivalHook(nullptr);
    ASSERT_EQ(rig.state.readBackOffset(), want);
    EXPECT_EQ(rig.state.replyStatus(), 0);
    const std::uint8_t* b = rig.state.readBackData();
    std::uint32_t misplaced = 0;
    for (std::uint32_t i = 0; i < kReplies; ++i) {
        const std::uint32_t got = b[4 * i] | (b[4 * i + 1] << 8) | (b[4 * i + 2] << 16) |
                                  (static_cast<std::uint32_t>(b[4 * i + 3]) << 24);
        misplaced += got != i ? 1 : 0;
    }
    EXPECT_EQ(misplaced, 0u);
    const std::vector<Vec> answers = rig.answers();
    EXPECT_EQ(answers.size(), kReplies / kAskEvery);
    for (const Vec& a : answers) {
        EXPECT_EQ(a, kHostIdentity);
    }
    EXPECT_FALSE(rig.in.peekMessage().has_value());
}

// The window closing while the timer drains a stream of successes: whatever was in flight, the worker's
// status ends at 255.
TEST(RepliesUnderLoad, AbortDuringDrainingEndsAt255) {
    Rig rig;
    Poller poller{&rig.in, &rig.sender, &rig.state};
    midi::CDxMTimer timer;
    rig.in.setArrivalHook([&timer] { timer.wake(); });
    ASSERT_NE(timer.start(1, &Poller::tick, reinterpret_cast<std::uintptr_t>(&poller)), 0u);
    std::atomic<int> written{0};
    std::thread device([&] {
        const Vec ok = {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7};
        while (rig.feed(ok)) {  // until the abort closes the port
            written.fetch_add(1);
        }
    });
    while (written.load() < 2000) {
        std::this_thread::yield();
    }
    abortReplies(rig.state, rig.out, rig.in);
    device.join();
    std::this_thread::sleep_for(20ms);  // let ticks after the abort run
    timer.stop();
    rig.in.setArrivalHook(nullptr);
    rig.process();
    EXPECT_EQ(rig.state.replyStatus(), reply::kAborted);
}

}  // namespace
}  // namespace velmora
