// CMidiOutPort over the loopback driver: its states, the completion wait and its bound, and close racing a
// send.
#include <gtest/gtest.h>

#include <ostream>

#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "midi/CMidiOutPort.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/DescribedRow.h"

namespace velmora::midi {
namespace {

using velmora::testing::PrintTo;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

const std::vector<std::uint8_t> kShort = {0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7};

class OutPortTest : public ::testing::Test {
  protected:
    CLoopbackDriver driver;
    std::shared_ptr<LoopbackOutputEnd> dev0 = driver.addOutput("USB Audio Device");
    std::shared_ptr<LoopbackOutputEnd> dev1 = driver.addOutput("Velmora");
    CMidiOutPort port{driver, SendBound{100ms}};
};

TEST_F(OutPortTest, StartsClosedOnIndexZero) {
    EXPECT_FALSE(port.isOpen());
    EXPECT_EQ(port.deviceIndex(), 0);
}

TEST_F(OutPortTest, OpeningTheSameIndexTwiceDoesNotReopen) {
    ASSERT_TRUE(port.open(1));
    ASSERT_TRUE(port.open(1));
    EXPECT_EQ(dev1->openCount(), 1);
    EXPECT_TRUE(dev1->isOpen());
}

TEST_F(OutPortTest, OpeningAnotherIndexClosesTheFirst) {
    ASSERT_TRUE(port.open(0));
    ASSERT_TRUE(port.open(1));
    EXPECT_FALSE(dev0->isOpen());
    EXPECT_TRUE(dev1->isOpen());
    EXPECT_EQ(port.deviceIndex(), 1);
}

TEST_F(OutPortTest, FailedOpenOfAnotherIndexLeavesThePortClosedOnThatIndex) {
    ASSERT_TRUE(port.open(0));
    dev1->setRefuseOpen(true);
    EXPECT_FALSE(port.open(1));
    EXPECT_FALSE(port.isOpen());
    EXPECT_FALSE(dev0->isOpen()) << "the first device must have been closed before the attempt";
    EXPECT_EQ(port.deviceIndex(), 1);
    EXPECT_FALSE(port.lastError().empty());
}

TEST_F(OutPortTest, MinusOneReachesTheDriverAndFails) {
    EXPECT_FALSE(port.open(-1));
    EXPECT_EQ(port.deviceIndex(), -1);
    EXPECT_FALSE(port.open(2)) << "an index past the last device";
}

TEST_F(OutPortTest, CloseReportsWhetherSomethingWasOpen) {
    EXPECT_FALSE(port.close());
    ASSERT_TRUE(port.open(0));
    EXPECT_TRUE(port.close());
    EXPECT_FALSE(dev0->isOpen());
    EXPECT_FALSE(port.close());
    EXPECT_EQ(port.deviceIndex(), 0) << "the index is kept after close";
}

TEST_F(OutPortTest, SendOnAClosedPortFailsWithoutReadingTheData) {
    EXPECT_FALSE(port.sendSysEx(nullptr, 4700));
}

TEST_F(OutPortTest, SendReturnsOnlyAfterThePlatformHasSentTheMessage) {
    ASSERT_TRUE(port.open(0));
    dev0->setSendTime(60ms);
    for (std::size_t length : {std::size_t{6}, std::size_t{4700}}) {
        std::vector<std::uint8_t> message(length, 0x11);
        message.front() = 0xF0;
        message.back() = 0xF7;
        const auto start = Clock::now();
        ASSERT_TRUE(port.sendSysEx(message.data(), static_cast<std::uint32_t>(message.size())));
        EXPECT_GE(Clock::now() - start, 60ms);
        EXPECT_EQ(dev0->pending(), 1u) << "the message must have arrived by the time the send returns";
        EXPECT_EQ(dev0->receive(0ms), message);
    }
}

TEST_F(OutPortTest, RefusedSendFailsAtOnce) {
    ASSERT_TRUE(port.open(0));
    dev0->setRefuseSend(true);
    EXPECT_FALSE(port.sendSysEx(kShort.data(), 6));
    EXPECT_EQ(dev0->pending(), 0u);
}

// A device unplugged in the middle of a message never reports completion; the send must still end.
TEST_F(OutPortTest, SendWhoseCompletionNeverComesFailsWithinItsBound) {
    ASSERT_TRUE(port.open(0));
    dev0->setNeverComplete(true);
    const auto start = Clock::now();
    EXPECT_FALSE(port.sendSysEx(kShort.data(), 6));
    const auto waited = Clock::now() - start;
    EXPECT_GE(waited, 100ms);
    EXPECT_LT(waited, 5s);
    // Once the device behaves again, a reopened port sends as before.
    dev0->setNeverComplete(false);
    port.close();
    ASSERT_TRUE(port.open(0));
    EXPECT_TRUE(port.sendSysEx(kShort.data(), 6));
}

TEST(SendBoundTest, GrowsWithTheMessageSoTheSlowestLinkFitsInIt) {
    const SendBound bound;
    EXPECT_EQ(bound.forBytes(6), 2003ms);
    // 4700 bytes take about 1.5 s at 31250 baud: the bound leaves ample room.
    EXPECT_GE(bound.forBytes(4700), 2000ms + 1500ms);
}

TEST_F(OutPortTest, UnpluggedDeviceFailsTheSend) {
    ASSERT_TRUE(port.open(0));
    dev0->setUnplugged(true);
    EXPECT_FALSE(port.sendSysEx(kShort.data(), 6));
}

// The window closing while the worker is inside a send: the send must come to an end, and nothing it uses may
// be released under it.
TEST_F(OutPortTest, CloseDuringASendEndsThatSend) {
    CMidiOutPort patient{driver, SendBound{10s}};
    ASSERT_TRUE(patient.open(0));
    dev0->setNeverComplete(true);
    auto sending = std::async(std::launch::async, [&] { return patient.sendSysEx(kShort.data(), 6); });
    std::this_thread::sleep_for(20ms);
    const auto start = Clock::now();
    EXPECT_TRUE(patient.close());
    ASSERT_EQ(sending.wait_for(5s), std::future_status::ready);
    EXPECT_FALSE(sending.get());
    EXPECT_LT(Clock::now() - start, 5s);
}

TEST_F(OutPortTest, CountsAndNamesDoNotDependOnTheOpenState) {
    EXPECT_EQ(port.deviceCount(), 2u);
    EXPECT_EQ(port.deviceName(0), "USB Audio Device");
    ASSERT_TRUE(port.open(1));
    EXPECT_EQ(port.deviceName(1), "Velmora");
    EXPECT_EQ(port.deviceName(5), "");
    EXPECT_EQ(port.deviceName(-1), "");
}

struct NameCase {
    const char* what;
    std::string platformName;
    std::string expected;
};

class DeviceNameBound : public ::testing::TestWithParam<NameCase> {};

TEST_P(DeviceNameBound, CutsAt39BytesWithoutSplittingACharacter) {
    EXPECT_EQ(boundedName(GetParam().platformName), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Names, DeviceNameBound,
    ::testing::Values(NameCase{"31 characters, copied whole", std::string(31, 'x'), std::string(31, 'x')},
                      NameCase{"exactly 39 bytes", std::string(39, 'y'), std::string(39, 'y')},
                      NameCase{"40 bytes lose the last", std::string(40, 'z'), std::string(39, 'z')},
                      // "USB " then 12 three-byte katakana: 40 bytes, the cut at 39 would split the last one.
                      NameCase{"a three-byte character across the bound",
                               "USB " +
                                   [] {
                                       std::string s;
                                       for (int i = 0; i < 12; ++i)
                                           s += "\xE3\x82\xAA";
                                       return s;
                                   }(),
                               "USB " +
                                   [] {
                                       std::string s;
                                       for (int i = 0; i < 11; ++i)
                                           s += "\xE3\x82\xAA";
                                       return s;
                                   }()},
                      NameCase{"a two-byte character ending at byte 40", std::string(38, 'a') + "\xC3\xA9",
                               std::string(38, 'a')},
                      NameCase{"a four-byte character ending at byte 39",
                               std::string(35, 'a') + "\xF0\x9F\x8E\xB9",
                               std::string(35, 'a') + "\xF0\x9F\x8E\xB9"}));

}  // namespace
}  // namespace velmora::midi
