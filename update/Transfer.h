#pragma once
// The flash plan carried out on the device: the boot-region read-back, erases and block-by-block writes, each
// request awaited before the next, refused requests sent again a fixed number of times.
//
// Answers carry no reference to their request, so the pairing is kept here: nothing that arrived before a
// request was sent is taken for its answer; a block whose answer is late gets a grace wait before it is sent
// again; and once an answer has been given up as lost and the block sent again, a success may belong to
// either send, so the block is read back and compared before the run goes on.

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "update/FlashPlan.h"
#include "update/Replies.h"
#include "update/Timing.h"

namespace velmora {

class UpdateView;
class CSysExSender;

inline constexpr std::uint32_t kBlockSize = 4096;
inline constexpr int kEraseGiveUpAfter = 6;   // failures answered with a repeat; the next one ends the run
inline constexpr int kBlockGiveUpAfter = 31;  // consecutive failures of one block answered with a repeat

// How one wait for an answer ended.
enum class Outcome { Accepted, Refused, NotInUpdateMode, TimedOut, Aborted };

// How the last run ended, for owners that report more than the window shows.
struct RunReport {
    enum class Result { None, Completed, Failed, Aborted };
    Result result = Result::None;
    std::string message;         // the error box's text in English; empty for a failed boot-region read-back
    std::string shownMessage;    // the same as the box showed it, in the language chosen at start
    std::int32_t endStatus = 0;  // what answered the EndUpdateRequest
    int resends = 0;             // erases, blocks and verify reads sent again
    std::int64_t bytesWritten = 0;  // image bytes the device accepted
    bool verified = false;          // the written regions were read back and matched
    bool verifyStarted = false;     // the run got as far as reading the written regions back
    // The boot region's version matched: its two steps are left out.
    bool bootRegionSkipped = false;
    std::chrono::milliseconds verifyTime{0};
};

// What one update run works with. Lives on the worker thread for the run's length.
struct RunContext {
    struct Reply {
        Outcome outcome = Outcome::TimedOut;
        Answer answer;
    };
    struct ReadBack {
        Outcome outcome = Outcome::TimedOut;
        const std::uint8_t* data = nullptr;  // the bytes asked for, while the read-back buffer is not reused
    };
    using Accepts = std::function<bool(const Answer&)>;

    UpdateView& view;
    CSysExSender& sender;
    CReplyState& replies;
    const Timing& timing;
    std::function<void()> restoreControls;
    RunReport& report;

    bool bootRegionWritten = true;
    std::int64_t bytesTotal = 0;  // image bytes this run writes, once the plan for the device is known
    std::uint32_t readSerial = 0;

    // Sends a request with nothing owed: whatever is still queued arrived before it and is not its answer.
    template <typename Send>
    int send(Send request) {
        replies.clearAnswers();
        return request();
    }
    // The next answer that `accepts` takes, within `limit`; answers it does not take are dropped.
    Reply await(std::chrono::milliseconds limit, const Accepts& accepts);
    // Reads `count` bytes of flash at `address` (a read of more than the device is known to answer: a device
    // that does not answer it fails the read, never passes it).
    ReadBack readFlash(std::uint32_t address, std::uint32_t count);
    // Every failure but an abort: one error box, then the controls back. `text` is one of texts::k...;
    // a made text comes in English (for the report) and as shown.
    void fail(const char* text);
    void fail(const std::string& english, const std::string& shown);
    void pause(std::chrono::milliseconds length);
};

// Which answers a wait takes.
bool isStatusAnswer(const Answer& a);  // a StatusMessage or a DoneReply
bool isAnyAnswer(const Answer& a);

// 0 with needBootRegion set or cleared; -1 when the run must end (controls restored unless aborted; no
// message).
int checkBootRegion(RunContext& run, bool& needBootRegion);
// 0 when the device confirmed the erase; -1 otherwise (already reported, unless aborted).
int eraseRegion(RunContext& run, std::uint32_t address, std::uint32_t size);
// 0 when every block of the write row was accepted; -1 otherwise (already reported, unless aborted).
int writeImage(RunContext& run, const FlashStep& row);
// 0 when all nine steps are done; -1 when the run ended early.
int runFlashPlan(RunContext& run);
// Reads back every region the plan wrote in this run and compares it with its image, each read asked again
// as a block write is: 0 when all match; -1 otherwise (reported, naming the first differing address and its
// image, unless aborted).
int verifyFlashPlan(RunContext& run);

}  // namespace velmora
