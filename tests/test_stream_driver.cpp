// The stream driver over a pseudo-terminal: the test holds the master side and plays the device. What is
// written there must reach the input handler as SysEx entries, what the driver sends must arrive byte for
// byte, and closing, hang-ups and refusals must end cleanly.
#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <thread>
#include <vector>

#include "midi/drivers/loopback/LoopbackDriver.h"
#include "midi/drivers/stream/StreamDriver.h"
#include "support/DescribedRow.h"
#include "support/PtyMaster.h"
#include "support/ScratchDir.h"
#include "support/Watchdog.h"

namespace velmora::midi {
namespace {

using testing::CPtyMaster;
using velmora::testing::PrintTo;

using namespace std::chrono_literals;
using Message = std::vector<std::uint8_t>;

// Generous: only a hang would reach it.
constexpr auto kLimit = 5s;

Message sysex(std::size_t length, std::uint8_t seed = 0) {
    Message m(length);
    for (std::size_t i = 0; i < length; ++i) {
        m[i] = static_cast<std::uint8_t>((i + seed) & 0x7F);
    }
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}

Message join(std::initializer_list<Message> parts) {
    Message out;
    for (const Message& p : parts) {
        out.insert(out.end(), p.begin(), p.end());
    }
    return out;
}

// Entries the input handler receives, on the reader's thread.
class CInbox {
  public:
    SysExHandler handler() {
        return [this](Bytes entry) {
            {
                std::lock_guard lock(mutex_);
                entries_.emplace_back(entry.begin(), entry.end());
            }
            arrived_.notify_all();
        };
    }
    std::vector<Message> waitFor(std::size_t count) {
        std::unique_lock lock(mutex_);
        arrived_.wait_for(lock, kLimit, [&] { return entries_.size() >= count; });
        return entries_;
    }

  private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<Message> entries_;
};

bool isRaw(const termios& t) {
    return (t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN)) == 0 && (t.c_oflag & OPOST) == 0 &&
           (t.c_iflag & (ICRNL | INLCR | IGNCR | IXON | ISTRIP)) == 0 && (t.c_cflag & CSIZE) == CS8;
}

bool sameSettings(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag;
}

std::optional<bool> sendAndWait(MidiOutput& output, const Message& m,
                                std::chrono::milliseconds limit = kLimit) {
    auto done = std::make_shared<SendCompletion>();
    if (!output.send(Bytes(m.data(), m.size()), done)) {
        return false;
    }
    return done->waitFor(std::chrono::duration_cast<std::chrono::milliseconds>(limit));
}

using testing::expectFinishes;

class PtyTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(pty.ok()) << "no pseudo-terminal available"; }

    CPtyMaster pty;
    CInbox inbox;
};

// ---- input ----

struct InboundCase {
    const char* what;
    std::vector<Message> writes;  // written on the master one after another, with a pause between
    std::vector<Message> expected;
};

class InboundFraming : public PtyTest, public ::testing::WithParamInterface<InboundCase> {};

TEST_P(InboundFraming, BytesFromTheDeviceArriveAsTheEntriesARealPortDelivers) {
    const InboundCase& c = GetParam();
    CStreamDriver driver(pty.path());
    std::string why;
    std::unique_ptr<MidiInput> input = driver.openInput(0, inbox.handler(), &why);
    ASSERT_NE(input, nullptr) << why;
    for (const Message& w : c.writes) {
        ASSERT_TRUE(pty.write(w));
        std::this_thread::sleep_for(20ms);
    }
    EXPECT_EQ(inbox.waitFor(c.expected.size()), c.expected) << c.what;
}

const Message kReply = {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7};
const Message k8193 = sysex(8193);

INSTANTIATE_TEST_SUITE_P(
    Pty, InboundFraming,
    ::testing::Values(
        InboundCase{"one reply", {kReply}, {kReply}},
        InboundCase{"two replies back to back", {join({kReply, sysex(300)})}, {kReply, sysex(300)}},
        InboundCase{"note, clock and active sensing around and inside a SysEx give no entries of their own",
                    {{0x90, 0x40, 0x7F, 0xF0, 0x01, 0xF8, 0x02, 0xFE, 0xF7, 0xB0, 0x07, 0x64}},
                    {{0xF0, 0x01, 0x02, 0xF7}}},
        InboundCase{
            "bytes a terminal in cooked mode would swallow or translate (CR, LF, ^C, ^D, XON, XOFF, ^Z, "
            "^\\, DEL) pass unchanged",
            {{0xF0, 0x0D, 0x0A, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x1C, 0x7F, 0x00, 0x0D, 0xF7}},
            {{0xF0, 0x0D, 0x0A, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x1C, 0x7F, 0x00, 0x0D, 0xF7}}},
        InboundCase{"a SysEx arriving in three pieces is one entry",
                    {{0xF0, 0x52, 0x00}, {0x63, 0x00}, {0x00, 0xF7}},
                    {kReply}},
        InboundCase{"8192 bytes are one entry", {sysex(8192)}, {sysex(8192)}},
        InboundCase{"8193 bytes are 8192 and then 1",
                    {k8193},
                    {Message(k8193.begin(), k8193.begin() + 8192), Message{0xF7}}}));

// ---- output ----

TEST_F(PtyTest, ASentMessageArrivesWholeAndUnchangedAndTheSendCompletes) {
    CStreamDriver driver(pty.path());
    std::string why;
    std::unique_ptr<MidiOutput> output = driver.openOutput(0, &why);
    ASSERT_NE(output, nullptr) << why;
    // LF would become CR LF with output processing on; the length is that of a packed data block.
    Message m = sysex(4700);
    m[10] = 0x0A;
    m[11] = 0x0D;
    EXPECT_EQ(sendAndWait(*output, m), true);
    EXPECT_EQ(pty.read(m.size() + 1, 300ms), m);
}

TEST_F(PtyTest, MessagesSentFromSeveralThreadsAreNeverInterleaved) {
    CStreamDriver driver(pty.path());
    std::shared_ptr<MidiOutput> output = driver.openOutput(0, nullptr);
    ASSERT_NE(output, nullptr);
    constexpr int kThreads = 4;
    constexpr int kEach = 8;
    constexpr std::size_t kLength = 3000;  // all of it is more than the pty holds, so writes are partial
    std::vector<std::future<int>> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.push_back(std::async(std::launch::async, [&, t] {
            Message m(kLength, static_cast<std::uint8_t>(0x10 + t));
            m.front() = 0xF0;
            m.back() = 0xF7;
            int sent = 0;
            for (int i = 0; i < kEach; ++i) {
                sent += sendAndWait(*output, m) == true ? 1 : 0;
            }
            return sent;
        }));
    }
    const Message wire = pty.read(kThreads * kEach * kLength, kLimit);
    for (auto& s : senders) {
        EXPECT_EQ(s.get(), kEach);
    }
    ASSERT_EQ(wire.size(), kThreads * kEach * kLength);
    for (std::size_t at = 0; at < wire.size(); at += kLength) {
        ASSERT_EQ(wire[at], 0xF0) << "message boundary expected at " << at;
        const std::uint8_t fill = wire[at + 1];
        for (std::size_t i = 1; i + 1 < kLength; ++i) {
            ASSERT_EQ(wire[at + i], fill) << "another message's bytes inside the one starting at " << at;
        }
        ASSERT_EQ(wire[at + kLength - 1], 0xF7);
    }
}

TEST_F(PtyTest, CloseEndsASendWaitingForAFullBuffer) {
    CStreamDriver driver(pty.path(), {}, RawLimits{.stall = 60s});
    std::unique_ptr<MidiOutput> output = driver.openOutput(0, nullptr);
    ASSERT_NE(output, nullptr);
    const Message big = sysex(1 << 20);  // far more than the pty buffers; nobody reads the master
    auto done = std::make_shared<SendCompletion>();
    ASSERT_TRUE(output->send(Bytes(big.data(), big.size()), done));
    EXPECT_FALSE(done->waitFor(100ms).has_value()) << "the send cannot have completed";
    output->close();
    EXPECT_EQ(done->waitFor(kLimit), false) << "close must end the wait, well before the 60 s stall limit";
    EXPECT_FALSE(output->send(Bytes(kReply.data(), kReply.size()), std::make_shared<SendCompletion>()));
    expectFinishes("destroying a closed output", [&] { output.reset(); });
}

TEST_F(PtyTest, ADeviceThatStopsTakingBytesFailsTheSendAndLaterOnes) {
    CStreamDriver driver(pty.path(), {}, RawLimits{.stall = 200ms});
    std::unique_ptr<MidiOutput> output = driver.openOutput(0, nullptr);
    ASSERT_NE(output, nullptr);
    EXPECT_EQ(sendAndWait(*output, sysex(1 << 20)), false);
    EXPECT_EQ(sendAndWait(*output, kReply), false) << "a message after a torn one must not be sent";
}

// ---- both directions, closing, hang-up ----

TEST_F(PtyTest, DestroyingAnInputWhoseReaderIsWaitingReturnsPromptly) {
    CStreamDriver driver(pty.path());
    std::unique_ptr<MidiInput> input = driver.openInput(0, inbox.handler(), nullptr);
    ASSERT_NE(input, nullptr);
    std::this_thread::sleep_for(50ms);  // let the reader settle in poll
    expectFinishes("destroying an idle input", [&] { input.reset(); });
}

TEST_F(PtyTest, HangUpMidRunFailsSendsAndEndsTheReader) {
    CStreamDriver driver(pty.path());
    std::unique_ptr<MidiInput> input = driver.openInput(0, inbox.handler(), nullptr);
    std::unique_ptr<MidiOutput> output = driver.openOutput(0, nullptr);
    ASSERT_NE(input, nullptr);
    ASSERT_NE(output, nullptr);
    ASSERT_EQ(sendAndWait(*output, kReply), true);
    pty.hangUp();

    EXPECT_EQ(sendAndWait(*output, sysex(4700)), false);
    auto* reader = dynamic_cast<CRawInput*>(input.get());
    ASSERT_NE(reader, nullptr);
    const auto end = std::chrono::steady_clock::now() + kLimit;
    while (!reader->ended() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    EXPECT_TRUE(reader->ended()) << "the reader must stop rather than wait for a device that is gone";
    expectFinishes("destroying both directions after a hang-up", [&] {
        output.reset();
        input.reset();
    });
}

// A device that hung up and came back at the same path: the direction still open keeps its dead
// descriptor, and the direction opened again gets a new, working one.
TEST(StreamReplug, ADirectionOpenedAgainAfterAHangUpGetsANewWorkingDescriptor) {
    CPtyMaster first;
    ASSERT_TRUE(first.ok());
    const testing::CScratchDir scratch("velmora-replug");
    const auto link = scratch.path() / "device";
    std::filesystem::create_symlink(first.path(), link);
    CStreamDriver driver(link.string());
    CInbox before;
    CInbox after;  // both outlive the inputs whose reader threads deliver to them
    std::unique_ptr<MidiInput> input = driver.openInput(0, before.handler(), nullptr);
    std::unique_ptr<MidiOutput> output = driver.openOutput(0, nullptr);
    ASSERT_NE(input, nullptr);
    ASSERT_NE(output, nullptr);
    first.hangUp();
    auto* reader = dynamic_cast<CRawInput*>(input.get());
    ASSERT_NE(reader, nullptr);
    const auto end = std::chrono::steady_clock::now() + kLimit;
    while (!reader->ended() && std::chrono::steady_clock::now() < end) {
        std::this_thread::sleep_for(5ms);
    }
    ASSERT_TRUE(reader->ended());

    CPtyMaster second;
    ASSERT_TRUE(second.ok());
    std::filesystem::remove(link);
    std::filesystem::create_symlink(second.path(), link);
    input.reset();
    std::string why;
    input = driver.openInput(0, after.handler(), &why);
    ASSERT_NE(input, nullptr) << why;
    ASSERT_TRUE(second.write(kReply));
    EXPECT_EQ(after.waitFor(1), std::vector<Message>{kReply});
}

TEST_F(PtyTest, TheTerminalIsRawWhileOpenAndRestoredWhenBothDirectionsAreClosed) {
    const termios before = pty.settings();
    ASSERT_FALSE(isRaw(before)) << "a fresh pty starts cooked";
    CStreamDriver driver(pty.path());
    std::unique_ptr<MidiInput> input = driver.openInput(0, inbox.handler(), nullptr);
    std::unique_ptr<MidiOutput> output = driver.openOutput(0, nullptr);
    ASSERT_NE(input, nullptr);
    ASSERT_NE(output, nullptr);
    EXPECT_TRUE(isRaw(pty.settings()));

    input.reset();
    EXPECT_TRUE(isRaw(pty.settings())) << "closing one direction must not restore settings under the other";
    EXPECT_EQ(sendAndWait(*output, kReply), true);
    EXPECT_EQ(pty.read(kReply.size(), 1s), kReply);

    output.reset();
    EXPECT_TRUE(sameSettings(pty.settings(), before));
}

TEST_F(PtyTest, EachDirectionOpensOnceAtATime) {
    CStreamDriver driver(pty.path());
    std::string why;
    std::unique_ptr<MidiOutput> first = driver.openOutput(0, &why);
    ASSERT_NE(first, nullptr) << why;
    EXPECT_EQ(driver.openOutput(0, &why), nullptr) << "two writers would interleave their messages";
    EXPECT_NE(why.find("already open"), std::string::npos) << why;
    first.reset();
    EXPECT_NE(driver.openOutput(0, &why), nullptr) << why;
}

TEST_F(PtyTest, ADeviceHeldByAnotherProgramIsRefusedAndTheHolderNamed) {
    CStreamDriver holder(pty.path());
    std::unique_ptr<MidiOutput> held = holder.openOutput(0, nullptr);
    ASSERT_NE(held, nullptr);
    CStreamDriver other(pty.path());
    std::string why;
    EXPECT_EQ(other.openInput(0, inbox.handler(), &why), nullptr);
    EXPECT_NE(why.find("in use by"), std::string::npos) << why;
    EXPECT_NE(why.find("(pid " + std::to_string(::getpid()) + ")"), std::string::npos) << why;
}

// ---- names and refusals ----

TEST_F(PtyTest, PortsAreNamedAfterThePathOrTheGivenName) {
    CStreamDriver byPath(pty.path());
    EXPECT_EQ(byPath.portCount(Direction::In), 1u);
    EXPECT_EQ(byPath.portCount(Direction::Out), 1u);
    EXPECT_EQ(byPath.portName(Direction::In, 0), pty.path());
    EXPECT_EQ(byPath.portName(Direction::Out, 1), "") << "there is no second port";

    // 38 ASCII bytes and a 3-byte character: shown whole, past the 39 bytes pre-selection compares.
    CStreamDriver named(pty.path(), std::string(38, 'x') + "\xE3\x83\x87");
    EXPECT_EQ(named.portName(Direction::Out, 0), std::string(38, 'x') + "\xE3\x83\x87");

    CStreamDriver missing("/nonexistent/velmora-midi");
    EXPECT_EQ(missing.portCount(Direction::In), 0u);
    EXPECT_EQ(missing.portName(Direction::Out, 0), "");
}

TEST_F(PtyTest, TheTerminalOnTheProgramsOwnStreamsIsRefusedUntouched) {
    // Guards switching the user's own terminal to raw bytes and writing SysEx onto it.
    const termios before = pty.settings();
    const int savedInput = ::dup(STDIN_FILENO);
    const int slave = ::open(pty.path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(slave, 0);
    ASSERT_EQ(::dup2(slave, STDIN_FILENO), STDIN_FILENO);
    CStreamDriver driver(pty.path());
    std::string why;
    const std::string judged = CStreamDriver::unusable(pty.path());
    const bool opened = driver.openOutput(0, &why) != nullptr;
    ::dup2(savedInput, STDIN_FILENO);
    ::close(savedInput);
    ::close(slave);
    EXPECT_NE(judged.find("is the terminal this program runs in"), std::string::npos) << judged;
    EXPECT_FALSE(opened);
    EXPECT_NE(why.find("is the terminal this program runs in"), std::string::npos) << why;
    EXPECT_TRUE(sameSettings(pty.settings(), before));
}

TEST_F(PtyTest, InheritedFlowControlIsOffWhileOpenAndComesBackAfterwards) {
    // Guards XON/XOFF bytes put into a SysEx, and a handshake line nobody drives holding every byte back.
    termios inherited = pty.settings();
    inherited.c_iflag |= IXON | IXOFF | IXANY;
    inherited.c_cflag |= CRTSCTS;
    ASSERT_EQ(::tcsetattr(pty.fd(), TCSANOW, &inherited), 0);
    const termios before = pty.settings();
    {
        CStreamDriver driver(pty.path());
        std::unique_ptr<MidiOutput> output = driver.openOutput(0, nullptr);
        ASSERT_NE(output, nullptr);
        const termios open = pty.settings();
        EXPECT_EQ(open.c_iflag & (IXON | IXOFF | IXANY), 0u);
        EXPECT_EQ(open.c_cflag & CRTSCTS, 0u);
        EXPECT_EQ(sendAndWait(*output, kReply), true);
    }
    EXPECT_TRUE(sameSettings(pty.settings(), before));
}

// While it lives, no new thread can start: every default thread asks for a stack no system can map.
class CNoNewThreads {
  public:
    CNoNewThreads() {
        pthread_attr_t huge;
        pthread_getattr_default_np(&saved_);
        pthread_getattr_default_np(&huge);
        pthread_attr_setstacksize(&huge, std::size_t{1} << 46);
        pthread_setattr_default_np(&huge);
        pthread_attr_destroy(&huge);
    }
    ~CNoNewThreads() {
        pthread_setattr_default_np(&saved_);
        pthread_attr_destroy(&saved_);
    }
    CNoNewThreads(const CNoNewThreads&) = delete;
    CNoNewThreads& operator=(const CNoNewThreads&) = delete;

  private:
    pthread_attr_t saved_;
};

struct ThreadlessOpen {
    const char* port;
    std::function<bool(std::string* why)> open;  // true when the port opened
};

TEST_F(PtyTest, APortWhoseThreadCannotStartFailsToOpenWithAReasonInsteadOfEndingTheProgram) {
    CStreamDriver stream(pty.path());
    CLoopbackDriver loopback;
    loopback.addOutput("Velmora");
    const ThreadlessOpen rows[] = {
        {"stream output", [&](std::string* why) { return stream.openOutput(0, why) != nullptr; }},
        {"stream input",
         [&](std::string* why) { return stream.openInput(0, inbox.handler(), why) != nullptr; }},
        {"loopback output", [&](std::string* why) { return loopback.openOutput(0, why) != nullptr; }},
    };
    for (const ThreadlessOpen& row : rows) {
        std::string why;
        bool opened = true;
        {
            CNoNewThreads noThreads;
            opened = row.open(&why);
        }
        EXPECT_FALSE(opened) << row.port;
        EXPECT_NE(why.find("cannot start the"), std::string::npos) << row.port << ": " << why;
        why.clear();
        EXPECT_TRUE(row.open(&why)) << row.port << " stayed taken after the failed open: " << why;
    }
}

struct RefusalCase {
    const char* what;
    std::string (*makePath)(const std::filesystem::path& scratch);
    int index;
    const char* reason;
};

class Refusals : public ::testing::TestWithParam<RefusalCase> {
  protected:
    const testing::CScratchDir dir{"velmora-stream"};
    const std::filesystem::path scratch = dir.path();
};

TEST_P(Refusals, BothDirectionsFailWithAReason) {
    const RefusalCase& c = GetParam();
    CStreamDriver driver(c.makePath(scratch));
    std::string whyOut;
    std::string whyIn;
    EXPECT_EQ(driver.openOutput(c.index, &whyOut), nullptr) << c.what;
    EXPECT_EQ(driver.openInput(
                  c.index, [](Bytes) {}, &whyIn),
              nullptr)
        << c.what;
    EXPECT_NE(whyOut.find(c.reason), std::string::npos) << c.what << ": " << whyOut;
    EXPECT_NE(whyIn.find(c.reason), std::string::npos) << c.what << ": " << whyIn;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Refusals,
    ::testing::Values(RefusalCase{"a path that does not exist",
                                  [](const std::filesystem::path& s) { return (s / "missing").string(); }, 0,
                                  "does not exist"},
                      RefusalCase{"a regular file",
                                  [](const std::filesystem::path& s) {
                                      std::ofstream(s / "file") << "not a device";
                                      return (s / "file").string();
                                  },
                                  0, "is not a MIDI device"},
                      RefusalCase{"a directory", [](const std::filesystem::path& s) { return s.string(); }, 0,
                                  "is not a MIDI device"},
                      RefusalCase{"a FIFO",
                                  [](const std::filesystem::path& s) {
                                      ::mkfifo((s / "fifo").c_str(), 0600);
                                      return (s / "fifo").string();
                                  },
                                  0, "is not a MIDI device"},
                      RefusalCase{"a character device of another kind, never opened",
                                  [](const std::filesystem::path&) { return std::string("/dev/zero"); }, 0,
                                  "is not a MIDI device"},
                      RefusalCase{"the controlling terminal, whichever it is",
                                  [](const std::filesystem::path&) { return std::string("/dev/tty"); }, 0,
                                  "is the terminal this program runs in"},
                      RefusalCase{"an index past the one port",
                                  [](const std::filesystem::path&) { return std::string("/dev/null"); }, 1,
                                  "has only one"}));

TEST_F(PtyTest, ADeviceWithoutReadAndWritePermissionIsReportedAsSuch) {
    ASSERT_EQ(::chmod(pty.path().c_str(), 0), 0);
    const auto refused = [&] {
        CStreamDriver driver(pty.path());
        std::string why;
        return driver.openOutput(0, &why) == nullptr && why.find("no permission") != std::string::npos;
    };
    if (::geteuid() != 0) {
        EXPECT_TRUE(refused());
        return;
    }
    // File modes do not stop root: try as an unprivileged user in a child process. The attempt starts no
    // thread, which keeps the child safe after fork.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
            ::_exit(2);
        }
        ::_exit(refused() ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    if (WEXITSTATUS(status) == 2) {
        GTEST_SKIP() << "cannot become an unprivileged user here";
    }
    EXPECT_EQ(WEXITSTATUS(status), 0)
        << "opening a mode-000 device as an ordinary user was not refused as such";
}

TEST(Holders, AProcessHoldingAFileIsNamedAndAnUnheldFileHasNone) {
    char held[] = "/tmp/velmora-held-XXXXXX";
    const int fd = ::mkstemp(held);
    ASSERT_GE(fd, 0);
    const std::string self = "(pid " + std::to_string(::getpid()) + ")";
    EXPECT_NE(describeHolders(held).find(self), std::string::npos) << describeHolders(held);
    ::close(fd);
    EXPECT_EQ(describeHolders(held), "") << "nobody holds it any more";
    ::unlink(held);
    EXPECT_EQ(describeHolders(held), "");
}

}  // namespace
}  // namespace velmora::midi
