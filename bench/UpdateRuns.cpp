#include "bench/UpdateRuns.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "emulator/CEmulatedDevice.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"
#include "update/UpdateView.h"

namespace velmora::bench {

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Notes only what the figures need: when write steps start and when their last block was accepted.
class CTimingView : public UpdateView {
  public:
    void setStatusText(const std::string& text) override {
        std::lock_guard lock(mutex_);
        completed_ = completed_ || text == texts::kCompleted;
    }
    void setStepText(const std::string&) override {}
    void setProgressRange(int, int) override {}
    void setProgressPos(int) override {
        std::lock_guard lock(mutex_);
        lastProgress_ = Clock::now();
    }
    void enableControl(ControlId, bool) override {}
    void showError(const std::string& text) override {
        std::lock_guard lock(mutex_);
        error_ = text;
    }
    int selectedInput() override { return 0; }
    int selectedOutput() override { return 0; }
    void stepStarted(int, const FlashStep& row, bool skipped) override {
        std::lock_guard lock(mutex_);
        closeWriteStep();
        inWrite_ = !skipped && row.kind == FlashStep::Write;
        stepStart_ = Clock::now();
    }

    // After the worker has ended.
    double writeSeconds() {
        std::lock_guard lock(mutex_);
        closeWriteStep();
        return seconds(writeTime_);
    }
    bool completed() const {
        std::lock_guard lock(mutex_);
        return completed_ && error_.empty();
    }
    std::string error() const {
        std::lock_guard lock(mutex_);
        return error_;
    }

  private:
    void closeWriteStep() {
        if (inWrite_ && lastProgress_ > stepStart_) {
            writeTime_ += lastProgress_ - stepStart_;
        }
        inWrite_ = false;
    }

    mutable std::mutex mutex_;
    bool inWrite_ = false;
    Clock::time_point stepStart_{};
    Clock::time_point lastProgress_{};
    Clock::duration writeTime_{};
    bool completed_ = false;
    std::string error_;
};

// Counts workers that have ended, for the one thread that waits for all of them.
class CEndCount {
  public:
    void add() {
        {
            std::lock_guard lock(mutex_);
            ++ended_;
        }
        changed_.notify_all();
    }
    void waitFor(int count) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return ended_ >= count; });
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int ended_ = 0;
};

// One device and the updater that drives it.
struct Unit {
    Unit(const RunSetup& setup, CEndCount& ends)
        : device(driver, config(setup)), core(driver, view, setup.timing) {
        core.setOnWorkerEnded([this, &ends] {
            ended = Clock::now();
            ends.add();
        });
    }

    static emulator::EmulatorConfig config(const RunSetup& setup) {
        emulator::EmulatorConfig c;
        c.scenario = setup.scenario;
        c.timeScale = setup.deviceScale;
        c.transcriptLines = 0;  // nobody reads it, and a thousand lines each would only cost time
        return c;
    }

    midi::CLoopbackDriver driver;
    emulator::CEmulatedDevice device;
    CTimingView view;
    Clock::time_point started{};
    Clock::time_point ended{};
    CUpdateCore core;  // last: its worker's last act writes `ended`
};

}  // namespace

BatchResult runUpdates(const RunSetup& setup, int count) {
    CEndCount ends;
    std::vector<std::unique_ptr<Unit>> units;
    for (int i = 0; i < count; ++i) {
        units.push_back(std::make_unique<Unit>(setup, ends));
        units.back()->core.startPolling();
    }

    BatchResult batch;
    const Clock::time_point start = Clock::now();
    int started = 0;
    for (auto& unit : units) {
        unit->started = Clock::now();
        unit->core.onExecute();
        started += unit->core.workerStarted() ? 1 : 0;
    }
    ends.waitFor(started);
    batch.seconds = seconds(Clock::now() - start);

    for (auto& unit : units) {
        unit->core.waitForWorker();
        RunResult r;
        r.seconds = unit->ended > unit->started ? seconds(unit->ended - unit->started) : 0;
        r.writeSeconds = unit->view.writeSeconds();
        r.blocks = unit->device.counters().blocksWritten;
        const emulator::FlashVerdict verdict = unit->device.verdict(emulator::builtInImages());
        r.completed = unit->view.completed() && verdict.ok;
        r.problem = !unit->view.error().empty() ? unit->view.error()
                    : !unit->view.completed()   ? std::string("the run did not complete")
                    : !verdict.ok               ? verdict.summary
                                                : std::string();
        batch.runs.push_back(r);
    }
    return batch;
}

}  // namespace velmora::bench
