#pragma once
// The flash plan carried out on the device: the boot-region read-back, erases and block-by-block writes, each
// request awaited before the next, refused requests sent again a fixed number of times.

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>

#include "update/FlashPlan.h"
#include "update/Timing.h"

namespace velmora {

class UpdateView;
class CSysExSender;
class CReplyState;

inline constexpr std::uint32_t kBlockSize = 4096;
inline constexpr int kEraseGiveUpAfter = 6;   // failures answered with a repeat; the next one ends the run
inline constexpr int kBlockGiveUpAfter = 31;  // consecutive failures of one block answered with a repeat

// What one update run works with. Lives on the worker thread for the run's length.
struct RunContext {
    UpdateView& view;
    CSysExSender& sender;
    CReplyState& replies;
    const Timing& timing;
    std::function<void()> restoreControls;

    // The image being written, and how many of its bytes.
    const std::uint8_t* imageData = nullptr;
    std::int32_t imageSize = 0;

    // The status of the next answer, or nothing when none came within `limit`.
    std::optional<std::int32_t> awaitReply(std::chrono::milliseconds limit);
    // Every failure but an abort: one error box, then the controls back.
    void fail(const char* text);
    void pause(std::chrono::milliseconds length);
};

// 0 with needBootRegion set or cleared; -1 when the run must end (controls restored unless aborted; no
// message).
int checkBootRegion(RunContext& run, bool& needBootRegion);
// 0 when the device confirmed the erase; -1 otherwise (already reported, unless aborted).
int eraseRegion(RunContext& run, std::uint32_t address, std::uint32_t size);
// 0 when every block was accepted; -1 otherwise (already reported, unless aborted). size 0: the whole image.
int writeImage(RunContext& run, std::uint32_t address, std::int32_t size, std::uint32_t imageId);
// 0 when all nine steps are done; -1 when the run ended early.
int runFlashPlan(RunContext& run);

}  // namespace velmora
