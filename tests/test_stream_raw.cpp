// The writer and reader threads over a scripted channel: the parts a pty cannot show, which the ALSA driver
// relies on (a system queue that empties slowly or not at all, a failing drain, a device that vanishes
// between polls).
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "midi/drivers/stream/RawStream.h"
#include "support/Watchdog.h"

namespace velmora::midi {
namespace {

using namespace std::chrono_literals;
using Message = std::vector<std::uint8_t>;

constexpr auto kLimit = 5s;

Message sysex(std::size_t length) {
    Message m(length, 0x42);
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}

using testing::expectFinishes;

// A device whose answers the test sets. Poll descriptors are pipes: the output's is writable until the test
// blocks it, the input's is readable once per scripted read.
class FakeChannel : public RawChannel {
  public:
    FakeChannel() {
        for (int* ends : {outPipe_, inPipe_}) {
            EXPECT_EQ(::pipe(ends), 0);
            for (int i = 0; i < 2; ++i) {
                ::fcntl(ends[i], F_SETFL, ::fcntl(ends[i], F_GETFL) | O_NONBLOCK);
            }
        }
    }
    ~FakeChannel() override {
        for (const int fd : {outPipe_[0], outPipe_[1], inPipe_[0], inPipe_[1]}) {
            if (fd >= 0) {
                ::close(fd);
            }
        }
    }

    // ---- set by the test ----
    std::size_t chunk = SIZE_MAX;  // most bytes one write takes
    int writeError = 0;
    bool drainOk = true;
    std::deque<std::size_t> queueLevels;  // answers of queuedOutput, then `stuckLevel` for ever
    std::size_t stuckLevel = 0;

    void scriptRead(IoResult result, Message bytes = {}) {
        std::lock_guard lock(mutex_);
        reads_.push_back({result, std::move(bytes)});
        const char one = 1;
        EXPECT_EQ(::write(inPipe_[1], &one, 1), 1);
    }
    // The output descriptor stops being writable and writes would block.
    void blockOutput() {
        std::lock_guard lock(mutex_);
        blocked_ = true;
        const char fill[4096] = {};
        while (::write(outPipe_[1], fill, sizeof fill) > 0) {
        }
    }
    // Reads never run dry.
    void flood() {
        std::lock_guard lock(mutex_);
        flooding_ = true;
        const char one = 1;
        EXPECT_EQ(::write(inPipe_[1], &one, 1), 1);
    }
    // The input descriptor reports a hang-up.
    void hangUpInput() {
        ::close(inPipe_[1]);
        inPipe_[1] = -1;
    }

    // ---- seen by the test ----
    std::vector<std::string> log() {
        std::lock_guard lock(mutex_);
        return log_;
    }
    Message written() {
        std::lock_guard lock(mutex_);
        return written_;
    }
    bool waitForLog(const std::string& entry) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kLimit,
                                 [&] { return std::find(log_.begin(), log_.end(), entry) != log_.end(); });
    }

    // ---- RawChannel ----
    std::vector<pollfd> pollDescriptors(Direction d) override {
        return {d == Direction::Out ? pollfd{outPipe_[1], POLLOUT, 0} : pollfd{inPipe_[0], POLLIN, 0}};
    }
    short readyEvents(Direction, std::span<pollfd> polled) override { return polled[0].revents; }

    IoResult write(Bytes bytes) override {
        std::lock_guard lock(mutex_);
        if (writeError != 0) {
            return {IoStatus::failed, 0, writeError};
        }
        if (blocked_) {
            return {IoStatus::wouldBlock};
        }
        const std::size_t n = std::min(bytes.size(), chunk);
        written_.insert(written_.end(), bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(n));
        return {IoStatus::ok, n};
    }
    IoResult queuedOutput() override {
        std::lock_guard lock(mutex_);
        std::size_t level = stuckLevel;
        if (!queueLevels.empty()) {
            level = queueLevels.front();
            queueLevels.pop_front();
        }
        note("queue " + std::to_string(level));
        return {IoStatus::ok, level};
    }
    bool drain() override {
        std::lock_guard lock(mutex_);
        note("drain");
        return drainOk;
    }
    void discardOutput() override {
        std::lock_guard lock(mutex_);
        note("discard");
    }
    IoResult read(std::span<std::uint8_t> into) override {
        std::lock_guard lock(mutex_);
        if (flooding_) {
            into[0] = 0xFE;  // active sensing, for ever
            return {IoStatus::ok, 1};
        }
        if (reads_.empty()) {
            return {IoStatus::wouldBlock};
        }
        char byte = 0;
        EXPECT_EQ(::read(inPipe_[0], &byte, 1), 1);
        auto [result, bytes] = std::move(reads_.front());
        reads_.pop_front();
        EXPECT_LE(bytes.size(), into.size());
        std::copy(bytes.begin(), bytes.end(), into.begin());
        if (result.status == IoStatus::ok) {
            result.count = bytes.size();
        }
        return result;
    }

  private:
    void note(std::string entry) {
        if (log_.empty() || log_.back() != entry) {  // a stuck queue is noted once
            log_.push_back(std::move(entry));
        }
        changed_.notify_all();
    }

    int outPipe_[2] = {-1, -1};
    int inPipe_[2] = {-1, -1};
    std::mutex mutex_;
    std::condition_variable changed_;
    bool blocked_ = false;
    bool flooding_ = false;
    Message written_;
    std::vector<std::string> log_;
    std::deque<std::pair<IoResult, Message>> reads_;
};

class RawOutputTest : public ::testing::Test {
  protected:
    std::unique_ptr<CRawOutput> open(RawLimits limits = {.stall = 200ms}) {
        std::string why;
        std::unique_ptr<CRawOutput> output = CRawOutput::create(fake, limits, &why);
        EXPECT_NE(output, nullptr) << why;
        return output;
    }
    std::shared_ptr<SendCompletion> send(CRawOutput& output, const Message& m) {
        auto done = std::make_shared<SendCompletion>();
        EXPECT_TRUE(output.send(Bytes(m.data(), m.size()), done));
        return done;
    }
    bool refused(CRawOutput& output) {
        return !output.send(Bytes(kReply.data(), kReply.size()), std::make_shared<SendCompletion>());
    }

    const Message kReply = {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7};
    std::shared_ptr<FakeChannel> fake = std::make_shared<FakeChannel>();
};

TEST_F(RawOutputTest, PartialWritesAreContinuedUntilTheWholeMessageIsWritten) {
    fake->chunk = 7;
    auto output = open();
    const Message m = sysex(4700);
    EXPECT_EQ(send(*output, m)->waitFor(kLimit), true);
    EXPECT_EQ(fake->written(), m);
}

TEST_F(RawOutputTest, ASendCompletesOnlyAfterTheQueueHasEmptiedAndTheHardwareDrained) {
    fake->queueLevels = {3000, 2000, 1000, 0};
    auto output = open();
    EXPECT_EQ(send(*output, sysex(4000))->waitFor(kLimit), true);
    const std::vector<std::string> expected = {"queue 3000", "queue 2000", "queue 1000", "queue 0", "drain"};
    EXPECT_EQ(fake->log(), expected);
}

TEST_F(RawOutputTest, AQueueThatStopsMovingFailsTheMessageAndLaterOnes) {
    fake->stuckLevel = 500;
    auto output = open();
    EXPECT_EQ(send(*output, sysex(600))->waitFor(kLimit), false);
    EXPECT_EQ(fake->log().back(), "discard") << "bytes of a failed message must not be left queued";
    EXPECT_TRUE(refused(*output));
    EXPECT_TRUE(output->broken());
}

TEST_F(RawOutputTest, ADrainErrorFailsTheMessage) {
    fake->drainOk = false;
    auto output = open();
    EXPECT_EQ(send(*output, kReply)->waitFor(kLimit), false);
    EXPECT_TRUE(refused(*output));
}

TEST_F(RawOutputTest, ADeviceGoneAtTheWriteFailsTheMessageAndLaterOnes) {
    fake->writeError = ENODEV;
    auto output = open();
    EXPECT_EQ(send(*output, kReply)->waitFor(kLimit), false);
    EXPECT_TRUE(refused(*output));
}

TEST_F(RawOutputTest, CloseWhileTheQueueEmptiesGivesUpAtOnceAndDropsTheRest) {
    fake->stuckLevel = 500;
    auto output = open({.stall = 60s});
    auto done = send(*output, sysex(600));
    ASSERT_TRUE(fake->waitForLog("queue 500"));
    output->close();
    EXPECT_EQ(done->waitFor(kLimit), false) << "close must not wait out the 60 s stall limit";
    EXPECT_TRUE(fake->waitForLog("discard"));
    const std::vector<std::string> log = fake->log();
    EXPECT_EQ(std::count(log.begin(), log.end(), "drain"), 0);
}

TEST_F(RawOutputTest, CloseFinishesTheBlockedMessageAndEveryOneQueuedBehindIt) {
    fake->blockOutput();
    auto output = open({.stall = 60s});
    std::vector<std::shared_ptr<SendCompletion>> sends;
    for (int i = 0; i < 3; ++i) {
        sends.push_back(send(*output, kReply));
    }
    std::this_thread::sleep_for(50ms);  // let the writer reach its wait for space
    output->close();
    for (auto& done : sends) {
        EXPECT_EQ(done->waitFor(kLimit), false);
    }
    EXPECT_TRUE(fake->written().empty());
}

class RawInputTest : public ::testing::Test {
  protected:
    std::unique_ptr<CRawInput> open() {
        std::string why;
        auto input = CRawInput::create(
            fake,
            [this](Bytes entry) {
                std::lock_guard lock(mutex);
                entries.emplace_back(entry.begin(), entry.end());
            },
            &why);
        EXPECT_NE(input, nullptr) << why;
        return input;
    }
    static bool endsInTime(const CRawInput& input) {
        const auto end = std::chrono::steady_clock::now() + kLimit;
        while (!input.ended() && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(2ms);
        }
        return input.ended();
    }

    std::shared_ptr<FakeChannel> fake = std::make_shared<FakeChannel>();
    std::mutex mutex;
    std::vector<Message> entries;
};

TEST_F(RawInputTest, WhatArrivedBeforeTheDeviceWentAwayIsDeliveredButNotAMessageItCutOff) {
    const Message reply = {0xF0, 0x7E, 0x00, 0xF7};
    Message bytes = reply;
    bytes.insert(bytes.end(), {0xF0, 0x01, 0x02});  // the next message, torn by the unplug
    fake->scriptRead({IoStatus::ok}, bytes);
    fake->scriptRead({IoStatus::failed, 0, ENODEV});
    auto input = open();
    EXPECT_TRUE(endsInTime(*input));
    input.reset();
    EXPECT_EQ(entries, std::vector<Message>{reply});
}

// More than one wake-up's reads (16 x 4096 bytes) still waiting when the device hangs up: all of it is
// delivered before the reader ends.
TEST_F(RawInputTest, EverythingWaitingAtAHangUpIsDeliveredHoweverMuchThereIs) {
    constexpr std::size_t kMessages = 20;
    for (std::size_t i = 0; i < kMessages; ++i) {
        fake->scriptRead({IoStatus::ok}, sysex(4096));
    }
    fake->hangUpInput();
    auto input = open();
    EXPECT_TRUE(endsInTime(*input));
    input.reset();
    EXPECT_EQ(entries.size(), kMessages);
}

TEST_F(RawInputTest, AHangUpWithNothingLeftToReadEndsTheReaderInsteadOfSpinning) {
    auto input = open();
    fake->hangUpInput();
    EXPECT_TRUE(endsInTime(*input));
}

TEST_F(RawInputTest, ADeviceThatNeverStopsSendingCannotHoldUpClosing) {
    auto input = open();
    fake->flood();
    std::this_thread::sleep_for(20ms);
    expectFinishes("destroying an input whose device never stops sending", [&] { input.reset(); });
    EXPECT_TRUE(entries.empty());
}

}  // namespace
}  // namespace velmora::midi
