#include "cli/Options.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <set>

#include "cli/PortChoice.h"
#include "firmware/FirmwareImages.h"
#include "i18n/Translate.h"
#include "update/Texts.h"
#include "velmora/Version.h"

namespace velmora::cli {

namespace {

// "--name=value" or "--name value"; `next` advances past a value taken from the following argument.
std::optional<std::string> takeValue(const std::vector<std::string>& args, std::size_t& next,
                                     std::string_view arg, std::string_view name) {
    if (arg.size() > name.size() && arg[name.size()] == '=') {
        return std::string(arg.substr(name.size() + 1));
    }
    if (next < args.size()) {
        return args[next++];
    }
    return std::nullopt;
}

bool matches(std::string_view arg, std::string_view name) {
    return arg == name ||
           (arg.size() > name.size() && arg.substr(0, name.size()) == name && arg[name.size()] == '=');
}

std::optional<int> parseInt(const std::string& text) {
    int value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) {
        return std::nullopt;
    }
    return value;
}

// A copy's number, 1 to the most copies that may run; nothing for anything else.
std::optional<int> copyNumber(const std::string& text) {
    const std::optional<int> n = parseInt(text);
    return n && *n >= 1 && *n <= texts::kMaxInstances ? n : std::nullopt;
}

// "--instance takes a number from 1 to 20, not "x"", for any option that takes a copy's number.
std::string outOfRange(std::string_view option, const std::string& value) {
    return i18n::arg(i18n::translate("velmora-flash", "%1 takes a number from 1 to %2, not \"%3\""),
                     {option, std::to_string(texts::kMaxInstances), printableQuoted(value)});
}

std::string givenTwice(std::string_view option) {
    return i18n::arg(i18n::translate("velmora-flash", "%1 given twice"), {option});
}

std::optional<double> parseDouble(const std::string& text) {
    double value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::string copyOption(std::string_view option, const std::string& value, int& into) {
    const std::optional<int> n = copyNumber(value);
    if (!n) {
        return outOfRange(option, value);
    }
    into = *n;
    return {};
}

}  // namespace

struct Parsing {
    Options& o;
    std::set<std::string_view> given;  // the table's names
    bool emulateAll = false;           // --emulate without "@K"
};

namespace {

// The scenario is optional, so it is only ever taken from "--emulate=...".
std::string applyEmulate(Parsing& p, const std::string& value) {
    std::string text = value;
    int device = 0;  // 0: every emulated device
    if (const std::size_t at = text.rfind('@'); at != std::string::npos) {
        const std::optional<int> k = copyNumber(text.substr(at + 1));
        if (!k) {
            return i18n::arg(
                i18n::translate("velmora-flash", "%1 takes a device number K from 1 to %2, not \"%3\""),
                {"--emulate=SCENARIO@K", std::to_string(texts::kMaxInstances),
                 printableQuoted(text.substr(at + 1))});
        }
        device = *k;
        text.resize(at);
    }
    if (device == 0 ? p.emulateAll : p.o.deviceScenarios.count(device) != 0) {
        return givenTwice(device == 0 ? std::string("--emulate") : "--emulate=...@" + std::to_string(device));
    }
    const emulator::ScenarioParse parsed = emulator::parseScenario(text);
    if (!parsed.ok()) {
        return "--emulate: " + printableName(parsed.error);
    }
    (device == 0 ? p.o.scenario : p.o.deviceScenarios[device]) = parsed.scenario;
    p.emulateAll = p.emulateAll || device == 0;
    p.o.source = PortSource::Emulated;
    return {};
}

std::string applyTimingScale(Parsing& p, const std::string& value) {
    const std::optional<double> f = parseDouble(value);
    if (!f || *f < kSmallestTimingScale || *f > 1) {
        char smallest[16];
        std::snprintf(smallest, sizeof smallest, "%g", kSmallestTimingScale);
        return i18n::arg(
            i18n::translate("velmora-flash", "--timing-scale takes a factor from %1 to 1, not \"%2\""),
            {smallest, printableQuoted(value)});
    }
    p.o.timingScale = *f;
    return {};
}

// A flag sets its member of Options.
template <bool Options::*member>
std::string setFlag(Parsing& p, const std::string&) {
    p.o.*member = true;
    return {};
}

const OptionRow kOptions[] = {
    {.name = "--in",
     .usage = "--in NAME|NUMBER",
     .takes = Takes::Value,
     .help = VELMORA_TEXT("velmora-flash",
                          "the MIDI IN port, by its exact name, its number in --list or its\n"
                          "address there (hw:C,D,S on ALSA)"),
     .apply =
         [](Parsing& p, const std::string& v) {
             p.o.input = v;
             return std::string();
         }},
    {.name = "--out",
     .usage = "--out NAME|NUMBER",
     .takes = Takes::Value,
     .help = VELMORA_TEXT("velmora-flash", "the MIDI OUT port, the same way"),
     .apply =
         [](Parsing& p, const std::string& v) {
             p.o.output = v;
             return std::string();
         }},
    {.name = "--device",
     .usage = "--device PATH",
     .takes = Takes::Value,
     .help = VELMORA_TEXT("velmora-flash",
                          "a raw MIDI byte stream (tty, pty, /dev/snd/midiC*D*), both directions"),
     .apply =
         [](Parsing& p, const std::string& v) {
             p.o.source = PortSource::Device;
             p.o.devicePath = v;
             return std::string();
         }},
    {.name = "--emulate",
     .usage = "--emulate[=SCENARIO]",
     .takes = Takes::OptionalValue,
     .help =
         VELMORA_TEXT("velmora-flash", "the built-in emulated device instead of hardware; SCENARIO below"),
     .apply = applyEmulate},
    {.name = "--instance",
     .usage = "--instance N",
     .takes = Takes::Value,
     .help = VELMORA_TEXT("velmora-flash",
                          "look for the names copy N of the updater looks for: from 2 on, each name\n"
                          "followed by \" (N)\" (1 to 20, default 1)"),
     .apply = [](Parsing& p, const std::string& v) { return copyOption("--instance", v, p.o.instance); }},
    {.name = "--all",
     .usage = "--all",
     .help = VELMORA_TEXT("velmora-flash",
                          "every device at once: each MIDI IN and MIDI OUT pair that one of the 20\n"
                          "copies of the updater would pre-select; lines start with the device's port\n"
                          "name, and a table of outcomes ends the output"),
     .apply = setFlag<&Options::all>},
    {.name = "--emulated-devices",
     .usage = "--emulated-devices N",
     .takes = Takes::Value,
     .help = VELMORA_TEXT("velmora-flash",
                          "with --emulate: N emulated devices (1 to 20), named for copies 1 to N"),
     .apply = [](Parsing& p,
                 const std::string& v) { return copyOption("--emulated-devices", v, p.o.emulatedDevices); }},
    // The same option as --emulate, described on its own line.
    {.name = "--emulate",
     .usage = "--emulate=SCENARIO@K",
     .takes = Takes::OptionalValue,
     .help = VELMORA_TEXT("velmora-flash",
                          "SCENARIO for emulated device K only; may be given once per device, beside\n"
                          "one --emulate[=SCENARIO] for the others")},
    {.name = "--list",
     .usage = "--list",
     .help = VELMORA_TEXT("velmora-flash",
                          "number the MIDI IN and MIDI OUT ports and mark the pre-selected ones"),
     .other = true,
     .apply =
         [](Parsing& p, const std::string&) {
             p.o.command = Command::List;
             return std::string();
         }},
    {.name = "--dry-run",
     .usage = "--dry-run",
     .help = VELMORA_TEXT("velmora-flash",
                          "identify the device and read its boot version, then say what an update\n"
                          "would do (steps, bytes, expected time); nothing is begun, erased or written"),
     .other = true,
     .apply = setFlag<&Options::dryRun>},
    {.name = "--json",
     .usage = "--json",
     .help = VELMORA_TEXT("velmora-flash",
                          "JSON Lines events on standard output (docs/json-events.md); the lines\n"
                          "meant for people go to standard error"),
     .other = true,
     .apply = setFlag<&Options::json>},
    {.name = "--verify",
     .usage = "--verify",
     .help = VELMORA_TEXT("velmora-flash",
                          "after the last write, read every written region back (4 KiB reads) and\n"
                          "compare it with the images; a difference fails the update, naming the\n"
                          "image and the first differing address. Needs a device that answers reads\n"
                          "of 4 KiB; one that does not makes the update fail, never pass"),
     .other = true,
     .apply = setFlag<&Options::verify>},
    {.name = "--timing-scale",
     .usage = "--timing-scale F",
     .takes = Takes::Value,
     .help = VELMORA_TEXT("velmora-flash",
                          "test aid, with --emulate only: every protocol time, and the emulated\n"
                          "device's times, multiplied by F (0.01 <= F <= 1)"),
     .other = true,
     .apply = applyTimingScale},
    {.name = "--help",
     .usage = "-h, --help",
     .help = VELMORA_TEXT("velmora-flash", "this text"),
     .other = true},
    {.name = "--version",
     .usage = "--version",
     .help = VELMORA_TEXT("velmora-flash", "the program's version"),
     .other = true},
};

// Texts more than one pair of options is refused with.
constexpr const char* kOwnPorts =
    VELMORA_TEXT("velmora-flash", "%1 brings its own two ports; --in and --out choose among the platform's");
constexpr const char* kAllOrOnePort =
    VELMORA_TEXT("velmora-flash", "--all updates every device it finds; --in and --out choose one");
constexpr const char* kListNoPorts =
    VELMORA_TEXT("velmora-flash", "--list shows the ports; --in and --out choose one for an update");
constexpr const char* kListNoUpdate =
    VELMORA_TEXT("velmora-flash", "%1 belongs to an update; --list runs none");

// In the order they are checked: when several apply, the first is said.
const OptionRule kRules[] = {
    {"--emulated-devices", "--emulate", OptionRule::Needs,
     VELMORA_TEXT("velmora-flash",
                  "--emulated-devices sets how many devices --emulate shows: use it with --emulate")},
    {"--all", "--in", OptionRule::Excludes, kAllOrOnePort},
    {"--all", "--out", OptionRule::Excludes, kAllOrOnePort},
    {"--all", "--instance", OptionRule::Excludes,
     VELMORA_TEXT("velmora-flash", "--all looks for the names of every copy; --instance chooses one copy's")},
    {"--all", "--device", OptionRule::Excludes,
     VELMORA_TEXT("velmora-flash", "--all updates every device on the MIDI ports; --device is one device")},
    {"--dry-run", "--verify", OptionRule::Excludes,
     VELMORA_TEXT("velmora-flash", "--dry-run writes nothing, so --verify has nothing to read back")},
    {"--all", "--list", OptionRule::Excludes, kListNoUpdate},
    {"--dry-run", "--list", OptionRule::Excludes, kListNoUpdate},
    {"--json", "--list", OptionRule::Excludes, kListNoUpdate},
    {"--device", "--emulate", OptionRule::Excludes,
     VELMORA_TEXT("velmora-flash", "--device and --emulate exclude each other")},
    {"--device", "--in", OptionRule::Excludes, kOwnPorts},
    {"--device", "--out", OptionRule::Excludes, kOwnPorts},
    {"--emulate", "--in", OptionRule::Excludes, kOwnPorts},
    {"--emulate", "--out", OptionRule::Excludes, kOwnPorts},
    // On real ports the factor would cut the waits a real device's erase and writes need.
    {"--timing-scale", "--emulate", OptionRule::Needs, kTimingScaleOnlyEmulated},
    {"--list", "--in", OptionRule::Excludes, kListNoPorts},
    {"--list", "--out", OptionRule::Excludes, kListNoPorts},
    {"--list", "--verify", OptionRule::Excludes,
     VELMORA_TEXT("velmora-flash", "--verify reads back an update; --list runs none")},
};

const OptionRow* findOption(std::string_view arg) {
    for (const OptionRow& row : kOptions) {
        if (row.apply != nullptr &&
            (row.takes == Takes::Nothing ? arg == row.name : matches(arg, row.name))) {
            return &row;
        }
    }
    return nullptr;
}

std::string unexpected(const std::string& arg) {
    if (!arg.empty() && arg[0] == '-') {
        return i18n::arg(i18n::translate("velmora-flash", "unknown option %1"), {printableName(arg)});
    }
    return i18n::arg(i18n::translate("velmora-flash", "unexpected argument \"%1\""), {printableQuoted(arg)});
}

// Empty when the argument at `next` (and its value) was taken; `next` moves past them.
std::string takeOption(const std::vector<std::string>& args, std::size_t& next, Parsing& p) {
    const std::string& arg = args[next++];
    const OptionRow* row = findOption(arg);
    if (row == nullptr) {
        return unexpected(arg);
    }
    const std::string_view name = row->name;
    std::string value;
    if (row->takes == Takes::OptionalValue) {
        value = arg.size() > name.size() ? arg.substr(name.size() + 1) : std::string();
    } else if (row->takes == Takes::Value) {
        const std::optional<std::string> taken = takeValue(args, next, arg, name);
        if (!taken || taken->empty()) {
            return i18n::arg(i18n::translate("velmora-flash", "%1 needs a value"), {name});
        }
        value = *taken;
    }
    // --emulate counts its own repeats: once for every device, once more per device.
    if (row->takes != Takes::OptionalValue && p.given.count(name) != 0) {
        return givenTwice(name);
    }
    p.given.insert(name);
    return row->apply(p, value);
}

}  // namespace

std::span<const OptionRow> optionTable() {
    return kOptions;
}

std::span<const OptionRule> optionRules() {
    return kRules;
}

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    ParsedArguments result;
    Options& o = result.options;
    // Whoever asks for help gets it, whatever else the line holds; then whoever asks for the version.
    const auto asked = [&args](std::string_view a, std::string_view b) {
        return std::any_of(args.begin(), args.end(),
                           [&](const std::string& arg) { return arg == a || arg == b; });
    };
    if (asked("--help", "-h") || asked("--version", "--version")) {
        o.command = asked("--help", "-h") ? Command::Help : Command::Version;
        return result;
    }

    Parsing p{o, {}};
    for (std::size_t next = 0; next < args.size() && result.ok();) {
        result.error = takeOption(args, next, p);
    }
    if (!result.ok()) {
        return result;
    }
    if (!o.deviceScenarios.empty() && o.deviceScenarios.rbegin()->first > o.emulatedDevices) {
        result.error = i18n::arg(
            o.emulatedDevices == 1
                ? i18n::translate("velmora-flash",
                                  "--emulate=...@%1: there is 1 emulated device (--emulated-devices N)")
                : i18n::translate("velmora-flash",
                                  "--emulate=...@%1: there are %2 emulated devices (--emulated-devices N)"),
            {std::to_string(o.deviceScenarios.rbegin()->first), std::to_string(o.emulatedDevices)});
        return result;
    }
    for (const OptionRule& rule : kRules) {
        const bool second = p.given.count(rule.second) != 0;
        if (p.given.count(rule.first) != 0 && (rule.kind == OptionRule::Needs ? !second : second)) {
            result.error = i18n::arg(i18n::translate("velmora-flash", rule.error), {rule.first});
            return result;
        }
    }
    return result;
}

const emulator::Scenario& scenarioFor(const Options& options, int k) {
    const auto own = options.deviceScenarios.find(k);
    return own != options.deviceScenarios.end() ? own->second : options.scenario;
}

std::string standInNote() {
    return i18n::translate(
        "velmora-flash",
        "This build carries stand-in firmware images (generated filler, nothing a device can run): it\n"
        "updates only the emulated device (--emulate) and refuses every other port.\n");
}

std::string versionText(std::string_view program) {
    return std::string(program) + " " + kVersion + "\n";
}

namespace {

// The table's rows in two columns; each row's help is translated whole, so a translation keeps the columns.
std::string optionLines(bool other) {
    constexpr std::size_t kColumn = 23;
    std::string lines;
    for (const OptionRow& row : kOptions) {
        if (row.other != other) {
            continue;
        }
        std::string line = "  " + std::string(row.usage);
        line.resize(std::max(line.size() + 1, kColumn), ' ');
        for (const char c : i18n::translate("velmora-flash", row.help)) {
            line += c == '\n' ? "\n" + std::string(kColumn, ' ') : std::string(1, c);
        }
        lines += line + "\n";
    }
    return lines;
}

}  // namespace

// In paragraphs, each translated whole.
std::string helpText(std::string_view program) {
    const std::string_view japanesePort =
        "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
        "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9";
    std::string help = i18n::arg(
        i18n::translate(
            "velmora-flash",
            "Usage: %1 [PORTS] [--instance N] [--verify | --dry-run] [--json] [--timing-scale F]\n"
            "       %1 --all [--emulate[=SCENARIO] [--emulated-devices N]] [--verify | --dry-run] [--json]\n"
            "       %1 --list [--device PATH | --emulate[=SCENARIO]] [--instance N]\n"),
        {program});
    help += "\n";
    help += i18n::translate(
        "velmora-flash",
        "Writes the built-in firmware onto a device over MIDI SysEx: the same nine-step update as the\n"
        "updater window, from a terminal or a script.\n");
    help += "\n";
    help += i18n::arg(
        i18n::translate(
            "velmora-flash",
            "Ports (without any, the ports named as the window would pre-select them: the last port called\n"
            "\"%1\", \"%2\" or \"%3\" in each list):\n"),
        {japanesePort, "USB Audio Device", "Velmora"});
    help += optionLines(false) + "\n";
    help += i18n::translate("velmora-flash", "Other options:\n") + optionLines(true) + "\n";
    help += i18n::translate(
        "velmora-flash",
        "Progress: on a terminal, one line kept up to date (step, what it does, bytes of the step, share of\n"
        "the image bytes written, rate, time left). Otherwise one line per step (\"Step 4/9: ...\") and per\n"
        "change of the status text. The last line of a completed update is \"Version update completed.\";\n"
        "a failure prints its message on standard error. With --emulate, the emulated device's own verdict\n"
        "on its flash is printed just before that last line, and a flash that does not hold the plan makes\n"
        "the run fail.\n");
    help += "\n";
    help += i18n::translate(
        "velmora-flash",
        "Exit status: 0 completed (a dry run: an update could run); 1 the update failed, or with --all any\n"
        "device's; 2 bad usage, or no port to use; 130 interrupted (Ctrl-C, SIGTERM or SIGHUP: every update\n"
        "is stopped as closing the window stops it).\n");
    help += "\n";
    if (carriesStandInImages()) {
        help += standInNote() + "\n";
    }
    help += emulator::scenarioHelp();
    help += i18n::translate(
        "velmora-flash",
        "Without SCENARIO the emulated device is in update mode, holds boot version 0.99 and takes the\n"
        "time of a USB link and of flash erasing and programming: a whole update takes about 40 s.\n");
    return help;
}

}  // namespace velmora::cli
