#include "cli/FlashCommand.h"

#include <cstdio>
#include <functional>
#include <string>

#include "cli/CConnection.h"
#include "cli/CTerminalView.h"
#include "cli/Console.h"
#include "cli/PortChoice.h"
#include "emulator/FlashVerdict.h"
#include "firmware/FirmwareImages.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora::cli {

namespace {

using namespace std::chrono_literals;

// How often the live line is redrawn while the device says nothing (a long erase).
constexpr auto kRefreshPeriod = 250ms;

// The core, telling the owner's thread when its worker has ended.
class CCommandLineCore : public CUpdateCore {
  public:
    CCommandLineCore(midi::MidiDriver& driver, UpdateView& view, Timing timing, std::function<void()> onEnd)
        : CUpdateCore(driver, view, timing), onEnd_(std::move(onEnd)) {}

    // The worker calls onEnd_, which goes with this part of the object: it must have ended first.
    ~CCommandLineCore() override {
        abort();
        waitForWorker();
    }

    bool workerStarted() const { return workerStarted_; }

  protected:
    bool startWorker(std::function<void()> body) override {
        workerStarted_ = CUpdateCore::startWorker([this, body = std::move(body)] {
            body();
            onEnd_();
        });
        return workerStarted_;
    }

  private:
    const std::function<void()> onEnd_;
    bool workerStarted_ = false;
};

std::string formatSeconds(std::chrono::milliseconds t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(t.count()) / 1000.0);
    return text;
}

std::string portLabel(const std::vector<std::string>& names, int index) {
    return std::to_string(index) + " \"" + printableName(names[static_cast<std::size_t>(index)]) + "\"";
}

// The emulated device's own judgement of its flash, one line; true when it holds what the plan writes.
bool printVerdict(CConnection& connection, const Output& o) {
    const emulator::FlashVerdict verdict = connection.device()->verdict(emulator::builtInImages());
    o.out << "Emulated device: " << verdict.summary << '\n';
    o.out.flush();
    return verdict.ok;
}

}  // namespace

int runList(const Options& options, const Output& o) {
    std::string error;
    const std::unique_ptr<CConnection> connection = CConnection::open(options, error);
    if (!connection) {
        o.err << "velmora-flash: " << error << '\n';
        return kExitUsage;
    }
    o.out << portListing(readPortLists(connection->driver()), options.instance);
    if (carriesStandInImages()) {
        o.out << standInNote();
    }
    return kExitCompleted;
}

int runFlash(const Options& options, const Output& o) {
    // First: every thread started from here on leaves the stop signals to this one.
    CRunWaiter waiter;

    std::string error;
    const std::unique_ptr<CConnection> connection = CConnection::open(options, error);
    if (!connection) {
        o.err << "velmora-flash: " << error << '\n';
        return kExitUsage;
    }
    const PortLists lists = readPortLists(connection->driver());
    // A device path is one port each way, named after the path: nothing to choose.
    const bool onePair = options.source == PortSource::Device;
    const PortChoice in = onePair ? PortChoice{0, {}}
                                  : choosePort(lists.inputs, options.input, options.instance, Direction::In,
                                               lists.inputAddresses);
    const PortChoice out = onePair ? PortChoice{0, {}}
                                   : choosePort(lists.outputs, options.output, options.instance,
                                                Direction::Out, lists.outputAddresses);
    if (!in.ok() || !out.ok()) {
        for (const PortChoice* c : {&in, &out}) {
            if (!c->ok()) {
                o.err << "velmora-flash: " << c->error << '\n';
            }
        }
        return kExitUsage;
    }
    o.out << "MIDI IN " << portLabel(lists.inputs, in.index) << ", MIDI OUT "
          << portLabel(lists.outputs, out.index) << '\n';
    if (connection->device() != nullptr) {
        const std::string scenario = emulator::describeScenario(options.scenario);
        o.out << "Emulated device: " << (scenario.empty() ? "default" : scenario) << '\n';
    }
    o.out.flush();

    CTerminalView view(o.out, o.err, o.live, o.columns);
    view.selectPorts(in.index, out.index);
    const Timing timing = options.timingScale < 1 ? Timing::scaled(options.timingScale) : Timing{};
    CCommandLineCore core(connection->driver(), view, timing, [&waiter] { waiter.notifyEnded(); });
    core.setVerify(options.verify);
    core.startPolling();
    core.onExecute();
    if (!core.workerStarted()) {
        // Execute stopped before the update began; it has said why.
        const std::string message = view.error().value_or("");
        const bool portFailed = message == texts::kCantOpenOut || message == texts::kCantOpenIn;
        const std::string reason = message == texts::kCantOpenOut  ? core.outPort().lastError()
                                   : message == texts::kCantOpenIn ? core.inPort().lastError()
                                                                   : std::string();
        if (!reason.empty()) {
            o.err << "velmora-flash: " << reason << '\n';
        }
        // A stand-in build asked for hardware is refused like a port that cannot be used.
        return portFailed || message == texts::kStandInRefused ? kExitUsage : kExitFailed;
    }

    for (;;) {
        const CRunWaiter::Wake wake = waiter.wait(kRefreshPeriod);
        if (wake == CRunWaiter::Wake::Ended) {
            break;
        }
        if (wake == CRunWaiter::Wake::Interrupted) {
            // As closing the window: ports closed, the worker released and waited for.
            core.abort();
            core.waitForWorker();
            view.endLiveLine(true);
            o.err << "Interrupted: the update was stopped before it completed.\n";
            o.err.flush();
            return kExitInterrupted;
        }
        view.refresh();
    }
    core.waitForWorker();

    const RunReport& run = core.lastRun();
    if (run.result == RunReport::Result::Completed) {
        view.endLiveLine(false);
        if (run.verified) {
            o.out << "Verify: every written region read back and matched (" << formatSeconds(run.verifyTime)
                  << ")\n";
        }
        if (run.endStatus != 0) {
            o.err << "velmora-flash: the device answered the closing request with status " << run.endStatus
                  << "; the update counts as completed\n";
        }
        // The emulated device can say what its flash holds; a real one can only be believed.
        if (connection->device() != nullptr && !printVerdict(*connection, o)) {
            o.err << "velmora-flash: the emulated device's flash does not hold what the update wrote\n";
            return kExitFailed;
        }
        o.out << texts::kCompleted << '\n';
        o.out.flush();
        return kExitCompleted;
    }
    view.endLiveLine(true);
    if (run.message.empty()) {
        // The one failure the window reports by its state alone: the controls come back, no message.
        o.err << "velmora-flash: the update ended before its first step: the device did not return its "
                 "boot-region version\n";
    }
    if (connection->device() != nullptr) {
        printVerdict(*connection, o);
    }
    return kExitFailed;
}

}  // namespace velmora::cli
