#include "cli/JsonEvents.h"

#include <algorithm>
#include <cmath>

#include "update/FlashPlan.h"
#include "update/Texts.h"

namespace velmora::cli {

namespace {
using namespace std::chrono_literals;
constexpr auto kProgressEvery = 100ms;

// Milliseconds are all a reader needs, and shorter lines parse faster.
double rounded(double seconds) {
    return std::round(seconds * 1000) / 1000;
}
}  // namespace

CJsonSink::CJsonSink(std::ostream& out, std::function<Clock::time_point()> now)
    : out_(out), now_(std::move(now)), start_(now_()) {}

double CJsonSink::seconds(Clock::time_point at) const {
    return rounded(std::chrono::duration<double>(at - start_).count());
}

Clock::time_point CJsonSink::emit(nlohmann::json event) {
    std::lock_guard lock(mutex_);  // taken first, so that the times of the lines never go back
    const Clock::time_point stamp = now_();
    event["t"] = seconds(stamp);
    // Port names come from the device: bytes that are not UTF-8 are replaced, never a reason to stop.
    const std::string line = event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    out_ << line << '\n';
    out_.flush();
    return stamp;
}

nlohmann::json jsonEvent(const char* kind, const std::string& device, const nlohmann::json& fields) {
    nlohmann::json event = {{"event", kind}, {"device", device}};
    event.update(fields);
    return event;
}

nlohmann::json jsonPlan() {
    nlohmann::json plan = nlohmann::json::array();
    for (const FlashStep& row : FlashPlan) {
        const bool erase = row.kind == FlashStep::Erase;
        plan.push_back({{"kind", erase ? "erase" : "write"},
                        {"address", row.address},
                        {"size", stepBytes(row)},
                        {"image", erase ? nlohmann::json() : nlohmann::json(row.imageId)}});
    }
    return plan;
}

CJsonView::CJsonView(CJsonSink& sink, std::string device, int input, int output)
    : sink_(sink), device_(std::move(device)), input_(input), output_(output) {}

Clock::time_point CJsonView::emit(const char* kind, nlohmann::json fields) {
    return sink_.emit(jsonEvent(kind, device_, fields));
}

void CJsonView::setStatusText(const std::string& text) {
    std::lock_guard lock(mutex_);
    // Every change is an event but a write step's block-by-block texts, which the progress events tell.
    if (text == lastStatus_ || (stepIsWrite_ && statusShownInStep_ && texts::isDataTransmit(text))) {
        return;
    }
    lastStatus_ = text;
    statusShownInStep_ = true;
    emit("status", {{"text", text}});
}

void CJsonView::setProgressPos(int pos) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = sink_.now();
    meter_.progressPos(pos, now);
    emitProgress(now);
}

void CJsonView::bytesProgress(std::int64_t done, std::int64_t total) {
    std::lock_guard lock(mutex_);
    const Clock::time_point now = sink_.now();
    meter_.bytesProgress(done, total, now);
    emitProgress(now);
}

void CJsonView::emitProgress(Clock::time_point now) {
    if (now - lastProgress_ < kProgressEvery) {
        return;
    }
    const ProgressSnapshot p = meter_.snapshot(now);
    // Spaced by the times the lines carry: waiting for the output must not bring two closer.
    lastProgress_ =
        emit("progress",
             {{"step_done", p.stepDone},
              {"step_total", p.stepTotal},
              {"done", p.imageDone},
              {"total", p.imageTotal},
              {"rate", p.bytesPerSecond ? nlohmann::json(std::llround(*p.bytesPerSecond)) : nlohmann::json()},
              {"seconds_left", p.timeLeft ? nlohmann::json(p.timeLeft->count()) : nlohmann::json()}});
}

void CJsonView::showError(const std::string& /*text*/) {
    // The run report keeps the message; the result event carries it.
}

void CJsonView::stepStarted(int step, const FlashStep& row, bool skipped) {
    std::lock_guard lock(mutex_);
    meter_.stepStarted(step, row, skipped, sink_.now());
    stepIsWrite_ = row.kind == FlashStep::Write;
    statusShownInStep_ = false;
    lastStatus_.clear();
    emit("step", {{"n", step},
                  {"of", kFlashPlanSteps},
                  {"kind", row.kind == FlashStep::Erase ? "erase" : "write"},
                  {"address", row.address},
                  {"size", stepBytes(row)},
                  {"skipped", skipped}});
}

void CJsonView::deviceIdentified(std::uint8_t code) {
    const bool accepted =
        std::find(AcceptedDeviceCodes.begin(), AcceptedDeviceCodes.end(), code) != AcceptedDeviceCodes.end();
    emit("identity", {{"model", code}, {"accepted", accepted}});
}

void CJsonView::requestRepeated(std::uint32_t address, bool timedOut, int count) {
    emit("retry", {{"address", address}, {"reason", timedOut ? "time-out" : "refused"}, {"count", count}});
}

}  // namespace velmora::cli
