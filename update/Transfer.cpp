#include "update/Transfer.h"

#include <thread>

#include "firmware/FirmwareImages.h"
#include "update/Messages.h"
#include "update/Replies.h"
#include "update/Texts.h"
#include "update/UpdateView.h"

namespace velmora {

std::optional<std::int32_t> RunContext::awaitReply(std::chrono::milliseconds limit) {
    if (!replies.event().waitFor(limit)) {
        return std::nullopt;
    }
    return replies.replyStatus();
}

void RunContext::fail(const char* text) {
    view.showError(text);
    restoreControls();
}

void RunContext::pause(std::chrono::milliseconds length) {
    std::this_thread::sleep_for(length);
}

int checkBootRegion(RunContext& run, bool& needBootRegion) {
    needBootRegion = true;
    const FirmwareImage* boot = loadImage(kBootImageId);
    run.imageData = boot->data;

    run.replies.setReadBackOffset(0);
    run.sender.sendReadRequest(kBootVersionAddress, kBootVersionLength);
    const std::optional<std::int32_t> status = run.awaitReply(run.timing.replyTimeout);
    if (status == reply::kAborted) {
        return -1;
    }
    if (status != reply::kSuccess) {
        run.restoreControls();  // a failed read-back ends the run without a message
        return -1;
    }
    // Only bytes this read delivered count: a short reply must not let stale bytes of an earlier read decide
    // that the boot region is current. Anything not delivered counts as different, so the region is written.
    const std::int32_t delivered = run.replies.readBackOffset();
    const std::uint8_t* readBack = run.replies.readBackData();
    bool same = true;
    for (std::uint32_t i = 0; i < kBootVersionLength; ++i) {
        same = same && static_cast<std::int32_t>(i) < delivered &&
               readBack[i] == run.imageData[kBootVersionAddress + i];
    }
    if (same) {
        needBootRegion = false;
    }
    return 0;
}

int eraseRegion(RunContext& run, std::uint32_t address, std::uint32_t size) {
    int failures = 0;
    for (;;) {
        run.view.setProgressRange(0, 10);
        run.sender.sendEraseRequest(run.sender.deviceCode(), address, size);
        run.view.setProgressPos(1);
        run.view.setStatusText(texts::kErasing);
        const std::optional<std::int32_t> status = run.awaitReply(run.timing.replyTimeout);
        if (!status) {
            run.fail(texts::kTimeOut3);  // an erase that went unanswered is never repeated
            return -1;
        }
        if (*status == reply::kSuccess) {
            run.view.setProgressPos(10);
            return 0;
        }
        if (*status == reply::kAborted) {
            return -1;
        }
        if (failures >= kEraseGiveUpAfter) {
            run.fail(texts::kTransferError);
            return -1;
        }
        ++failures;
        run.pause(run.timing.retryPause);
    }
}

int writeImage(RunContext& run, std::uint32_t address, std::int32_t size, std::uint32_t imageId) {
    const FirmwareImage* image = loadImage(imageId);
    run.imageData = image->data;
    run.imageSize = size != 0 ? size : static_cast<std::int32_t>(image->size);
    run.view.setProgressRange(0, run.imageSize);

    std::int32_t offset = 0;
    std::int32_t blockSize = static_cast<std::int32_t>(kBlockSize);
    int failures = 0;
    for (;;) {
        if (offset + blockSize > run.imageSize) {
            blockSize = run.imageSize - offset;
        }
        run.sender.sendWriteRequest(run.sender.deviceCode(), run.imageData + offset,
                                    address + static_cast<std::uint32_t>(offset),
                                    static_cast<std::uint32_t>(blockSize));
        run.view.setStatusText(texts::dataTransmit(offset, run.imageSize));
        const std::optional<std::int32_t> status = run.awaitReply(run.timing.blockTimeout);
        if (status == reply::kSuccess) {
            failures = 0;
            offset += blockSize;
            run.view.setProgressPos(offset);
            if (offset >= run.imageSize) {
                return 0;
            }
            continue;
        }
        if (status == reply::kAborted) {
            return -1;
        }
        // A time-out and a refusal count alike; the kind of the last failure chooses the message.
        if (failures >= kBlockGiveUpAfter) {
            run.fail(status ? texts::kTransferError : texts::kTimeOut2);
            return -1;
        }
        ++failures;
        run.pause(run.timing.retryPause);
    }
}

int runFlashPlan(RunContext& run) {
    bool needBootRegion = true;
    if (checkBootRegion(run, needBootRegion) != 0) {
        return -1;
    }
    for (int n = 1; n <= kFlashPlanSteps; ++n) {
        const FlashStep& row = FlashPlan[static_cast<std::size_t>(n - 1)];
        run.view.setStepText(texts::stepCounter(n, kFlashPlanSteps));
        const bool skipped = row.address == 0 && !needBootRegion;
        run.view.stepStarted(n, row, skipped);
        if (skipped) {
            continue;
        }
        const int result =
            row.kind == FlashStep::Erase
                ? eraseRegion(run, row.address, row.size)
                : writeImage(run, row.address, static_cast<std::int32_t>(row.size), row.imageId);
        if (result != 0) {
            return -1;
        }
    }
    return 0;
}

}  // namespace velmora
