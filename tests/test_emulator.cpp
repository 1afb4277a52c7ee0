// The emulated device on the loopback ports, driven by the updater's own send operations: its answers as the
// host's input port receives them, its flash, every scenario key, its timing and its shutdown, and whole
// updates judged by the verdict.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FirmwareImages.h"
#include "emulator/CEmulatedDevice.h"
#include "midi/CMidiOutPort.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "update/Codec.h"
#include "update/FlashPlan.h"
#include "update/Messages.h"

namespace velmora::emulator {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

Bytes status(std::uint8_t model, std::uint8_t s) {
    return {0xF0, 0x52, 0x00, model, 0x00, s, 0xF7};
}
const Bytes kOk = status(0x63, 0);
const Bytes kRefused = status(0x63, 1);
const Bytes kNotInUpdateMode = status(0x63, 11);
const Bytes kIdentityRequest = {0xF0, 0x7E, 0x00, 0x06, 0x01, 0xF7};

Bytes pattern(std::size_t n, unsigned seed) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) {
        b[i] = static_cast<std::uint8_t>((i * 29u + seed * 101u) ^ (i >> 5));
    }
    return b;
}

// A host on the loopback driver: the updater's output port and sender, and the driver's input opened with a
// handler that keeps each entry as a real input port would queue it.
struct Bench {
    explicit Bench(const std::string& scenario, const std::function<void(EmulatorConfig&)>& tweak = {}) {
        EmulatorConfig config;
        const ScenarioParse parsed = parseScenario(scenario);
        EXPECT_TRUE(parsed.ok()) << parsed.error;
        config.scenario = parsed.scenario;
        if (scenario.find("link=") == std::string::npos) {
            config.scenario.link = Link::None;
        }
        config.flashTimes = {0us, 0us};
        if (tweak) {
            tweak(config);
        }
        device = std::make_unique<CEmulatedDevice>(driver, std::move(config));
        EXPECT_TRUE(port.open(0));
        input = driver.openInput(
            0,
            [this](midi::Bytes entry) {
                {
                    std::lock_guard lock(mutex);
                    entries.emplace_back(entry.begin(), entry.end());
                }
                arrived.notify_all();
            },
            nullptr);
        EXPECT_NE(input, nullptr);
    }

    std::optional<Bytes> next(std::chrono::milliseconds limit = 5s) {
        std::unique_lock lock(mutex);
        if (!arrived.wait_for(lock, limit, [this] { return !entries.empty(); })) {
            return std::nullopt;
        }
        Bytes e = std::move(entries.front());
        entries.pop_front();
        return e;
    }

    // The next entry after a send that must have succeeded; empty when none came.
    Bytes ask(int sent) {
        EXPECT_EQ(sent, 0) << "the host's send failed";
        return next().value_or(Bytes{});
    }

    // The device handles messages in order, so if the message before had been answered, that answer would
    // arrive ahead of the identity reply.
    void expectNoAnswerTo(int sent) {
        EXPECT_EQ(sent, 0) << "the host's send failed";
        const Bytes reply = ask(sender.sendIdentityRequest());
        ASSERT_GE(reply.size(), 5u);
        EXPECT_EQ(reply[1], 0x7E) << "an answer came where none was due";
        EXPECT_EQ(reply[4], 0x02);
    }

    int write(std::uint32_t address, const Bytes& data) {
        return sender.sendWriteRequest(sender.deviceCode(), data.data(), address,
                                       static_cast<std::uint32_t>(data.size()));
    }
    int erase(std::uint32_t address, std::uint32_t size) {
        return sender.sendEraseRequest(sender.deviceCode(), address, size);
    }

    midi::CLoopbackDriver driver;
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<Bytes> entries;
    std::unique_ptr<CEmulatedDevice> device;
    midi::CMidiOutPort port{driver};
    CSysExSender sender{port};
    std::unique_ptr<midi::MidiInput> input;
};

// The data of a ReadReply after checking its layout and checksum.
Bytes readData(const Bytes& reply, bool* checksumMatches = nullptr) {
    if (reply.size() < 17 || reply[4] != 0x60 || reply[5] != 0x04 || reply[6] != 0x30) {
        ADD_FAILURE() << "not a ReadReply";
        return {};
    }
    const std::uint32_t n = decodeLength14(&reply[9]);
    const std::size_t packed = packedLength(n);
    if (reply.size() != 17 + packed) {
        ADD_FAILURE() << "ReadReply length does not match its count";
        return {};
    }
    Bytes data(n);
    unpack7(data.data(), &reply[11], packed);
    const bool match = decode7x5(&reply[11 + packed]) == checksum32(data.data(), n);
    if (checksumMatches != nullptr) {
        *checksumMatches = match;
    } else {
        EXPECT_TRUE(match) << "ReadReply checksum";
    }
    return data;
}

TEST(EmulatorDevice, PortsCarryTheConfiguredNames) {
    midi::CLoopbackDriver driver;
    CEmulatedDevice standard(driver, EmulatorConfig{});
    EmulatorConfig named;
    named.inputName = "Velmora (2)";
    named.outputName = "Velmora Out (2)";
    CEmulatedDevice second(driver, named);
    EXPECT_EQ(driver.portName(midi::Direction::In, 0), "Velmora");
    EXPECT_EQ(driver.portName(midi::Direction::Out, 0), "Velmora");
    EXPECT_EQ(driver.portName(midi::Direction::In, 1), "Velmora (2)");
    EXPECT_EQ(driver.portName(midi::Direction::Out, 1), "Velmora Out (2)");
}

TEST(EmulatorDevice, RoundTripOfEveryRequestWithTheHostsSendOperations) {
    Bench b("");
    EXPECT_EQ(b.ask(b.sender.sendIdentityRequest()),
              (Bytes{0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x63, 0x00, 0x00, 0x00, '0', '.', '9', '9', 0xF7}));
    EXPECT_EQ(b.ask(b.sender.sendBeginUpdateRequest()), kOk);
    EXPECT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
    const Bytes erased = b.device->readFlash(0x3FC000, 0x4000);
    EXPECT_TRUE(std::all_of(erased.begin(), erased.end(), [](std::uint8_t v) { return v == 0xFF; }));
    const Bytes image = pattern(0x4000, 133);
    for (std::uint32_t off = 0; off < 0x4000; off += 4096) {
        const Bytes block(image.begin() + off, image.begin() + off + 4096);
        EXPECT_EQ(b.ask(b.write(0x3FC000 + off, block)), kOk) << "block at " << off;
    }
    EXPECT_EQ(b.device->readFlash(0x3FC000, 0x4000), image);
    EXPECT_EQ(readData(b.ask(b.sender.sendReadRequest(0x3FFFF9, 7))), Bytes(image.end() - 7, image.end()));
    EXPECT_EQ(b.ask(b.sender.sendEndUpdateRequest()), kOk);
    EXPECT_TRUE(b.device->waitForEnd(0ms));

    const EmulatorCounters c = b.device->counters();
    EXPECT_EQ(c.messagesReceived, 9);
    EXPECT_EQ(c.identity, 1);
    EXPECT_EQ(c.begin, 1);
    EXPECT_EQ(c.erase, 1);
    EXPECT_EQ(c.erasesDone, 1);
    EXPECT_EQ(c.write, 4);
    EXPECT_EQ(c.blocks, 4);
    EXPECT_EQ(c.blocksWritten, 4);
    EXPECT_EQ(c.blockResends, 0);
    EXPECT_EQ(c.read, 1);
    EXPECT_EQ(c.end, 1);
    EXPECT_EQ(c.answersSent, 9);
}

// NOR flash: programming only clears bits. A block that needs any bit set again is refused whole.
TEST(EmulatorDevice, WritesFollowTheNorRuleAndARefusedBlockChangesNothing) {
    Bench b("");
    const std::uint32_t at = 0x3BA000;  // holds the earlier firmware
    EXPECT_EQ(b.ask(b.write(at, Bytes(16, 0x00))), kOk) << "all-zero bytes only clear bits, even unerased";
    const Bytes zeroed = b.device->readFlash(at, 4096);
    EXPECT_EQ(Bytes(zeroed.begin(), zeroed.begin() + 16), Bytes(16, 0x00));
    EXPECT_EQ(b.ask(b.write(at + 16, pattern(16, 9))), kRefused) << "earlier content is not erased";
    EXPECT_EQ(b.device->readFlash(at, 4096), zeroed);

    EXPECT_EQ(b.ask(b.erase(at, 4096)), kOk);
    EXPECT_EQ(b.ask(b.write(at, Bytes(16, 0xF0))), kOk);
    EXPECT_EQ(b.ask(b.write(at, Bytes(16, 0x30))), kOk) << "0xF0 to 0x30 only clears bits";
    EXPECT_EQ(b.device->readFlash(at, 16), Bytes(16, 0x30));

    Bytes mixed(16, 0x10);  // fifteen bytes that only clear bits, then one that needs bit 0 back
    mixed.back() = 0x31;
    EXPECT_EQ(b.ask(b.write(at, mixed)), kRefused);
    EXPECT_EQ(b.device->readFlash(at, 16), Bytes(16, 0x30)) << "not even the acceptable bytes were written";
    EXPECT_EQ(b.device->counters().norRefusals, 2);
}

TEST(EmulatorDevice, BlockWithAWrongChecksumIsRefusedAndNotWritten) {
    Bench b("");
    ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x1000)), kOk);
    const Bytes data = pattern(4096, 7);
    Bytes m = {0xF0, 0x52, 0x00, 0x63, 0x02};
    m.resize(12 + packedLength(data.size()) + 6);
    encode7x5(0x3FC000, &m[5]);
    encodeLength14(4096, &m[10]);
    const std::size_t packed = pack7(&m[12], data.data(), data.size());
    encode7x5(checksum32(data.data(), data.size()), &m[12 + packed]);
    m.back() = 0xF7;
    Bytes damaged = m;
    damaged[2000] ^= 0x04;  // one packed data bit, as a disturbed cable would flip it

    EXPECT_EQ(b.ask(b.sender.sendMessage(damaged.data(), damaged.size())), kRefused);
    EXPECT_EQ(b.device->readFlash(0x3FC000, 4096), Bytes(4096, 0xFF));
    EXPECT_EQ(b.ask(b.sender.sendMessage(m.data(), m.size())), kOk);
    EXPECT_EQ(b.device->readFlash(0x3FC000, 4096), data);
    EXPECT_EQ(b.device->counters().checksumFailures, 1);
}

TEST(EmulatorDevice, MalformedRequestsAreRefusedAndForeignMessagesIgnored) {
    const struct {
        const char* what;
        Bytes message;
        bool refused;  // status 1; otherwise no answer at all
    } rows[] = {
        {"erase beyond the flash", {0xF0, 0x52, 0x00, 0x63, 0x0A, 0, 0, 0, 2, 0, 0, 0, 0, 1, 0, 0xF7}, true},
        {"read of more than a reply carries",
         {0xF0, 0x52, 0x00, 0x63, 0x60, 0x30, 0, 0, 0, 0, 0, 0, 0, 1, 0, 0, 0xF7},
         true},
        {"begin with a stray byte", {0xF0, 0x52, 0x00, 0x63, 0x01, 0x00, 0xF7}, true},
        {"write whose length field lies",
         {0xF0, 0x52, 0x00, 0x63, 0x02, 0, 0, 0, 0, 0, 5, 0, 0, 0x11, 0x7F, 0x7F, 0x7F, 0x7F, 0x0F, 0xF7},
         true},
        {"code the device does not serve", {0xF0, 0x52, 0x00, 0x63, 0x07, 0xF7}, false},
        {"request for another model", {0xF0, 0x52, 0x00, 0x62, 0x01, 0xF7}, false},
        {"another maker's message", {0xF0, 0x7D, 0x01, 0x02, 0xF7}, false},
        {"the host's acknowledgement", {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7}, false},
        {"the host's identity reply",
         {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x63, 0, 0, 0, '1', '0', '0', '0', 0xF7},
         false},
    };
    Bench b("");
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const int sent = b.sender.sendMessage(row.message.data(), row.message.size());
        if (row.refused) {
            EXPECT_EQ(b.ask(sent), kRefused);
        } else {
            b.expectNoAnswerTo(sent);
        }
    }
    EXPECT_EQ(b.device->flash(), b.device->initialFlash());
    const EmulatorCounters c = b.device->counters();
    EXPECT_EQ(c.refused, 4);
    EXPECT_EQ(c.ignored, 3);
    EXPECT_EQ(c.hostAnswers, 2);
}

// Numbering: a repeat of the previous write keeps its block number, a BeginUpdateRequest starts a new run
// of numbers, so refuse-block=3 hits the third block the host meant, however often the first two were sent.
TEST(EmulatorDevice, ResendsKeepTheirBlockNumber) {
    Bench b("refuse-block=3:1");
    ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
    const Bytes d = Bytes(64, 0xA5);
    EXPECT_EQ(b.ask(b.write(0x3FC000, d)), kOk);  // block 1
    EXPECT_EQ(b.ask(b.write(0x3FC000, d)), kOk);  // block 1 again
    EXPECT_EQ(b.ask(b.sender.sendReadRequest(0x3FC000, 4)).size(), 22u);
    EXPECT_EQ(b.ask(b.write(0x3FC000, d)), kOk);       // still block 1: a read in between is no new block
    EXPECT_EQ(b.ask(b.write(0x3FD000, d)), kOk);       // block 2
    EXPECT_EQ(b.ask(b.write(0x3FE000, d)), kRefused);  // block 3, refused once
    EXPECT_EQ(b.ask(b.write(0x3FE000, d)), kOk);
    EXPECT_EQ(b.ask(b.sender.sendBeginUpdateRequest()), kOk);
    EXPECT_EQ(b.ask(b.write(0x3FE000, d)), kOk);  // block 4: a new update
    const EmulatorCounters c = b.device->counters();
    EXPECT_EQ(c.blocks, 4);
    EXPECT_EQ(c.blockResends, 3);
    EXPECT_EQ(c.write, 7);
}

// An erase repeats the previous one only with the same address and size: a shorter erase at the same address
// is the next erase, so a fault aimed at the second erase must hit it.
TEST(EmulatorDevice, AnEraseOfAnotherSizeIsTheNextErase) {
    Bench b("refuse-erase=2:1");
    EXPECT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);       // erase 1
    EXPECT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);       // erase 1 again
    EXPECT_EQ(b.ask(b.erase(0x3FC000, 0x1000)), kRefused);  // erase 2
    EXPECT_EQ(b.device->counters().eraseResends, 1);
}

struct KeyRow {
    const char* what;
    const char* scenario;
    std::function<void(Bench&)> check;
    double timeScale = 1.0;
};

const KeyRow kKeys[] = {
    {"model=: the code in the identity reply; requests for another code are not answered", "model=0x62",
     [](Bench& b) {
         const Bytes id = b.ask(b.sender.sendIdentityRequest());
         ASSERT_EQ(id.size(), 15u);
         EXPECT_EQ(id[6], 0x62);
         b.expectNoAnswerTo(b.sender.sendBeginUpdateRequest());  // still 0x63 at byte 3
         b.sender.setDeviceCode(0x62);
         EXPECT_EQ(b.ask(b.sender.sendBeginUpdateRequest()), status(0x62, 0));
     }},
    {"boot=: the version bytes at 0x22FFC and in the identity reply", "boot=1.00",
     [](Bench& b) {
         EXPECT_EQ(readData(b.ask(b.sender.sendReadRequest(0x22FFC, 4))), (Bytes{'1', '.', '0', '0'}));
         const Bytes id = b.ask(b.sender.sendIdentityRequest());
         ASSERT_EQ(id.size(), 15u);
         EXPECT_EQ(Bytes(id.begin() + 10, id.begin() + 14), (Bytes{'1', '.', '0', '0'}));
     }},
    {"boot=blank: the whole flash blank", "boot=blank",
     [](Bench& b) {
         EXPECT_EQ(readData(b.ask(b.sender.sendReadRequest(0x22FFC, 4))), Bytes(4, 0xFF));
         const Bytes f = b.device->flash();
         EXPECT_TRUE(std::all_of(f.begin(), f.end(), [](std::uint8_t v) { return v == 0xFF; }));
     }},
    {"mode=off: Begin, erase and write answered with 11, flash untouched", "mode=off",
     [](Bench& b) {
         EXPECT_EQ(b.ask(b.sender.sendBeginUpdateRequest()), kNotInUpdateMode);
         EXPECT_EQ(b.ask(b.erase(0, 0x23000)), kNotInUpdateMode);
         EXPECT_EQ(b.ask(b.write(0x3BA000, Bytes(8, 0))), kNotInUpdateMode);
         EXPECT_EQ(b.device->flash(), b.device->initialFlash());
     }},
    {"refuse-erase=K:N: the K-th erase refused N times, erased only when accepted", "refuse-erase=2:2",
     [](Bench& b) {
         EXPECT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
         const Bytes boot = b.device->readFlash(0, 0x23000);
         EXPECT_EQ(b.ask(b.erase(0, 0x23000)), kRefused);
         EXPECT_EQ(b.ask(b.erase(0, 0x23000)), kRefused);
         EXPECT_EQ(b.device->readFlash(0, 0x23000), boot);
         EXPECT_EQ(b.ask(b.erase(0, 0x23000)), kOk);
         EXPECT_EQ(b.device->readFlash(0, 0x23000), Bytes(0x23000, 0xFF));
         EXPECT_EQ(b.device->counters().eraseResends, 2);
         EXPECT_EQ(b.device->counters().faultsApplied, 2);
     }},
    {"refuse-block=K:N: block K refused N times, written only when accepted", "refuse-block=2:3",
     [](Bench& b) {
         ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
         EXPECT_EQ(b.ask(b.write(0x3FC000, pattern(4096, 1))), kOk);
         for (int i = 0; i < 3; ++i) {
             EXPECT_EQ(b.ask(b.write(0x3FD000, pattern(4096, 2))), kRefused) << "send " << i + 1;
             EXPECT_EQ(b.device->readFlash(0x3FD000, 4096), Bytes(4096, 0xFF));
         }
         EXPECT_EQ(b.ask(b.write(0x3FD000, pattern(4096, 2))), kOk);
         EXPECT_EQ(b.device->readFlash(0x3FD000, 4096), pattern(4096, 2));
     }},
    {"drop-block=K:N: block K written, its answer lost N times", "drop-block=1:2",
     [](Bench& b) {
         ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
         b.expectNoAnswerTo(b.write(0x3FC000, pattern(4096, 3)));
         EXPECT_EQ(b.device->readFlash(0x3FC000, 4096), pattern(4096, 3)) << "written although unanswered";
         b.expectNoAnswerTo(b.write(0x3FC000, pattern(4096, 3)));
         EXPECT_EQ(b.ask(b.write(0x3FC000, pattern(4096, 3))), kOk)
             << "rewriting the same data is no conflict";
         const EmulatorCounters c = b.device->counters();
         EXPECT_EQ(c.blocks, 1);
         EXPECT_EQ(c.blockResends, 2);
         EXPECT_EQ(c.answersLost, 2);
     }},
    {"late-block=K:MS: the first answer to block K held back MS ms, scaled", "late-block=1:80",
     [](Bench& b) {
         ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
         const auto sent = Clock::now();
         EXPECT_EQ(b.ask(b.write(0x3FC000, pattern(64, 4))), kOk);
         EXPECT_GE(Clock::now() - sent, 40ms) << "80 ms at a scale of 0.5";
     },
     0.5},
    {"late-erase=K:MS: the first answer to the K-th erase held back MS ms, scaled", "late-erase=1:80",
     [](Bench& b) {
         const auto sent = Clock::now();
         EXPECT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
         EXPECT_GE(Clock::now() - sent, 40ms) << "80 ms at a scale of 0.5";
     },
     0.5},
    {"corrupt-block=K: block K acknowledged, one byte of it stored wrong", "corrupt-block=1",
     [](Bench& b) {
         ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
         EXPECT_EQ(b.ask(b.write(0x3FC000, pattern(4096, 5))), kOk);
         const Bytes stored = b.device->readFlash(0x3FC000, 4096);
         int wrong = 0;
         for (std::size_t i = 0; i < stored.size(); ++i)
             wrong += stored[i] != pattern(4096, 5)[i];
         EXPECT_EQ(wrong, 1);
     }},
    {"echo: every host message handed back whole, before the answer", "echo",
     [](Bench& b) {
         EXPECT_EQ(b.sender.sendBeginUpdateRequest(), 0);
         EXPECT_EQ(b.next(1s), (Bytes{0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7}));
         EXPECT_EQ(b.next(1s), kOk);
     }},
    {"bad-read: the ReadReply's checksum wrong, its data right", "bad-read",
     [](Bench& b) {
         bool match = true;
         EXPECT_EQ(readData(b.ask(b.sender.sendReadRequest(0x22FFC, 4)), &match),
                   (Bytes{'0', '.', '9', '9'}));
         EXPECT_FALSE(match);
     }},
    {"silent: nothing answered, nothing changed", "silent",
     [](Bench& b) {
         EXPECT_EQ(b.sender.sendIdentityRequest(), 0);
         EXPECT_EQ(b.erase(0, 0x23000), 0);
         ASSERT_TRUE(
             b.device->waitUntil([](const EmulatorCounters& c) { return c.messagesReceived == 2; }, 5s));
         ASSERT_TRUE(b.device->waitForIdle(5ms, 5s));
         EXPECT_FALSE(b.next(0ms).has_value());
         EXPECT_EQ(b.device->flash(), b.device->initialFlash());
     }},
    {"end-status=S: EndUpdateRequest answered with S", "end-status=5",
     [](Bench& b) {
         EXPECT_EQ(b.ask(b.sender.sendEndUpdateRequest()), status(0x63, 5));
         EXPECT_TRUE(b.device->waitForEnd(0ms));
     }},
    {"unplug=K: the K-th message unanswered, later sends fail", "unplug=3",
     [](Bench& b) {
         EXPECT_EQ(b.ask(b.sender.sendIdentityRequest()).size(), 15u);
         EXPECT_EQ(b.ask(b.sender.sendBeginUpdateRequest()), kOk);
         EXPECT_EQ(b.erase(0, 0x23000), 0) << "the third message still reaches the device";
         ASSERT_TRUE(
             b.device->waitUntil([](const EmulatorCounters& c) { return c.messagesReceived == 3; }, 5s));
         ASSERT_TRUE(b.device->waitForIdle(5ms, 5s));
         EXPECT_EQ(b.sender.sendIdentityRequest(), -1);
         EXPECT_FALSE(b.next(0ms).has_value());
         EXPECT_EQ(b.device->flash(), b.device->initialFlash());
         EXPECT_FALSE(b.device->inputEnd()->write(midi::Bytes(kIdentityRequest)));
     }},
    {"chatter: messages of its own before each answer, answers intact around a clock byte", "chatter",
     [](Bench& b) {
         for (int i = 0; i < 8; ++i) {
             EXPECT_EQ(b.sender.sendBeginUpdateRequest(), 0);
         }
         const Bytes expected[] = {
             kIdentityRequest,
             kOk,
             {0xF0, 0x52, 0x00, 0x63, 0x01, 0xF7},
             kOk,
             {0xF0, 0x52, 0x00, 0x63, 0x04, 0xF7},
             kOk,
             {0xF0, 0x52, 0x00, 0x63, 0x05, 0xF7},
             kOk,
             {0xF0, 0x52, 0x00, 0x63, 0x07, 0xF7},
             kOk,
             {0xF0, 0x7D, 0x01, 0x02, 0x03, 0xF7},
             kOk,
             kOk,  // after note on and off: no entry
             kOk,  // after clock bytes: no entry
         };
         for (const Bytes& e : expected) {
             EXPECT_EQ(b.next().value_or(Bytes{}), e);
         }
         EXPECT_EQ(b.device->counters().chatterSent, 8);
     }},
    {"done-reply: erases and writes answered with a DoneReply", "done-reply",
     [](Bench& b) {
         const Bytes done = {0xF0, 0x52, 0x00, 0x63, 0x02, 0xF7};
         EXPECT_EQ(b.ask(b.sender.sendBeginUpdateRequest()), kOk);
         EXPECT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), done);
         EXPECT_EQ(b.ask(b.write(0x3FC000, pattern(100, 5))), done);
         EXPECT_EQ(b.ask(b.write(0x3FC000, Bytes(100, 0xFF))), kRefused) << "refusals stay status 1";
     }},
    {"link=din: a block takes 4700 bytes / 3125 per second on the wire, scaled", "link=din",
     [](Bench& b) {
         ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
         const auto start = Clock::now();
         EXPECT_EQ(b.write(0x3FC000, pattern(4096, 6)), 0);
         EXPECT_GE(Clock::now() - start, 150ms) << "the host's send ends when the bytes are across";
         EXPECT_EQ(b.next().value_or(Bytes{}), kOk);
     },
     0.1},
    {"link=usb: about a millisecond plus 250 kB/s", "link=usb",
     [](Bench& b) {
         ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x4000)), kOk);
         const auto start = Clock::now();
         EXPECT_EQ(b.write(0x3FC000, pattern(4096, 6)), 0);
         EXPECT_GE(Clock::now() - start, 19ms);
         EXPECT_EQ(b.next().value_or(Bytes{}), kOk);
     }},
};

TEST(EmulatorDevice, EachScenarioKey) {
    for (const KeyRow& row : kKeys) {
        SCOPED_TRACE(row.what);
        Bench b(row.scenario, [&](EmulatorConfig& c) { c.timeScale = row.timeScale; });
        row.check(b);
    }
}

TEST(EmulatorDevice, StopsPromptlyInTheMiddleOfALongErase) {
    Bench b("", [](EmulatorConfig& c) { c.flashTimes.erasePerSector = 1s; });
    ASSERT_EQ(b.erase(0x23000, 0x397000), 0);  // 919 s of erasing
    ASSERT_TRUE(b.device->waitUntil([](const EmulatorCounters& c) { return c.erase == 1; }, 5s));
    EXPECT_FALSE(b.device->waitForIdle(10ms, 50ms)) << "busy erasing is not idle";
    const auto start = Clock::now();
    b.device.reset();
    EXPECT_LT(Clock::now() - start, 30s) << "the destructor waited out the erase";
}

TEST(EmulatorDevice, TranscriptIsBoundedAndSummarisesLongMessages) {
    Bench b("", [](EmulatorConfig& c) { c.transcriptLines = 16; });
    for (int i = 0; i < 30; ++i) {
        ASSERT_EQ(b.ask(b.sender.sendIdentityRequest()).size(), 15u);
    }
    ASSERT_EQ(b.ask(b.erase(0x3FC000, 0x1000)), kOk);
    ASSERT_EQ(b.ask(b.write(0x3FC000, pattern(4096, 8))), kOk);
    const std::vector<TranscriptLine> lines = b.device->transcript();
    EXPECT_EQ(lines.size(), 16u);
    EXPECT_EQ(b.device->transcriptDropped(), 1 + 30 * 2 + 4 - 16u);
    for (std::size_t i = 1; i < lines.size(); ++i) {
        EXPECT_LE(lines[i - 1].at, lines[i].at);
    }
    for (const TranscriptLine& line : lines) {
        EXPECT_LT(line.text.size(), 120u) << line.text;
    }
    const std::string text = b.device->transcriptText();
    EXPECT_NE(
        text.find("WriteRequest 0x3FC000, 4096 bytes (block 1): F0 52 00 63 02 00 00 7F 01 00 00 20 ... "
                  "(4700 bytes)"),
        std::string::npos)
        << text;
    EXPECT_EQ(text.rfind("(49 earlier lines dropped)\n", 0), 0u) << text;
}

// ---- whole updates, judged by the verdict ----

enum class HostFault { None, ExtraByte, NeverSkipBoot, AlwaysSkipBoot };

// The plan carried out the plain way, one request and one answer at a time, stepping over what the
// device says on its own.
// With HostFault::ExtraByte, *stray is where the stray byte went.
void runPlan(Bench& b, HostFault fault, std::uint32_t* stray = nullptr) {
    auto answer = [&b]() -> Bytes {
        for (;;) {
            const Bytes e = b.next().value_or(Bytes{});
            if (e.size() < 5 || (e[1] == 0x52 && (e[4] == 0x00 || e[4] == 0x02 || e[4] == 0x60)) ||
                (e[1] == 0x7E && e[4] == 0x02)) {
                return e;
            }
        }
    };
    auto accepted = [](const Bytes& a) {
        return a.size() >= 6 && (a[4] == 0x02 || (a[4] == 0x00 && a[5] == 0));
    };

    ASSERT_EQ(b.sender.sendIdentityRequest(), 0);
    const Bytes id = answer();
    ASSERT_EQ(id.size(), 15u);
    b.sender.setDeviceCode(id[6]);
    ASSERT_EQ(b.sender.sendBeginUpdateRequest(), 0);
    ASSERT_TRUE(accepted(answer()));

    const FirmwareImage* boot = loadImage(kBootImageId);
    ASSERT_NE(boot, nullptr);
    ASSERT_EQ(b.sender.sendReadRequest(kBootVersionAddress, 4), 0);
    const Bytes version = readData(answer());
    bool skipBoot =
        std::equal(version.begin(), version.end(), boot->data + boot->size - 4) && version.size() == 4;
    skipBoot = fault == HostFault::NeverSkipBoot    ? false
               : fault == HostFault::AlwaysSkipBoot ? true
                                                    : skipBoot;

    for (const FlashStep& step : FlashPlan) {
        if (step.address == 0 && skipBoot) {
            continue;
        }
        if (step.kind == FlashStep::Erase) {
            ASSERT_EQ(b.erase(step.address, step.size), 0);
            ASSERT_TRUE(accepted(answer())) << "erase at " << step.address;
            continue;
        }
        const FirmwareImage* image = loadImage(step.imageId);
        ASSERT_NE(image, nullptr);
        for (std::uint32_t off = 0; off < image->size; off += 4096) {
            const std::uint32_t n = std::min<std::uint32_t>(4096, image->size - off);
            ASSERT_EQ(
                b.sender.sendWriteRequest(b.sender.deviceCode(), image->data + off, step.address + off, n),
                0);
            ASSERT_TRUE(accepted(answer())) << "block at " << step.address + off;
        }
    }
    if (fault == HostFault::ExtraByte) {
        // One stray byte inside image 136 that only clears a bit, so the flash takes it.
        std::uint32_t at = 0xA5000 + 0x12345;
        while (b.device->readFlash(at, 1).at(0) == 0) {
            ++at;
        }
        const std::uint8_t old = b.device->readFlash(at, 1).at(0);
        const auto cleared = static_cast<std::uint8_t>(old & (old - 1));
        *stray = at;
        ASSERT_EQ(b.sender.sendWriteRequest(b.sender.deviceCode(), &cleared, at, 1), 0);
        ASSERT_TRUE(accepted(answer()));
    }
    ASSERT_EQ(b.sender.sendEndUpdateRequest(), 0);
    answer();
}

TEST(EmulatorUpdate, VerdictOnWholeUpdates) {
    const struct {
        const char* what;
        const char* scenario;
        HostFault fault;
        bool ok;
        bool bootSkipped;
        const char* summaryMentions;
    } rows[] = {
        {"earlier firmware 0.99: all nine steps", "", HostFault::None, true, false, "boot region written"},
        {"same boot version: boot steps skipped", "boot=1.00", HostFault::None, true, true, "skipped"},
        {"blank device answering as 0x62 with done replies amid chatter",
         "boot=blank,model=0x62,done-reply,chatter", HostFault::None, true, false, "matches"},
        {"a stray byte written after the plan", "", HostFault::ExtraByte, false, false, "image 136"},
        {"boot region rewritten although its version matched", "boot=1.00", HostFault::NeverSkipBoot, false,
         true, "boot region, skipped"},
        {"boot region skipped although its version differed", "", HostFault::AlwaysSkipBoot, false, false,
         "image 142"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Bench b(row.scenario);
        std::uint32_t stray = 0;
        runPlan(b, row.fault, &stray);
        EXPECT_TRUE(b.device->waitForEnd(5s));
        const FlashVerdict v = b.device->verdict(builtInImages());
        EXPECT_EQ(v.ok, row.ok) << v.summary;
        EXPECT_EQ(v.bootSkipped, row.bootSkipped);
        EXPECT_NE(v.summary.find(row.summaryMentions), std::string::npos) << v.summary;
        if (row.fault == HostFault::ExtraByte) {
            EXPECT_EQ(v.wrongBytes, 1u);
            EXPECT_EQ(v.firstWrongAddress, stray);
        }
        const EmulatorCounters c = b.device->counters();
        EXPECT_EQ(c.blockResends, 0);
        EXPECT_EQ(c.norRefusals, 0) << "every block of the plan lands on erased flash";
    }
}

}  // namespace
}  // namespace velmora::emulator
