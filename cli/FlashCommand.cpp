#include "cli/FlashCommand.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
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
#include "update/Texts.h"
#include "update/UpdateCore.h"
#include "velmora/Version.h"

namespace velmora::cli {

namespace {

using namespace std::chrono_literals;

// How often the live line is redrawn while the device says nothing (a long erase).
constexpr auto kRefreshPeriod = 250ms;

std::string formatSeconds(std::chrono::milliseconds t) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(t.count()) / 1000.0);
    return text;
}

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
    int status = kExitFailed;      // the exit status of this device's outcome alone
    const char* outcome = "failed";
    std::unique_ptr<CUpdateCore>
        core;  // last: its worker uses the views and writes `ended` until it is joined

    double seconds() const { return std::chrono::duration<double>(finished - started).count(); }
    std::optional<std::uint8_t> model() const {
        const std::uint8_t code = core->replies().reportedDeviceCode();
        return code != 0 ? std::optional<std::uint8_t>(code) : std::nullopt;
    }
};

std::string hexModel(std::optional<std::uint8_t> model) {
    char text[8] = "-";
    if (model) {
        std::snprintf(text, sizeof text, "0x%02X", *model);
    }
    return text;
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

void announce(const DeviceRun& d, const PortLists& lists, std::ostream& human) {
    human << d.prefix << "MIDI IN " << portLabel(lists.inputs, d.ports.input) << ", MIDI OUT "
          << portLabel(lists.outputs, d.ports.output) << '\n';
    if (d.emulated != nullptr) {
        const std::string scenario = emulator::describeScenario(d.emulated->config().scenario);
        human << d.prefix
              << i18n::arg(i18n::translate("velmora-flash", "Emulated device: %1"),
                           {scenario.empty() ? i18n::translate("velmora-flash", "default") : scenario})
              << '\n';
    }
}

// The emulated device's own judgement of its flash, one line; true when it holds what the plan writes.
bool printVerdict(const DeviceRun& d, std::ostream& human) {
    const emulator::FlashVerdict verdict = d.emulated->verdict(emulator::builtInImages());
    human << d.prefix << i18n::arg(i18n::translate("velmora-flash", "Emulated device: %1"), {verdict.summary})
          << '\n';
    human.flush();
    return verdict.ok;
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

void printDryRun(const DeviceRun& d, const emulator::ModelTime& m, std::ostream& human) {
    const bool skipped = d.core->lastRun().bootRegionSkipped;
    const std::string model = hexModel(d.model());
    human << d.prefix
          << i18n::arg(skipped
                           ? i18n::translate("velmora-flash",
                                             "Dry run: device model %1, boot region already current: steps 4 "
                                             "and 5 would be skipped")
                           : i18n::translate("velmora-flash",
                                             "Dry run: device model %1, boot region would be written"),
                       {model})
          << '\n';
    for (int n = 1; n <= kFlashPlanSteps; ++n) {
        const FlashStep& row = FlashPlan[static_cast<std::size_t>(n - 1)];
        human << d.prefix << stepLine(n, row, skipped && row.address == 0) << '\n';
    }
    char expected[32];
    std::snprintf(expected, sizeof expected, "%.1f", m.totalSeconds());
    human << d.prefix
          << i18n::arg(
                 i18n::translate("velmora-flash",
                                 "Would send %1 bytes in %2 messages; the link and flash model expects %3 s"),
                 {std::to_string(m.bytesToDevice), std::to_string(m.messagesToDevice), expected})
          << '\n'
          << d.prefix << i18n::translate("velmora-flash", "Dry run: nothing was begun, erased or written.")
          << '\n';
}

// The outcome of one device's run, told as the single-device program always has; returns its exit status.
int conclude(DeviceRun& d, const Options& options, bool interrupted, std::ostream& human, std::ostream& err) {
    const RunReport& run = d.core->lastRun();
    const std::string& p = d.prefix;
    if (interrupted && run.result == RunReport::Result::Aborted) {
        d.outcome = "interrupted";
        if (d.terminal) {
            d.terminal->endLiveLine(true);
        }
        err << p
            << i18n::translate("velmora-flash", "Interrupted: the update was stopped before it completed.")
            << '\n';
        return kExitInterrupted;
    }
    if (!d.core->workerStarted()) {
        // Execute stopped before the update began; it has said why.
        const bool portFailed = run.message == texts::kCantOpenOut || run.message == texts::kCantOpenIn;
        const std::string reason = run.message == texts::kCantOpenOut  ? d.core->outPort().lastError()
                                   : run.message == texts::kCantOpenIn ? d.core->inPort().lastError()
                                                                       : std::string();
        if (!reason.empty()) {
            err << p << "velmora-flash: " << reason << '\n';
        }
        if (d.json) {
            err << p << run.shownMessage << '\n';
        }
        // A stand-in build asked for hardware is refused like a port that cannot be used.
        return portFailed || run.message == texts::kStandInRefused ? kExitUsage : kExitFailed;
    }
    if (run.result == RunReport::Result::Completed) {
        if (d.terminal) {
            d.terminal->endLiveLine(false);
        }
        if (options.dryRun) {
            printDryRun(d, dryRunModel(d), human);
            d.outcome = "completed";
            return kExitCompleted;
        }
        if (run.verified) {
            human << p
                  << i18n::arg(i18n::translate("velmora-flash",
                                               "Verify: every written region read back and matched (%1)"),
                               {formatSeconds(run.verifyTime)})
                  << '\n';
        }
        if (run.endStatus != 0) {
            err << p << "velmora-flash: "
                << i18n::arg(i18n::translate("velmora-flash",
                                             "the device answered the closing request with status "
                                             "%1; the update counts as completed"),
                             {std::to_string(run.endStatus)})
                << '\n';
        }
        // The emulated device can say what its flash holds; a real one can only be believed.
        if (d.emulated != nullptr && !printVerdict(d, human)) {
            err << p << "velmora-flash: " << shown(kFlashDiffers) << '\n';
            return kExitFailed;
        }
        human << p << texts::shown(texts::kCompleted) << '\n';
        human.flush();
        d.outcome = "completed";
        return kExitCompleted;
    }
    if (d.terminal) {
        d.terminal->endLiveLine(true);
    } else if (!run.message.empty()) {
        err << p << run.shownMessage << '\n';  // the terminal view has shown its error box already
    }
    if (run.message.empty()) {
        // The one failure the window reports by its state alone: the controls come back, no message.
        err << p << "velmora-flash: " << shown(kNoBootVersion) << '\n';
    }
    if (d.emulated != nullptr) {
        printVerdict(d, human);
    }
    return kExitFailed;
}

void emitResult(CJsonSink& sink, const DeviceRun& d, const Options& options) {
    const RunReport& run = d.core->lastRun();
    const std::optional<std::uint8_t> model = d.model();
    if (run.verifyStarted) {
        nlohmann::json verify = jsonEvent("verify", d.name);
        verify.update(
            {{"passed", run.verified},
             {"seconds", run.verified ? nlohmann::json(run.verifyTime.count() / 1000.0) : nlohmann::json()}});
        sink.emit(std::move(verify));
    }
    if (options.dryRun && d.status == kExitCompleted) {
        const emulator::ModelTime m = dryRunModel(d);
        nlohmann::json plan = jsonEvent("dry-run", d.name);
        plan.update({{"boot_region_skipped", run.bootRegionSkipped},
                     {"bytes_to_send", m.bytesToDevice},
                     {"messages_to_send", m.messagesToDevice},
                     {"expected_seconds", std::round(m.totalSeconds() * 10) / 10}});
        sink.emit(std::move(plan));
    }
    std::string message = run.message;
    if (message.empty() && d.status != kExitCompleted && d.status != kExitInterrupted) {
        message = run.result == RunReport::Result::Completed ? kFlashDiffers : kNoBootVersion;
    }
    nlohmann::json result = jsonEvent("result", d.name);
    result.update({{"outcome", d.outcome},
                   {"message", message.empty() ? nlohmann::json() : nlohmann::json(message)},
                   {"exit_status", d.status},
                   {"seconds", std::round(d.seconds() * 1000) / 1000},
                   {"model", model ? nlohmann::json(*model) : nlohmann::json()},
                   {"bytes_written", run.bytesWritten},
                   {"resends", run.resends}});
    sink.emit(std::move(result));
}

// An outcome as the closing table shows it; the JSON result keeps the English word.
std::string shownOutcome(const char* outcome) {
    const std::string_view o(outcome);
    return o == "completed"     ? i18n::translate("velmora-flash", "completed")
           : o == "interrupted" ? i18n::translate("velmora-flash", "interrupted")
                                : i18n::translate("velmora-flash", "failed");
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
        char seconds[16];
        std::snprintf(seconds, sizeof seconds, "%.1f", d->seconds());
        rows.push_back({printableName(d->name), hexModel(d->model()), shownOutcome(d->outcome), seconds,
                        std::to_string(d->core->lastRun().resends)});
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
    return outputLost(o) ? kExitFailed : kExitCompleted;
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
            nlohmann::json start = jsonEvent("start", d->name);
            start.update(
                {{"schema", kJsonSchema},
                 {"program", "velmora-flash"},
                 {"version", kVersion},
                 {"ports",
                  {{"in", {{"index", t.input}, {"name", d->name}}},
                   {"out",
                    {{"index", t.output}, {"name", lists.outputs[static_cast<std::size_t>(t.output)]}}}}},
                 {"emulated", d->emulated
                                  ? nlohmann::json(emulator::describeScenario(d->emulated->config().scenario))
                                  : nlohmann::json()},
                 {"dry_run", options.dryRun},
                 {"verify", options.verify},
                 {"plan", jsonPlan()}});
            sink->emit(std::move(start));
        }
        runs.push_back(std::move(d));
    }
    human.flush();

    const Timing timing = options.timingScale < 1 ? Timing::scaled(options.timingScale) : Timing{};
    // A live line only for one device on a terminal; several at once write whole lines.
    const bool live = o.live && !options.all && !options.json;
    for (const auto& d : runs) {
        UpdateView* view = nullptr;
        if (sink) {
            d->json = std::make_unique<CJsonView>(*sink, d->name, d->ports.input, d->ports.output);
            view = d->json.get();
        } else {
            d->terminal = std::make_unique<CTerminalView>(o.out, o.err, live, o.columns);
            d->terminal->selectPorts(d->ports.input, d->ports.output);
            d->terminal->setPrefix(d->prefix);
            view = d->terminal.get();
        }
        DeviceRun& run = *d;
        d->core = std::make_unique<CUpdateCore>(connection->driver(), *view, timing);
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

    for (const auto& d : runs) {
        d->status = conclude(*d, options, interrupted, human, o.err);
        if (sink) {
            emitResult(*sink, *d, options);
        }
    }
    if (options.all) {
        human << closingTable(runs);
        human.flush();
    }
    // The device came first: the update ran to its end whatever became of its output, and its status stands.
    outputLost(o);
    // Devices that all ended alike (completed, refused as unusable) give their status; otherwise any
    // interruption, then any failure, decides.
    const int first = runs.front()->status;
    if (std::all_of(runs.begin(), runs.end(), [first](const auto& d) { return d->status == first; })) {
        return first;
    }
    const bool anyInterrupted =
        std::any_of(runs.begin(), runs.end(), [](const auto& d) { return d->status == kExitInterrupted; });
    return anyInterrupted ? kExitInterrupted : kExitFailed;
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
