// The host's messages, byte for byte as they leave the output port, and the SendLock under two sending
// threads.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "midi/CMidiOutPort.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "update/Codec.h"
#include "update/Messages.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

class MessagesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(port.open(0)); }

    Bytes sent() {
        auto m = far->receive(2s);
        return m ? *m : Bytes{};
    }

    midi::CLoopbackDriver driver;
    std::shared_ptr<midi::LoopbackOutputEnd> far = driver.addOutput("Velmora");
    midi::CMidiOutPort port{driver};
    CSysExSender sender{port};
};

TEST_F(MessagesTest, IdentityRequestCarriesDeviceNumberZeroNotAllCall) {
    ASSERT_EQ(sender.sendIdentityRequest(), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7}));
}

TEST_F(MessagesTest, HostIdentityReplyCarriesZeroUntilACodeIsAcceptedThenThatCode) {
    ASSERT_EQ(sender.sendHostIdentityReply(), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x00, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30,
                             0x30, 0xF7}));
    sender.setHostIdentityModel(0x62);
    ASSERT_EQ(sender.sendHostIdentityReply(), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x62, 0x00, 0x00, 0x00, 0x31, 0x30, 0x30,
                             0x30, 0xF7}));
}

TEST_F(MessagesTest, WriteRequestOfAbcAt0x1000) {
    const Bytes abc = {'a', 'b', 'c'};
    ASSERT_EQ(sender.sendWriteRequest(0x63, abc.data(), 0x1000, 3), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x52, 0x00, 0x63, 0x02, 0x00, 0x20, 0x00, 0x00, 0x00, 0x03,
                             0x00, 0x00, 0x61, 0x62, 0x63, 0x3D, 0x7C, 0x6E, 0x56, 0x0C, 0xF7}));
}

TEST_F(MessagesTest, EmptyWriteRequestIs18BytesWithTheChecksumOfNothing) {
    ASSERT_EQ(sender.sendWriteRequest(0x63, nullptr, 0, 0), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x52, 0x00, 0x63, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x7F,
                             0x7F, 0x7F, 0x7F, 0x0F, 0xF7}));
}

TEST_F(MessagesTest, FullBlockWriteRequestIs4700BytesAndUnpacksToTheBlock) {
    Bytes block(4096);
    for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(i * 37u);
    }
    ASSERT_EQ(sender.sendWriteRequest(0x62, block.data(), 0x93000, 4096), 0);
    const Bytes m = sent();
    ASSERT_EQ(m.size(), 4700u);
    EXPECT_EQ(m[3], 0x62);
    EXPECT_EQ(decode7x5(&m[5]), 0x93000u);
    EXPECT_EQ(decodeLength14(&m[10]), 4096u);
    Bytes back(4096);
    ASSERT_EQ(unpack7(back.data(), &m[12], 4682), 4096u);
    EXPECT_EQ(back, block);
    EXPECT_EQ(decode7x5(&m[12 + 4682]), checksum32(block.data(), block.size()));
    EXPECT_EQ(m.back(), 0xF7);
}

TEST_F(MessagesTest, WriteRequestLongerThanTheLengthFieldIsRefusedUnsent) {
    Bytes big(16384, 0x11);
    EXPECT_EQ(sender.sendWriteRequest(0x63, big.data(), 0, 16384), -1);
    EXPECT_EQ(far->pending(), 0u);
    ASSERT_EQ(sender.sendWriteRequest(0x63, big.data(), 0, 16383), 0);
    EXPECT_EQ(sent().size(), 18742u);
}

TEST_F(MessagesTest, EraseRequestOf16KiBAt0x3FC000) {
    ASSERT_EQ(sender.sendEraseRequest(0x63, 0x3FC000, 0x4000), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x52, 0x00, 0x63, 0x0A, 0x00, 0x00, 0x7F, 0x01, 0x00, 0x00, 0x00, 0x01,
                             0x00, 0x00, 0xF7}));
}

TEST_F(MessagesTest, ReadRequestOfTheBootVersionCarriesTheCurrentDeviceCode) {
    sender.setDeviceCode(0x62);
    ASSERT_EQ(sender.sendReadRequest(0x22FFC, 4), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x52, 0x00, 0x62, 0x60, 0x30, 0x7C, 0x5F, 0x08, 0x00, 0x00, 0x04, 0x00,
                             0x00, 0x00, 0x00, 0xF7}));
}

TEST_F(MessagesTest, ShortRequestsAndAnswersCarryTheDeviceCodeAtByte3) {
    EXPECT_EQ(sender.deviceCode(), 0x63) << "the code before any device has answered";
    ASSERT_EQ(sender.sendBeginUpdateRequest(), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7}));
    sender.setDeviceCode(0x62);
    ASSERT_EQ(sender.sendEndUpdateRequest(), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x52, 0x00, 0x62, 0x04, 0xF7}));
    ASSERT_EQ(sender.sendAck(), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x52, 0x00, 0x62, 0x00, 0x00, 0xF7}));
    ASSERT_EQ(sender.sendStatus(1), 0);
    EXPECT_EQ(sent(), (Bytes{0xF0, 0x52, 0x00, 0x62, 0x00, 0x01, 0xF7}));
}

TEST_F(MessagesTest, EverySendFailsWithMinusOneOnAClosedPort) {
    port.close();
    const Bytes abc = {'a', 'b', 'c'};
    EXPECT_EQ(sender.sendIdentityRequest(), -1);
    EXPECT_EQ(sender.sendHostIdentityReply(), -1);
    EXPECT_EQ(sender.sendBeginUpdateRequest(), -1);
    EXPECT_EQ(sender.sendStatus(1), -1);
    EXPECT_EQ(sender.sendWriteRequest(0x63, abc.data(), 0, 3), -1);
    EXPECT_EQ(sender.sendEraseRequest(0x63, 0, 4096), -1);
    EXPECT_EQ(sender.sendReadRequest(0, 4), -1);
}

// The worker sends write blocks while the timer thread answers the device: with the SendLock, every message
// on the far end is one whole, valid message, never a block overwritten by an acknowledgement or the reverse.
TEST_F(MessagesTest, TwoSendingThreadsNeverCorruptOrInterleaveAMessage) {
    far->setSendTime(20us);
    constexpr int kBlocks = 1500;
    constexpr int kAnswers = 3000;
    std::atomic<int> failures{0};
    std::thread worker([&] {
        Bytes block(512);
        for (int i = 0; i < kBlocks; ++i) {
            for (std::size_t j = 0; j < block.size(); ++j) {
                block[j] = static_cast<std::uint8_t>(i + static_cast<int>(j));
            }
            failures +=
                sender.sendWriteRequest(0x63, block.data(), static_cast<std::uint32_t>(i) * 512u, 512) != 0;
        }
    });
    std::thread timer([&] {
        for (int i = 0; i < kAnswers; ++i) {
            failures +=
                (i % 3 == 0 ? sender.sendHostIdentityReply() : sender.sendStatus(i % 2 == 0 ? 0 : 1)) != 0;
        }
    });
    worker.join();
    timer.join();
    EXPECT_EQ(failures.load(), 0);

    int writes = 0;
    int answers = 0;
    while (auto m = far->receive(0ms)) {
        ASSERT_GE(m->size(), 6u);
        ASSERT_EQ(m->front(), 0xF0);
        ASSERT_EQ(m->back(), 0xF7);
        for (std::size_t i = 1; i + 1 < m->size(); ++i) {
            ASSERT_LT((*m)[i], 0x80) << "a status byte inside a message: two messages interleaved";
        }
        if ((*m)[1] == 0x52 && (*m)[4] == 0x02) {
            ASSERT_EQ(m->size(), packedLength(512) + 18);
            Bytes data(512);
            unpack7(data.data(), &(*m)[12], packedLength(512));
            const std::uint32_t address = decode7x5(&(*m)[5]);
            ASSERT_EQ(address, static_cast<std::uint32_t>(writes) * 512u) << "blocks arrived out of order";
            ASSERT_EQ(decode7x5(&(*m)[12 + packedLength(512)]), checksum32(data.data(), data.size()));
            ASSERT_EQ(data[0], static_cast<std::uint8_t>(writes));
            ++writes;
        } else {
            ++answers;
        }
    }
    EXPECT_EQ(writes, kBlocks);
    EXPECT_EQ(answers, kAnswers);
}

}  // namespace
}  // namespace velmora
