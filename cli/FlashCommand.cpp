#include "cli/FlashCommand.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "cli/CConnection.h"
#include "cli/CTerminalView.h"
#include "cli/Console.h"
#include "cli/JsonEvents.h"
#include "cli/PortChoice.h"
#include "cli/TextWidth.h"
#include "emulator/FlashVerdict.h"
#include "emulator/WireModel.h"
#include "firmware/FirmwareImages.h"
#include "i18n/Translate.h"
#include "update/Format.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"
#include "velmora/Version.h"

namespace velmora::cli {

namespace {

using namespace std::chrono_literals;

// How often the live line is redrawn while the device says nothing (a long erase).
constexpr auto kRefreshPeriod = 250ms;

// English in the JSON result's message, translated where a person reads them.
constexpr const char* kNoBootVersion =
    VELMORA_TEXT("velmora-flash",
                 "the update ended before its first step: the device did not return its boot-region version");
constexpr const char* kFlashDiffers =
    VELMORA_TEXT("velmora-flash", "the emulated device's flash does not hold what the update wrote");

std::string shown(const char* text) {
    return i18n::translate("velmora-flash", text);
}

std::string portLabel(const std::vector<std::string>& names, int index) {
    return std::to_string(index) + " \"" + printableQuoted(names[static_cast<std::size_t>(index)]) + "\"";
}

// How one device's run ended, worked out once and then told to people or as JSON.
struct RunOutcome {
    enum class Kind { Completed, DryRun, FlashDiffers, Failed, Interrupted, Refused };
    Kind kind = Kind::Failed;
    int status = kExitFailed;  // the exit status of this device's outcome alone
    std::string message;       // English, as the JSON result carries it; empty when there is none
    std::optional<emulator::FlashVerdict> verdict;  // the emulated device's own judgement of its flash

    // The JSON result's word; the closing table shows it translated.
    const char* word() const {
        return kind == Kind::Completed || kind == Kind::DryRun ? VELMORA_TEXT("velmora-flash", "completed")
               : kind == Kind::Interrupted                     ? VELMORA_TEXT("velmora-flash", "interrupted")
                                                               : VELMORA_TEXT("velmora-flash", "failed");
    }
};

// One device's update: where it is, its view and its core, and how it ended.
struct DeviceRun {
    std::string name;  // its MIDI IN port's name
    DevicePorts ports;
    std::string prefix;  // before each of its lines: its port name when several update at once
    emulator::CEmulatedDevice* emulated = nullptr;
    std::unique_ptr<CTerminalView> terminal;  // without --json
    std::unique_ptr<CJsonView> json;          // with --json
    std::atomic<bool> ended{false};
    Clock::time_point started{};
    Clock::time_point finished{};  // written before `ended`
    RunOutcome outcome;
    std::unique_ptr<CUpdateCore>
        core;  // last: its worker uses the views and writes `ended` until it is joined

    double seconds() const { return std::chrono::duration<double>(finished - started).count(); }
    std::optional<std::uint8_t> model() const {
        const std::uint8_t code = core->replies().reportedDeviceCode();
        return code != 0 ? std::optional<std::uint8_t>(code) : std::nullopt;
    }
    // What the emulated device plays, "" for the default; nothing for a real device.
    std::optional<std::string> scenario() const {
        return emulated != nullptr ? std::optional(emulator::describeScenario(emulated->config().scenario))
                                   : std::nullopt;
    }
    void endLiveLine(bool keep) const {
        if (terminal) {
            terminal->endLiveLine(keep);
        }
    }
};

std::string hexModel(std::optional<std::uint8_t> model) {
    return model ? format("0x%02X", *model) : std::string("-");
}

// The ports of the device to update, or with --all of every device found; false when there is none to use
// (said on `err`).
bool chooseDevices(const Options& options, const PortLists& lists, std::ostream& err,
                   std::vector<DevicePorts>& targets) {
    if (options.all) {
        std::vector<std::string> unpaired;
        targets = findDevices(lists, unpaired);
        for (const std::string& line : unpaired) {
            err << "velmora-flash: " << line << '\n';
        }
        if (targets.empty()) {
            err << "velmora-flash: "
                << i18n::arg(
                       i18n::translate("velmora-flash",
                                       "no device found: no MIDI IN and MIDI OUT pair goes by the names of "
                                       "any copy from 1 to %1 (see --list)"),
                       {std::to_string(texts::kMaxInstances)})
                << '\n';
        }
        return !targets.empty();
    }
    // A device path is one port each way, named after the path: nothing to choose.
    const bool onePair = options.source == PortSource::Device;
    const PortChoice in = onePair ? PortChoice{0, {}}
                                  : choosePort(lists.inputs, options.input, options.instance, Direction::In,
                                               lists.inputAddresses);
    const PortChoice out = onePair ? PortChoice{0, {}}
                                   : choosePort(lists.outputs, options.output, options.instance,
                                                Direction::Out, lists.outputAddresses);
    for (const PortChoice* c : {&in, &out}) {
        if (!c->ok()) {
            err << "velmora-flash: " << c->error << '\n';
        }
    }
    targets = {DevicePorts{options.instance, in.index, out.index}};
    return in.ok() && out.ok();
}

std::string emulatedLine(const std::string& what) {
    return i18n::arg(i18n::translate("velmora-flash", "Emulated device: %1"), {what});
}

void announce(const DeviceRun& d, const PortLists& lists, std::ostream& human) {
    human << d.prefix << "MIDI IN " << portLabel(lists.inputs, d.ports.input) << ", MIDI OUT "
          << portLabel(lists.outputs, d.ports.output) << '\n';
    if (const std::optional<std::string> scenario = d.scenario()) {
        human << d.prefix
              << emulatedLine(scenario->empty() ? i18n::translate("velmora-flash", "default") : *scenario)
              << '\n';
    }
}

nlohmann::json startEvent(const DeviceRun& d, const PortLists& lists, const Options& options) {
    const std::string& out = lists.outputs[static_cast<std::size_t>(d.ports.output)];
    return jsonEvent("start", d.name,
                     {{"schema", kJsonSchema},
                      {"program", "velmora-flash"},
                      {"version", kVersion},
                      {"ports",
                       {{"in", {{"index", d.ports.input}, {"name", d.name}}},
                        {"out", {{"index", d.ports.output}, {"name", out}}}}},
                      {"emulated", orNull(d.scenario())},
                      {"dry_run", options.dryRun},
                      {"verify", options.verify},
                      {"plan", jsonPlan()}});
}

// What an update of this device would do: the steps, the bytes and the time the link model expects.
emulator::ModelTime dryRunModel(const DeviceRun& d) {
    const RunReport& run = d.core->lastRun();
    // Real hardware is a USB-MIDI device; the emulated one says its own link and flash times.
    const emulator::Link link =
        d.emulated != nullptr ? d.emulated->config().scenario.link : emulator::Link::Usb;
    const emulator::FlashTimes flash =
        d.emulated != nullptr ? d.emulated->config().flashTimes : emulator::FlashTimes{};
    return emulator::modelTime(emulator::linkSpeed(link), flash, run.bootRegionSkipped);
}

void printDryRun(const DeviceRun& d, std::ostream& human) {
    const emulator::ModelTime m = dryRunModel(d);
    const bool skipped = d.core->lastRun().bootRegionSkipped;
    human << d.prefix
          << i18n::arg(skipped
                           ? i18n::translate("velmora-flash",
                                             "Dry run: device model %1, boot region already current: steps 4 "
                                             "and 5 would be skipped")
                           : i18n::translate("velmora-flash",
                                             "Dry run: device model %1, boot region would be written"),
                       {hexModel(d.model())})
          << '\n';
    for (int n = 1; n <= kFlashPlanSteps; ++n) {
        const FlashStep& row = FlashPlan[static_cast<std::size_t>(n - 1)];
        human << d.prefix << stepLine(n, row, skipped && inBootRegion(row)) << '\n';
    }
    human << d.prefix
          << i18n::arg(
                 i18n::translate("velmora-flash",
                                 "Would send %1 bytes in %2 messages; the link and flash model expects %3 s"),
                 {std::to_string(m.bytesToDevice), std::to_string(m.messagesToDevice),
                  format("%.1f", m.totalSeconds())})
          << '\n'
          << d.prefix << i18n::translate("velmora-flash", "Dry run: nothing was begun, erased or written.")
          << '\n';
}

// How the run of `d` ended, from its core's report and, for an emulated device, the device's own judgement.
RunOutcome outcomeOf(const DeviceRun& d, const Options& options, bool interrupted) {
    using Kind = RunOutcome::Kind;
    const RunReport& run = d.core->lastRun();
    const bool completed = run.result == RunReport::Result::Completed;
    RunOutcome o{Kind::Failed, kExitFailed, run.message, std::nullopt};
    if (interrupted && run.result == RunReport::Result::Aborted) {
        o.kind = Kind::Interrupted;
        o.status = kExitInterrupted;
    } else if (!d.core->workerStarted()) {
        // Execute stopped before the update began. A stand-in build asked for hardware is refused like a
        // port that cannot be used.
        o.kind = Kind::Refused;
        if (run.message == texts::kCantOpenOut || run.message == texts::kCantOpenIn ||
            run.message == texts::kStandInRefused) {
            o.status = kExitUsage;
        }
    } else if (completed && options.dryRun) {
        o.kind = Kind::DryRun;
        o.status = kExitCompleted;
    } else {
        // The emulated device can say what its flash holds; a real one can only be believed.
        if (d.emulated != nullptr) {
            o.verdict = d.emulated->verdict(emulator::builtInImages());
        }
        const bool holdsPlan = !o.verdict || o.verdict->ok;
        o.kind = !completed ? Kind::Failed : holdsPlan ? Kind::Completed : Kind::FlashDiffers;
        o.status = o.kind == Kind::Completed ? kExitCompleted : kExitFailed;
    }
    if (o.message.empty() && o.status != kExitCompleted && o.status != kExitInterrupted) {
        o.message = completed ? kFlashDiffers : kNoBootVersion;
    }
    return o;
}

// The outcome for people, as the single-device program has always told it.
void tell(const DeviceRun& d, bool json, std::ostream& human, std::ostream& err) {
    using Kind = RunOutcome::Kind;
    const RunOutcome& o = d.outcome;
    const RunReport& run = d.core->lastRun();
    const std::string& p = d.prefix;
    const auto complain = [&err, &p](const std::string& text) {
        err << p << "velmora-flash: " << text << '\n';
    };
    switch (o.kind) {
        case Kind::Interrupted:
            d.endLiveLine(true);
            err << p
                << i18n::translate("velmora-flash",
                                   "Interrupted: the update was stopped before it completed.")
                << '\n';
            return;
        case Kind::Refused: {
            // Execute has said why; a port that could not be opened says more.
            const std::string reason = run.message == texts::kCantOpenOut  ? d.core->outPort().lastError()
                                       : run.message == texts::kCantOpenIn ? d.core->inPort().lastError()
                                                                           : std::string();
            if (!reason.empty()) {
                complain(reason);
            }
            if (json) {
                err << p << run.shownMessage << '\n';
            }
            return;
        }
        case Kind::DryRun:
            d.endLiveLine(false);
            printDryRun(d, human);
            return;
        case Kind::Failed:
            d.endLiveLine(true);
            if (json && !run.message.empty()) {
                err << p << run.shownMessage << '\n';  // the terminal view has shown its error box already
            }
            if (run.message.empty()) {
                // The one failure the window reports by its state alone: the controls come back, no message.
                complain(shown(kNoBootVersion));
            }
            break;
        case Kind::Completed:
        case Kind::FlashDiffers:
            d.endLiveLine(false);
            if (run.verified) {
                human << p
                      << i18n::arg(i18n::translate("velmora-flash",
                                                   "Verify: every written region read back and matched (%1)"),
                                   {format("%.1f s", static_cast<double>(run.verifyTime.count()) / 1000.0)})
                      << '\n';
            }
            if (run.endStatus != 0) {
                complain(i18n::arg(i18n::translate("velmora-flash",
                                                   "the device answered the closing request with status "
                                                   "%1; the update counts as completed"),
                                   {std::to_string(run.endStatus)}));
            }
            break;
    }
    if (o.verdict) {
        human << p << emulatedLine(o.verdict->summary) << '\n';
        human.flush();
    }
    if (o.kind == Kind::FlashDiffers) {
        complain(shown(kFlashDiffers));
    } else if (o.kind == Kind::Completed) {
        human << p << texts::shown(texts::kCompleted) << '\n';
        human.flush();
    }
}

// The outcome as JSON: the verify and dry-run events where there is one, then the result.
void emitOutcome(CJsonSink& sink, const DeviceRun& d) {
    const RunReport& run = d.core->lastRun();
    const RunOutcome& o = d.outcome;
    if (run.verifyStarted) {
        const nlohmann::json seconds =
            run.verified ? nlohmann::json(run.verifyTime.count() / 1000.0) : nullptr;
        sink.emit(jsonEvent("verify", d.name, {{"passed", run.verified}, {"seconds", seconds}}));
    }
    if (o.kind == RunOutcome::Kind::DryRun) {
        const emulator::ModelTime m = dryRunModel(d);
        sink.emit(jsonEvent("dry-run", d.name,
                            {{"boot_region_skipped", run.bootRegionSkipped},
                             {"bytes_to_send", m.bytesToDevice},
                             {"messages_to_send", m.messagesToDevice},
                             {"expected_seconds", std::round(m.totalSeconds() * 10) / 10}}));
    }
    const nlohmann::json message = o.message.empty() ? nlohmann::json() : nlohmann::json(o.message);
    sink.emit(jsonEvent("result", d.name,
                        {{"outcome", o.word()},
                         {"message", message},
                         {"exit_status", o.status},
                         {"seconds", std::round(d.seconds() * 1000) / 1000},
                         {"model", orNull(d.model())},
                         {"bytes_written", run.bytesWritten},
                         {"resends", run.resends}}));
}

// After --all: one row per device. Columns are measured on the terminal, where a Japanese character takes
// two.
std::string closingTable(const std::vector<std::unique_ptr<DeviceRun>>& runs) {
    using Row = std::array<std::string, 5>;
    std::vector<Row> rows = {
        {i18n::translate("velmora-flash", "Device"), i18n::translate("velmora-flash", "Model"),
         i18n::translate("velmora-flash", "Outcome"), i18n::translate("velmora-flash", "Seconds"),
         i18n::translate("velmora-flash", "Resends")}};
    for (const auto& d : runs) {
        rows.push_back({printableName(d->name), hexModel(d->model()), shown(d->outcome.word()),
                        format("%.1f", d->seconds()), std::to_string(d->core->lastRun().resends)});
    }
    // The narrowest each column may be: as wide as the English table always was.
    std::array<std::size_t, 5> widths = {6, 5, 11, 7, 7};
    for (const Row& row : rows) {
        for (std::size_t c = 0; c < row.size(); ++c) {
            widths[c] = std::max(widths[c], displayWidth(row[c]));
        }
    }
    std::string table = "\n";
    for (const Row& row : rows) {
        table += padWidth(row[0], widths[0]) + "  " + padWidth(row[1], widths[1]) + "  " +
                 padWidth(row[2], widths[2]);
        for (std::size_t c = 3; c < row.size(); ++c) {  // numbers, right-aligned
            table += "  " + std::string(widths[c] - displayWidth(row[c]), ' ') + row[c];
        }
        table += '\n';
    }
    return table;
}

// Output that could not be written (a full disk, /dev/full) is said once on standard error; true then. A
// reader that went away did not want the rest: nothing to say.
bool outputLost(const Output& o) {
    o.out.flush();
    if (o.out.good() || (o.readerGone != nullptr && o.readerGone())) {
        return false;
    }
    o.err << "velmora-flash: "
          << i18n::translate("velmora-flash",
                             "standard output could not be written: what was meant for it is lost")
          << '\n';
    return true;
}

// Every device's view and core, each update started; a device refused at Execute has ended already.
void startRuns(const std::vector<std::unique_ptr<DeviceRun>>& runs, CConnection& connection, CJsonSink* sink,
               const Options& options, const Output& o, bool live, CRunWaiter& waiter) {
    const Timing timing = options.timingScale < 1 ? Timing::scaled(options.timingScale) : Timing{};
    for (const auto& d : runs) {
        UpdateView* view = nullptr;
        if (sink != nullptr) {
            d->json = std::make_unique<CJsonView>(*sink, d->name, d->ports.input, d->ports.output);
            view = d->json.get();
        } else {
            d->terminal = std::make_unique<CTerminalView>(o.out, o.err, live, o.columns);
            d->terminal->selectPorts(d->ports.input, d->ports.output);
            d->terminal->setPrefix(d->prefix);
            view = d->terminal.get();
        }
        DeviceRun& run = *d;
        d->core = std::make_unique<CUpdateCore>(connection.driver(), *view, timing);
        d->core->setOnWorkerEnded([&run, &waiter] {
            run.finished = Clock::now();
            run.ended.store(true);
            waiter.notifyEnded();
        });
        d->core->setVerify(options.verify);
        d->core->setDryRun(options.dryRun);
        d->started = Clock::now();
        d->core->startPolling();
        d->core->onExecute();
        if (!d->core->workerStarted()) {
            d->finished = Clock::now();
            d->ended.store(true);
        }
    }
}

// Waits until every update has ended, keeping the live line moving; true when a stop signal came first.
bool waitForRuns(const std::vector<std::unique_ptr<DeviceRun>>& runs, bool live, CRunWaiter& waiter) {
    bool interrupted = false;
    const auto allEnded = [&runs] {
        return std::all_of(runs.begin(), runs.end(), [](const auto& d) { return d->ended.load(); });
    };
    while (!allEnded()) {
        if (waiter.wait(kRefreshPeriod) == CRunWaiter::Wake::Interrupted) {
            // As closing the window: every device's ports closed, every worker released and waited for.
            interrupted = true;
            for (const auto& d : runs) {
                d->core->abort();
            }
            break;
        }
        if (live) {
            runs.front()->terminal->refresh();
        }
    }
    for (const auto& d : runs) {
        d->core->waitForWorker();
    }
    return interrupted;
}

// Devices that all ended alike (completed, refused as unusable) give their status; otherwise any
// interruption, then any failure, decides.
int programStatus(const std::vector<std::unique_ptr<DeviceRun>>& runs) {
    const int first = runs.front()->outcome.status;
    const auto any = [&runs](auto test) { return std::any_of(runs.begin(), runs.end(), test); };
    if (!any([first](const auto& d) { return d->outcome.status != first; })) {
        return first;
    }
    return any([](const auto& d) { return d->outcome.status == kExitInterrupted; }) ? kExitInterrupted
                                                                                    : kExitFailed;
}

// The driver the options choose; nullptr, said on `err`, when there is nothing to connect to.
std::unique_ptr<CConnection> openConnection(const Options& options, std::ostream& err) {
    std::string error;
    std::unique_ptr<CConnection> connection = CConnection::open(options, error);
    if (!connection) {
        err << "velmora-flash: " << error << '\n';
    }
    return connection;
}

}  // namespace

int runList(const Options& options, const Output& o) {
    const std::unique_ptr<CConnection> connection = openConnection(options, o.err);
    if (!connection) {
        return kExitUsage;
    }
    o.out << portListing(readPortLists(connection->driver()), options.instance);
    if (carriesStandInImages()) {
        o.out << standInNote();
    }
    return outputLost(o) ? kExitFailed : kExitCompleted;
}

int runFlash(const Options& options, const Output& o) {
    // First: every thread started from here on leaves the stop signals to this one.
    CRunWaiter waiter;

    const std::unique_ptr<CConnection> connection = openConnection(options, o.err);
    if (!connection) {
        return kExitUsage;
    }
    const PortLists lists = readPortLists(connection->driver());
    std::vector<DevicePorts> targets;
    if (!chooseDevices(options, lists, o.err, targets)) {
        return kExitUsage;
    }
    // With --json, standard output is nothing but events.
    std::ostream& human = options.json ? o.err : o.out;
    std::optional<CJsonSink> sink;
    if (options.json) {
        sink.emplace(o.out);
    }

    std::vector<std::unique_ptr<DeviceRun>> runs;
    for (const DevicePorts& t : targets) {
        auto d = std::make_unique<DeviceRun>();
        d->name = lists.inputs[static_cast<std::size_t>(t.input)];
        d->ports = t;
        d->prefix = options.all ? printableName(d->name) + ": " : std::string();
        d->emulated = connection->device(d->name);
        announce(*d, lists, human);
        if (sink) {
            sink->emit(startEvent(*d, lists, options));
        }
        runs.push_back(std::move(d));
    }
    human.flush();

    // A live line only for one device on a terminal; several at once write whole lines.
    const bool live = o.live && !options.all && !options.json;
    startRuns(runs, *connection, sink ? &*sink : nullptr, options, o, live, waiter);
    const bool interrupted = waitForRuns(runs, live, waiter);
    for (const auto& d : runs) {
        d->outcome = outcomeOf(*d, options, interrupted);
        tell(*d, options.json, human, o.err);
        if (sink) {
            emitOutcome(*sink, *d);
        }
    }
    if (options.all) {
        human << closingTable(runs);
        human.flush();
    }
    // The device came first: the update ran to its end whatever became of its output, and its status stands.
    outputLost(o);
    return programStatus(runs);
}

int runProgram(const std::vector<std::string>& args, const Output& output) {
    const ParsedArguments parsed = parseArguments(args);
    if (!parsed.ok()) {
        output.err << "velmora-flash: " << parsed.error << '\n'
                   << i18n::translate("velmora-flash", "Try 'velmora-flash --help'.") << '\n';
        return kExitUsage;
    }
    switch (parsed.options.command) {
        case Command::Help:
            output.out << helpText("velmora-flash");
            return outputLost(output) ? kExitFailed : kExitCompleted;
        case Command::Version:
            output.out << versionText("velmora-flash");
            return outputLost(output) ? kExitFailed : kExitCompleted;
        case Command::List:
            return runList(parsed.options, output);
        case Command::Flash:
            break;
    }
    return runFlash(parsed.options, output);
}

}  // namespace velmora::cli
