#pragma once
// A device on the far end of a loopback MIDI port pair, answering the updater the way the real firmware
// does, with real latencies, 4 MiB of NOR flash and the faults of a scenario (Scenario.h). It reads the
// host's whole messages from the output port's far end and writes its answers as raw MIDI bytes into the
// input port's far end, so they reach the host through the same framing a real port applies. One thread of
// its own; the destructor stops it without waiting out a delay in progress.
//
// Answers:
//  - Identity Request: Identity Reply with the model code at byte 6 and, as software version, the four boot-
//    version bytes currently in flash.
//  - BeginUpdateRequest: status 0, or 11 outside version-update mode.
//  - EraseRequest: the sectors become 0xFF, then status 0.
//  - WriteRequest: status 1 for a wrong checksum; programmed as NOR flash (bits only go from 1 to 0) after
//    a check of the whole block, so a block that would need a 0 turned back into 1 is refused with status 1
//    and changes nothing; otherwise status 0.
//  - ReadRequest: a ReadReply with the bytes asked for.
//  - EndUpdateRequest: the scenario's end status (0 by default).
//  Outside version-update mode erases and writes are refused with 11 as well, and the flash stays as it was.
//  Refused requests (DeviceRequest.h) get status 1, ignored messages nothing.

#include <algorithm>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "emulator/DeviceRequest.h"
#include "emulator/FlashVerdict.h"
#include "emulator/Scenario.h"
#include "midi/drivers/loopback/LoopbackDriver.h"

namespace velmora::emulator {

// Wire time of one message on a link: a fixed part plus its bytes at a rate (0: no byte time).
struct LinkSpeed {
    std::chrono::microseconds perMessage{0};
    double bytesPerSecond = 0;
};

LinkSpeed linkSpeed(Link link);

// How long the flash takes. The defaults keep the largest erase of the plan (0x397000 bytes, 919 sectors)
// near 11 s, well inside the host's 30 s wait, and a 4 KiB block near 8 ms.
struct FlashTimes {
    std::chrono::microseconds erasePerSector{12000};  // per 4 KiB
    std::chrono::microseconds programPerBlock{8000};  // per WriteRequest
};

struct EmulatorConfig {
    std::string inputName = "Velmora";   // the host's MIDI IN: the device writes its answers there
    std::string outputName = "Velmora";  // the host's MIDI OUT: the device reads the requests there
    Scenario scenario;
    // The flash the device starts with, when it is not the scenario's: a device that an interrupted update
    // left behind. Used only when it holds exactly the 4 MiB of flash.
    std::vector<std::uint8_t> startFlash;
    FlashTimes flashTimes;
    // Every time (link, flash, late answers) is multiplied by this; use the factor given to Timing::scaled
    // so that device and host time-outs shrink together. 0: no time at all.
    double timeScale = 1.0;
    std::size_t transcriptLines = 4096;  // the oldest lines go first once full
};

struct EmulatorCounters {
    int messagesReceived = 0;  // every message from the host, whatever it was
    int identity = 0;
    int begin = 0;
    int erase = 0;  // EraseRequests received, resends included
    int write = 0;  // WriteRequests received, resends included
    int read = 0;
    int end = 0;
    int hostAnswers = 0;  // the host's acknowledgements, rejections and identity replies
    int ignored = 0;
    int refused = 0;  // malformed or out-of-range requests answered with status 1
    int erasesDone = 0;
    int eraseResends = 0;
    int blocks = 0;         // distinct blocks: the highest block number so far
    int blocksWritten = 0;  // WriteRequests programmed into the flash
    int blockResends = 0;
    int checksumFailures = 0;
    int norRefusals = 0;
    int faultsApplied = 0;  // refusals, lost and late answers that the scenario caused
    int answersSent = 0;    // counted before they leave, so a host holding an answer finds it counted
    int answersLost = 0;    // dropped by the scenario, or sent while the host's input was closed
    int chatterSent = 0;
};

struct TranscriptLine {
    enum class Kind { Received, Sent, Note };
    std::chrono::microseconds at{0};  // since the device started
    Kind kind = Kind::Note;
    std::string text;
};

class CEmulatedDevice {
  public:
    // Adds the two ports (config.inputName, config.outputName) at the end of the driver's lists.
    CEmulatedDevice(midi::CLoopbackDriver& driver, const EmulatorConfig& config);
    // Attaches to far ends someone else created.
    CEmulatedDevice(std::shared_ptr<midi::LoopbackInputEnd> toHost,
                    std::shared_ptr<midi::LoopbackOutputEnd> fromHost, EmulatorConfig config);
    ~CEmulatedDevice();
    CEmulatedDevice(const CEmulatedDevice&) = delete;
    CEmulatedDevice& operator=(const CEmulatedDevice&) = delete;

    const EmulatorConfig& config() const { return config_; }
    const std::shared_ptr<midi::LoopbackInputEnd>& inputEnd() const { return toHost_; }
    const std::shared_ptr<midi::LoopbackOutputEnd>& outputEnd() const { return fromHost_; }

    EmulatorCounters counters() const;
    std::vector<TranscriptLine> transcript() const;
    std::size_t transcriptDropped() const;
    // The transcript as text, one line each: time in ms, direction, summary.
    std::string transcriptText() const;

    std::vector<std::uint8_t> flash() const;
    std::vector<std::uint8_t> readFlash(std::uint32_t address, std::uint32_t count) const;
    const std::vector<std::uint8_t>& initialFlash() const { return initial_; }
    FlashVerdict verdict(const ImageSource& images) const;

    // True once `done` holds for the counters (checked after every message handled), false after `limit`.
    bool waitUntil(const std::function<bool(const EmulatorCounters&)>& done,
                   std::chrono::milliseconds limit) const;
    // True once an EndUpdateRequest has been taken in (set before its answer leaves; a silent or unplugged
    // device takes nothing in).
    bool waitForEnd(std::chrono::milliseconds limit) const;
    // True once nothing has arrived or been in hand for `quiet`.
    bool waitForIdle(std::chrono::milliseconds quiet, std::chrono::milliseconds limit) const;

  private:
    using Clock = std::chrono::steady_clock;

    void run();
    void handle(const std::vector<std::uint8_t>& message);
    // A request the device reads, by its kind; `raw` is its preview for the transcript.
    void dispatch(const DeviceRequest& r, const std::string& raw);
    // An erase or a write: numbered, counted, refused outside update mode or by the scenario, else done by
    // eraseSectors or writeBlock and answered.
    void handleFlashRequest(const DeviceRequest& r, const std::string& raw);
    // Each false when no done answer follows: being stopped, or the request already answered or lost.
    bool eraseSectors(const DeviceRequest& r);
    bool writeBlock(const DeviceRequest& r);
    // Programs a write request's block into flash: the first address that was not erased (nothing changed),
    // or where the corrupt-block fault spoilt it.
    struct Programmed {
        std::optional<std::uint32_t> conflict;
        std::optional<std::uint32_t> corrupted;
    };
    Programmed program(const DeviceRequest& r);
    // A copy of N bytes of flash at `address`, taken under the lock.
    template <std::size_t N>
    std::array<std::uint8_t, N> flashCopy(std::uint32_t address) const {
        std::array<std::uint8_t, N> bytes{};
        std::lock_guard lock(mutex_);
        std::copy_n(flash_.begin() + address, N, bytes.begin());
        return bytes;
    }
    void answer(std::vector<std::uint8_t> bytes, const std::string& what);
    void sendChatter();
    bool lostAtRandom();
    // Holds an answer back `ms` when the fault is aimed here and not used yet; false when being stopped.
    bool holdBack(bool aimed, bool& used, std::uint32_t ms, const char* key);
    // Spends the link's time for a message of `bytes`; false when the device is being stopped.
    bool wireTime(std::size_t bytes);
    void unplug();
    // Spends `length` (already scaled); false when the device is being stopped.
    bool pause(std::chrono::microseconds length);
    std::chrono::microseconds scaled(std::chrono::microseconds length) const;
    void note(TranscriptLine::Kind kind, std::string text);
    void count(int EmulatorCounters::*field, int by = 1);

    const EmulatorConfig config_;
    const std::shared_ptr<midi::LoopbackInputEnd> toHost_;
    const std::shared_ptr<midi::LoopbackOutputEnd> fromHost_;
    const std::vector<std::uint8_t> initial_;
    const LinkSpeed link_;
    const Clock::time_point started_ = Clock::now();

    // Shared with callers, under mutex_.
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;  // after each message handled
    std::condition_variable stopping_;
    bool stop_ = false;
    bool busy_ = false;
    bool ended_ = false;
    Clock::time_point lastActivity_ = started_;
    std::vector<std::uint8_t> flash_;
    EmulatorCounters counters_;
    std::deque<TranscriptLine> transcript_;
    std::size_t transcriptDropped_ = 0;

    // The device thread's own.
    struct LastFlashRequest {
        RequestKind kind = RequestKind::Ignored;
        std::uint32_t address = 0;
        std::uint32_t size = 0;
    };
    LastFlashRequest last_;
    // The erases, or the blocks, so far and what is left of the faults aimed at them.
    struct FlashSequence {
        std::uint32_t number = 0;
        std::uint32_t refusalsLeft = 0;
        bool lateUsed = false;
    };
    FlashSequence erases_;
    FlashSequence blocks_;
    std::uint32_t answersToDrop_;
    bool corruptUsed_ = false;
    bool unplugged_ = false;
    std::size_t chatterNext_ = 0;
    std::uint64_t lossState_;

    std::thread thread_;  // last: starts once everything it uses exists
};

}  // namespace velmora::emulator
