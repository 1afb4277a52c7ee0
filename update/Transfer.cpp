#include "update/Transfer.h"

#include <algorithm>
#include <cstring>
#include <thread>

#include "firmware/FirmwareImages.h"
#include "update/Messages.h"
#include "update/Texts.h"
#include "update/UpdateView.h"

namespace velmora {

namespace {

// Reads ask for up to this many bytes more than they need (see readFlash).
constexpr std::uint32_t kReadTags = 32;

Outcome outcomeOf(std::int32_t status) {
    switch (status) {
        case reply::kSuccess:
            return Outcome::Accepted;
        case reply::kNotInUpdateMode:
            return Outcome::NotInUpdateMode;
        case reply::kAborted:
            return Outcome::Aborted;
        default:
            return Outcome::Refused;
    }
}

// Sends one block until the device has it; 0, or -1 when the run ends (reported unless aborted).
//
// A send whose answer does not come within the block wait gets a grace wait more, in which a late answer
// still counts as its own. Past that the answer is given up and the block sent again, and from then on a
// success may be the late answer to any earlier send of this block: the block is read back and compared
// before it counts. A read-back whose reply came also settles every older answer, since the device answers in
// order.
int writeBlock(RunContext& run, const std::uint8_t* data, std::uint32_t address, std::uint32_t size,
               const std::string& statusText) {
    int failures = 0;
    bool doubt = false;
    for (;;) {
        run.send([&] { return run.sender.sendWriteRequest(run.sender.deviceCode(), data, address, size); });
        run.view.setStatusText(statusText);
        RunContext::Reply r = run.await(run.timing.blockTimeout, isStatusAnswer);
        if (r.outcome == Outcome::TimedOut) {
            r = run.await(run.timing.lateGrace, isStatusAnswer);
        }
        Outcome failure = r.outcome;
        if (r.outcome == Outcome::Aborted) {
            return -1;
        }
        if (r.outcome == Outcome::Accepted) {
            if (!doubt) {
                return 0;
            }
            const RunContext::ReadBack back = run.readFlash(address, size);
            if (back.outcome == Outcome::Aborted) {
                return -1;
            }
            if (back.outcome == Outcome::Accepted && std::memcmp(back.data, data, size) == 0) {
                return 0;
            }
            // A reply that came, right or wrong, leaves nothing older owed; one that did not leaves the
            // doubt.
            failure = back.outcome == Outcome::Accepted ? Outcome::Refused : back.outcome;
            doubt = failure == Outcome::TimedOut;
        } else if (r.outcome == Outcome::TimedOut) {
            doubt = true;
        }
        // A time-out and a refusal count alike; the kind of the last failure chooses the message.
        if (failures >= kBlockGiveUpAfter) {
            run.fail(failure == Outcome::TimedOut ? texts::kTimeOut2 : texts::kTransferError);
            return -1;
        }
        ++failures;
        ++run.report.resends;
        run.view.requestRepeated(address, failure == Outcome::TimedOut, failures);
        run.pause(run.timing.retryPause);
    }
}

// A verify read, asked again after a refusal or a lost answer within the limits a block write has: one
// lost reply must not fail a flash that holds the plan.
RunContext::ReadBack readBackBlock(RunContext& run, std::uint32_t address, std::uint32_t size) {
    for (int failures = 0;; ++failures) {
        const RunContext::ReadBack back = run.readFlash(address, size);
        const bool failed = back.outcome == Outcome::TimedOut || back.outcome == Outcome::Refused;
        if (!failed || failures >= kBlockGiveUpAfter) {
            return back;
        }
        ++run.report.resends;
        run.view.requestRepeated(address, back.outcome == Outcome::TimedOut, failures + 1);
        run.pause(run.timing.retryPause);
    }
}

const FirmwareImage* imageOrFail(RunContext& run, std::uint32_t imageId) {
    const FirmwareImage* image = loadImage(imageId);
    if (image == nullptr) {
        run.fail(texts::kTransferError);  // a build without this image: nothing of it can be written
    }
    return image;
}

}  // namespace

bool isStatusAnswer(const Answer& a) {
    return a.kind == Answer::Kind::Status || a.kind == Answer::Kind::Done;
}

bool isAnyAnswer(const Answer&) {
    return true;
}

RunContext::Reply RunContext::await(std::chrono::milliseconds limit, const Accepts& accepts) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        const std::optional<Answer> a = replies.takeAnswer(std::max(left, std::chrono::milliseconds(0)));
        if (!a) {
            return {};
        }
        if (a->status == reply::kAborted || accepts(*a)) {
            return {outcomeOf(a->status), *a};
        }
    }
}

RunContext::ReadBack RunContext::readFlash(std::uint32_t address, std::uint32_t count) {
    // A ReadReply tells nothing of its request but how many bytes it carries. Each read asks for a few bytes
    // more than needed (spilling before the range, or after it at address 0), a number that changes from read
    // to read, so that a late reply to an earlier read is never taken for this one's.
    const std::uint32_t extra = readSerial++ % kReadTags;
    const bool spillBefore = address >= extra;
    const std::uint32_t length = count + extra;
    replies.setReadBackOffset(0);
    send([&] { return sender.sendReadRequest(spillBefore ? address - extra : address, length); });
    const Reply r = await(timing.readBackTimeout, [length](const Answer& a) {
        return a.kind == Answer::Kind::Read && a.readLength == static_cast<std::int32_t>(length);
    });
    if (r.outcome != Outcome::Accepted) {
        return {r.outcome == Outcome::NotInUpdateMode ? Outcome::Refused : r.outcome};
    }
    return {Outcome::Accepted, replies.readBackData() + r.answer.dataOffset + (spillBefore ? extra : 0)};
}

void RunContext::fail(const char* text) {
    fail(text, texts::shown(text));
}

void RunContext::fail(const std::string& english, const std::string& shown) {
    report.result = RunReport::Result::Failed;
    report.message = english;
    report.shownMessage = shown;
    view.showError(shown);
    restoreControls();
}

void RunContext::pause(std::chrono::milliseconds length) {
    std::this_thread::sleep_for(length);
}

int checkBootRegion(RunContext& run, bool& needBootRegion) {
    needBootRegion = true;
    const FirmwareImage* boot = imageOrFail(run, kBootImageId);
    if (boot == nullptr) {
        return -1;
    }
    // Exactly the four bytes the device is known to answer: no tag, and any answer counts.
    run.replies.setReadBackOffset(0);
    run.send([&] { return run.sender.sendReadRequest(kBootVersionAddress, kBootVersionLength); });
    const RunContext::Reply r = run.await(run.timing.replyTimeout, isAnyAnswer);
    if (r.outcome == Outcome::Aborted) {
        return -1;
    }
    if (r.outcome != Outcome::Accepted) {
        run.report.result = RunReport::Result::Failed;
        run.restoreControls();  // a failed read-back ends the run without a message
        return -1;
    }
    // Only bytes this reply delivered count; anything it did not deliver counts as different.
    const Answer& a = r.answer;
    needBootRegion = !(a.kind == Answer::Kind::Read && a.dataOffset >= 0 &&
                       a.readLength >= static_cast<std::int32_t>(kBootVersionLength) &&
                       std::memcmp(run.replies.readBackData() + a.dataOffset,
                                   boot->data + kBootVersionAddress, kBootVersionLength) == 0);
    return 0;
}

int eraseRegion(RunContext& run, std::uint32_t address, std::uint32_t size) {
    int failures = 0;
    for (;;) {
        run.view.setProgressRange(0, 10);
        run.send([&] { return run.sender.sendEraseRequest(run.sender.deviceCode(), address, size); });
        run.view.setProgressPos(1);
        run.view.setStatusText(texts::kErasing);
        switch (run.await(run.timing.replyTimeout, isStatusAnswer).outcome) {
            case Outcome::TimedOut:
                run.fail(texts::kTimeOut3);  // an erase that went unanswered is never repeated
                return -1;
            case Outcome::Accepted:
                run.view.setProgressPos(10);
                return 0;
            case Outcome::Aborted:
                return -1;
            case Outcome::Refused:
            case Outcome::NotInUpdateMode:
                break;
        }
        if (failures >= kEraseGiveUpAfter) {
            run.fail(texts::kTransferError);
            return -1;
        }
        ++failures;
        ++run.report.resends;
        run.view.requestRepeated(address, false, failures);
        run.pause(run.timing.retryPause);
    }
}

int writeImage(RunContext& run, const FlashStep& row) {
    const FirmwareImage* image = imageOrFail(run, row.imageId);
    if (image == nullptr) {
        return -1;
    }
    const std::uint32_t address = row.address;
    const auto imageSize = static_cast<std::int32_t>(rowBytes(row, image->size));
    run.view.setProgressRange(0, imageSize);
    for (std::int32_t offset = 0; offset < imageSize;) {
        const std::int32_t blockSize = std::min(static_cast<std::int32_t>(kBlockSize), imageSize - offset);
        if (writeBlock(run, image->data + offset, address + static_cast<std::uint32_t>(offset),
                       static_cast<std::uint32_t>(blockSize),
                       texts::dataTransmit(offset, imageSize, i18n::Language::English)) != 0) {
            return -1;
        }
        offset += blockSize;
        run.report.bytesWritten += blockSize;
        run.view.setProgressPos(offset);
        run.view.bytesProgress(run.report.bytesWritten, run.bytesTotal);
    }
    return 0;
}

int runFlashPlan(RunContext& run) {
    bool needBootRegion = true;
    if (checkBootRegion(run, needBootRegion) != 0) {
        return -1;
    }
    run.bootRegionWritten = needBootRegion;
    run.report.bootRegionSkipped = !needBootRegion;
    run.bytesTotal = 0;
    for (const FlashStep& row : FlashPlan) {
        if (row.kind == FlashStep::Write && (!inBootRegion(row) || needBootRegion)) {
            run.bytesTotal += stepBytes(row);
        }
    }
    run.view.bytesProgress(0, run.bytesTotal);
    for (int n = 1; n <= kFlashPlanSteps; ++n) {
        const FlashStep& row = FlashPlan[static_cast<std::size_t>(n - 1)];
        run.view.setStepText(texts::stepCounter(n, kFlashPlanSteps));
        const bool skipped = inBootRegion(row) && !needBootRegion;
        run.view.stepStarted(n, row, skipped);
        if (skipped) {
            continue;
        }
        const int result =
            row.kind == FlashStep::Erase ? eraseRegion(run, row.address, row.size) : writeImage(run, row);
        if (result != 0) {
            return -1;
        }
    }
    return 0;
}

int verifyFlashPlan(RunContext& run) {
    const auto started = std::chrono::steady_clock::now();
    for (const FlashStep& row : FlashPlan) {
        if (row.kind != FlashStep::Write || (inBootRegion(row) && !run.bootRegionWritten)) {
            continue;
        }
        const FirmwareImage* image = imageOrFail(run, row.imageId);
        if (image == nullptr) {
            return -1;
        }
        const std::uint32_t total = rowBytes(row, image->size);
        for (std::uint32_t offset = 0; offset < total; offset += kBlockSize) {
            const std::uint32_t n = std::min(kBlockSize, total - offset);
            const std::uint32_t address = row.address + offset;
            const RunContext::ReadBack back = readBackBlock(run, address, n);
            if (back.outcome == Outcome::Aborted) {
                return -1;
            }
            if (back.outcome != Outcome::Accepted) {
                run.fail(texts::verifyUnreadable(row.imageId, address, i18n::Language::English),
                         texts::verifyUnreadable(row.imageId, address));
                return -1;
            }
            const auto [got, want] = std::mismatch(back.data, back.data + n, image->data + offset);
            if (got != back.data + n) {
                const auto at = address + static_cast<std::uint32_t>(got - back.data);
                run.fail(texts::verifyFailed(row.imageId, at, i18n::Language::English),
                         texts::verifyFailed(row.imageId, at));
                return -1;
            }
        }
    }
    run.report.verified = true;
    run.report.verifyTime =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    return 0;
}

}  // namespace velmora
