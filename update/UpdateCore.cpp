#include "update/UpdateCore.h"

#include <algorithm>
#include <system_error>

#include "firmware/FirmwareImages.h"
#include "update/Texts.h"
#include "update/Transfer.h"

namespace velmora {

CUpdateCore::CUpdateCore(midi::MidiDriver& driver, UpdateView& view, Timing timing)
    : driver_(driver),
      view_(view),
      timing_(timing),
      inPort_(driver),
      outPort_(driver, timing.sendBound),
      sender_(outPort_) {}

CUpdateCore::~CUpdateCore() {
    abort();
    timer_.stop();  // no reply processing may run on what goes away below
    waitForWorker();
}

void CUpdateCore::startPolling() {
    if (timing_.wakeOnArrival) {
        // Without this a reply waits up to a whole poll period in the queue, for every one of ~950 requests.
        inPort_.setArrivalHook([this] { timer_.wake(); });
    }
    timer_.start(static_cast<unsigned>(timing_.pollPeriod.count()), &CUpdateCore::onReplyTick,
                 reinterpret_cast<std::uintptr_t>(this));
}

void CUpdateCore::onReplyTick(std::uintptr_t core) {
    auto* self = reinterpret_cast<CUpdateCore*>(core);
    processReplies(self->inPort_, self->sender_, self->replies_);
}

void CUpdateCore::onExecute() {
    if (busy()) {
        view_.showError(texts::shown(texts::kInProgress));
        return;
    }
    workerStarted_ = false;
    // Execute's own refusals: the window says them; the report keeps them for owners that read it.
    const auto refuse = [this](const char* text) {
        report_ = RunReport{RunReport::Result::Failed, text, texts::shown(text)};
        view_.showError(report_.shownMessage);
    };
    // Checked before any port opens: filler written over a real device's flash would leave it unusable.
    if (carriesStandInImages() && !driver_.reachesOnlyEmulatedDevices()) {
        refuse(texts::kStandInRefused);
        return;
    }
    outPort_.close();
    if (!outPort_.open(view_.selectedOutput())) {
        refuse(texts::kCantOpenOut);
        return;
    }
    inPort_.close();
    if (!inPort_.open(view_.selectedInput())) {
        refuse(texts::kCantOpenIn);  // the output port stays open; the next Execute reopens it
        return;
    }
    enableControls(false);
    busy_.store(1);
    sender_.forgetSent();  // new ports: whether the link echoes is learnt again
    waitForWorker();       // the previous run has ended (busy was clear); collect its thread
    workerStarted_ = startWorker([this] {
        // busy clears only once the worker has made its last view call, so that an Execute pressed in
        // between is told "In Progress." rather than waiting here for a worker that waits for it.
        if (updateWorker()) {
            busy_.store(0);
        }
        if (onWorkerEnded_) {
            onWorkerEnded_();
        }
    });
    if (!workerStarted_) {
        restoreControls();
        refuse(texts::kTransferError);
    }
}

bool CUpdateCore::startWorker(std::function<void()> body) {
    try {
        worker_ = std::thread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void CUpdateCore::abort() {
    if (aborted_.exchange(true)) {
        return;
    }
    abortReplies(replies_, outPort_, inPort_);
}

void CUpdateCore::waitForWorker() {
    if (worker_.joinable()) {
        worker_.join();
    }
}

void CUpdateCore::enableControls(bool enabled) {
    for (ControlId id : {ControlId::MidiIn, ControlId::MidiOut, ControlId::Execute, ControlId::Rescan}) {
        view_.enableControl(id, enabled);
    }
}

void CUpdateCore::restoreControls() {
    enableControls(true);
    busy_.store(0);
}

void CUpdateCore::enableExecute(bool enabled) {
    view_.enableControl(ControlId::Execute, enabled);
}

bool CUpdateCore::updateWorker() {
    bool restored = false;
    report_ = RunReport{};
    RunContext run{view_,
                   sender_,
                   replies_,
                   timing_,
                   [this, &restored] {
                       enableControls(true);
                       restored = true;
                   },
                   report_};
    runUpdate(run);
    if (report_.result == RunReport::Result::None) {
        report_.result = RunReport::Result::Aborted;  // every other way out has said how it ended
    }
    return restored;
}

namespace {

// The identity wait takes an IdentityReply, or a failure status from a device that answers with one.
bool isIdentityAnswer(const Answer& a) {
    return a.kind == Answer::Kind::Identity ||
           (a.kind == Answer::Kind::Status && a.status != reply::kSuccess);
}

}  // namespace

bool CUpdateCore::identify(RunContext& run) {
    // Sent like every request with nothing owed: what came before, while idle, is not its answer.
    if (run.send([this] { return sender_.sendIdentityRequest(); }) != 0) {
        // The abort closes the ports; a send it cut off is the abort's, not a port failure.
        if (!aborted_.load()) {
            run.fail(texts::kCantOpenOut);
        }
        return false;
    }
    const RunContext::Reply identity = run.await(timing_.replyTimeout, isIdentityAnswer);
    switch (identity.outcome) {
        case Outcome::TimedOut:
            run.fail(texts::kTimeOut1);
            return false;
        case Outcome::Aborted:
            return false;
        case Outcome::Refused:
        case Outcome::NotInUpdateMode:
            run.fail(texts::kIllegalDevice);
            return false;
        case Outcome::Accepted:
            break;
    }
    // Taken before the check: a rejected code stays the one replies are matched on until the next run.
    const std::uint8_t code = identity.answer.deviceCode;
    sender_.setDeviceCode(code);
    view_.deviceIdentified(code);
    if (std::find(AcceptedDeviceCodes.begin(), AcceptedDeviceCodes.end(), code) ==
        AcceptedDeviceCodes.end()) {
        run.fail(texts::kIllegalDevice);
        return false;
    }
    sender_.setHostIdentityModel(code);
    return true;
}

bool CUpdateCore::beginUpdate(RunContext& run) {
    run.send([this] { return sender_.sendBeginUpdateRequest(); });
    view_.setStatusText(texts::kErasing);
    const Outcome begin = run.await(timing_.replyTimeout, isStatusAnswer).outcome;
    if (begin == Outcome::TimedOut) {
        run.fail(texts::kTimeOut1);
        return false;
    }
    view_.setStatusText("");
    switch (begin) {
        case Outcome::Accepted:
            run.pause(timing_.beginPause);
            return true;
        case Outcome::NotInUpdateMode:
            run.fail(texts::kSetUpdateMode);
            return false;
        case Outcome::Aborted:
            return false;
        default:
            run.fail(texts::kTransferError);
            return false;
    }
}

void CUpdateCore::runUpdate(RunContext& run) {
    view_.setStepText(texts::stepCounter(0, kFlashPlanSteps));
    if (!identify(run)) {
        return;
    }
    if (dryRun_) {
        bool needBootRegion = true;
        if (checkBootRegion(run, needBootRegion) == 0) {
            run.report.bootRegionSkipped = !needBootRegion;
            run.report.result = RunReport::Result::Completed;
            run.restoreControls();
        }
        return;
    }
    if (!beginUpdate(run) || runFlashPlan(run) != 0) {
        return;
    }
    run.report.verifyStarted = verify_;
    if (verify_ && verifyFlashPlan(run) != 0) {
        return;
    }

    run.send([this] { return sender_.sendEndUpdateRequest(); });
    const RunContext::Reply end = run.await(timing_.replyTimeout, isAnyAnswer);
    if (end.outcome == Outcome::TimedOut) {
        run.fail(texts::kTransferError);
        return;
    }
    if (end.outcome == Outcome::Aborted) {
        return;
    }
    run.report.endStatus = end.answer.status;
    run.report.result = RunReport::Result::Completed;
    view_.setStatusText(texts::kCompleted);  // whatever status the device ended with
    run.restoreControls();
    enableExecute(false);
}

}  // namespace velmora
