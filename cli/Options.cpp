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

struct Parsing {
    Options& o;
    std::set<std::string_view> given;  // the table's names
    bool emulateAll = false;           // --emulate without "@K"
};

namespace {

template <typename Number>
std::optional<Number> parseNumber(const std::string& text) {
    Number value = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    return ec == std::errc() && ptr == end && !text.empty() ? std::optional(value) : std::nullopt;
}

// A copy's number, 1 to the most copies that may run; nothing for anything else.
std::optional<int> copyNumber(const std::string& text) {
    const std::optional<int> n = parseNumber<int>(text);
    return n && *n >= 1 && *n <= texts::kMaxInstances ? n : std::nullopt;
}

std::string givenTwice(std::string_view option) {
    return i18n::arg(i18n::translate("velmora-flash", "%1 given twice"), {option});
}

template <auto member>
std::string setText(Parsing& p, std::string_view, const std::string& value) {
    p.o.*member = value;
    return {};
}

template <bool Options::*member>
std::string setFlag(Parsing& p, std::string_view, const std::string&) {
    p.o.*member = true;
    return {};
}

// Options that only need to have been given (the command and the port source follow from that).
std::string noValue(Parsing&, std::string_view, const std::string&) {
    return {};
}

// "--instance takes a number from 1 to 20, not "x"", for any option that takes a copy's number.
template <int Options::*member>
std::string setCopy(Parsing& p, std::string_view name, const std::string& value) {
    const std::optional<int> n = copyNumber(value);
    if (!n) {
        return i18n::arg(i18n::translate("velmora-flash", "%1 takes a number from 1 to %2, not \"%3\""),
                         {name, std::to_string(texts::kMaxInstances), printableQuoted(value)});
    }
    p.o.*member = *n;
    return {};
}

std::string setTimingScale(Parsing& p, std::string_view, const std::string& value) {
    const std::optional<double> f = parseNumber<double>(value);
    if (!f || !std::isfinite(*f) || *f < kSmallestTimingScale || *f > 1) {
        char smallest[16];
        std::snprintf(smallest, sizeof smallest, "%g", kSmallestTimingScale);
        return i18n::arg(
            i18n::translate("velmora-flash", "--timing-scale takes a factor from %1 to 1, not \"%2\""),
            {smallest, printableQuoted(value)});
    }
    p.o.timingScale = *f;
    return {};
}

// "--emulate[=SCENARIO]" once for every emulated device, "--emulate=SCENARIO@K" once per device.
std::string setScenario(Parsing& p, std::string_view, const std::string& value) {
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
    return {};
}

// clang-format off
const OptionRow kOptions[] = {
    {"--in", "--in NAME|NUMBER", Takes::Value, setText<&Options::input>, VELMORA_TEXT("velmora-flash",
        "the MIDI IN port, by its exact name, its number in --list or its\n"
        "address there (hw:C,D,S on ALSA)")},
    {"--out", "--out NAME|NUMBER", Takes::Value, setText<&Options::output>, VELMORA_TEXT("velmora-flash",
        "the MIDI OUT port, the same way")},
    {"--device", "--device PATH", Takes::Value, setText<&Options::devicePath>, VELMORA_TEXT("velmora-flash",
        "a raw MIDI byte stream (tty, pty, /dev/snd/midiC*D*), both directions")},
    {"--emulate", "--emulate[=SCENARIO]", Takes::OptionalValue, setScenario, VELMORA_TEXT("velmora-flash",
        "the built-in emulated device instead of hardware; SCENARIO below")},
    {"--instance", "--instance N", Takes::Value, setCopy<&Options::instance>, VELMORA_TEXT("velmora-flash",
        "look for the names copy N of the updater looks for: from 2 on, each name\n"
        "followed by \" (N)\" (1 to 20, default 1)")},
    {"--all", "--all", Takes::Nothing, setFlag<&Options::all>, VELMORA_TEXT("velmora-flash",
        "every device at once: each MIDI IN and MIDI OUT pair that one of the 20\n"
        "copies of the updater would pre-select; lines start with the device's port\n"
        "name, and a table of outcomes ends the output")},
    {"--emulated-devices", "--emulated-devices N", Takes::Value, setCopy<&Options::emulatedDevices>,
        VELMORA_TEXT("velmora-flash",
        "with --emulate: N emulated devices (1 to 20), named for copies 1 to N")},
    // --emulate again, its other form described on a line of its own.
    {"--emulate", "--emulate=SCENARIO@K", Takes::OptionalValue, nullptr, VELMORA_TEXT("velmora-flash",
        "SCENARIO for emulated device K only; may be given once per device, beside\n"
        "one --emulate[=SCENARIO] for the others")},
    {"--list", "--list", Takes::Nothing, noValue, VELMORA_TEXT("velmora-flash",
        "number the MIDI IN and MIDI OUT ports and mark the pre-selected ones"), true},
    {"--dry-run", "--dry-run", Takes::Nothing, setFlag<&Options::dryRun>, VELMORA_TEXT("velmora-flash",
        "identify the device and read its boot version, then say what an update\n"
        "would do (steps, bytes, expected time); nothing is begun, erased or written"), true},
    {"--json", "--json", Takes::Nothing, setFlag<&Options::json>, VELMORA_TEXT("velmora-flash",
        "JSON Lines events on standard output (docs/json-events.md); the lines\n"
        "meant for people go to standard error"), true},
    {"--verify", "--verify", Takes::Nothing, setFlag<&Options::verify>, VELMORA_TEXT("velmora-flash",
        "after the last write, read every written region back (4 KiB reads) and\n"
        "compare it with the images; a difference fails the update, naming the\n"
        "image and the first differing address. Needs a device that answers reads\n"
        "of 4 KiB; one that does not makes the update fail, never pass"), true},
    {"--timing-scale", "--timing-scale F", Takes::Value, setTimingScale, VELMORA_TEXT("velmora-flash",
        "test aid, with --emulate only: every protocol time, and the emulated\n"
        "device's times, multiplied by F (0.01 <= F <= 1)"), true},
    // Looked for before anything else.
    {"--help", "-h, --help", Takes::Nothing, nullptr, VELMORA_TEXT("velmora-flash", "this text"), true},
    {"--version", "--version", Takes::Nothing, nullptr, VELMORA_TEXT("velmora-flash",
        "the program's version"), true},
};

// Texts more than one pair of options is refused with.
const char* const kAllChoosesNone = VELMORA_TEXT("velmora-flash",
    "--all updates every device it finds; --in and --out choose one");
const char* const kOwnPorts = VELMORA_TEXT("velmora-flash",
    "%1 brings its own two ports; --in and --out choose among the platform's");
const char* const kNoUpdate = VELMORA_TEXT("velmora-flash", "%1 belongs to an update; --list runs none");
const char* const kListChoosesNone = VELMORA_TEXT("velmora-flash",
    "--list shows the ports; --in and --out choose one for an update");

// In the order they are checked: when several apply, the first is said.
const OptionRule kRules[] = {
    {"--emulated-devices", "--emulate", OptionRule::Needs, VELMORA_TEXT("velmora-flash",
        "--emulated-devices sets how many devices --emulate shows: use it with --emulate")},
    {"--all", "--in", OptionRule::Excludes, kAllChoosesNone},
    {"--all", "--out", OptionRule::Excludes, kAllChoosesNone},
    {"--all", "--instance", OptionRule::Excludes, VELMORA_TEXT("velmora-flash",
        "--all looks for the names of every copy; --instance chooses one copy's")},
    {"--all", "--device", OptionRule::Excludes, VELMORA_TEXT("velmora-flash",
        "--all updates every device on the MIDI ports; --device is one device")},
    {"--dry-run", "--verify", OptionRule::Excludes, VELMORA_TEXT("velmora-flash",
        "--dry-run writes nothing, so --verify has nothing to read back")},
    {"--all", "--list", OptionRule::Excludes, kNoUpdate},
    {"--dry-run", "--list", OptionRule::Excludes, kNoUpdate},
    {"--json", "--list", OptionRule::Excludes, kNoUpdate},
    {"--device", "--emulate", OptionRule::Excludes, VELMORA_TEXT("velmora-flash",
        "--device and --emulate exclude each other")},
    {"--device", "--in", OptionRule::Excludes, kOwnPorts},
    {"--device", "--out", OptionRule::Excludes, kOwnPorts},
    {"--emulate", "--in", OptionRule::Excludes, kOwnPorts},
    {"--emulate", "--out", OptionRule::Excludes, kOwnPorts},
    // On real ports the factor would cut the waits a real device's erase and writes need.
    {"--timing-scale", "--emulate", OptionRule::Needs, kTimingScaleOnlyEmulated},
    {"--list", "--in", OptionRule::Excludes, kListChoosesNone},
    {"--list", "--out", OptionRule::Excludes, kListChoosesNone},
    {"--list", "--verify", OptionRule::Excludes, VELMORA_TEXT("velmora-flash",
        "--verify reads back an update; --list runs none")},
};
// clang-format on

// Empty when the argument at `next` (and its value) was taken; `next` moves past them.
std::string takeOption(const std::vector<std::string>& args, std::size_t& next, Parsing& p) {
    const std::string& arg = args[next++];
    const auto row = std::find_if(std::begin(kOptions), std::end(kOptions), [&arg](const OptionRow& r) {
        // A flag alone; an option with a value may have "=VALUE" after it.
        return r.apply != nullptr &&
               (arg == r.name || (r.takes != Takes::Nothing && arg.starts_with(std::string(r.name) + "=")));
    });
    if (row == std::end(kOptions)) {
        return !arg.empty() && arg[0] == '-'
                   ? i18n::arg(i18n::translate("velmora-flash", "unknown option %1"), {printableName(arg)})
                   : i18n::arg(i18n::translate("velmora-flash", "unexpected argument \"%1\""),
                               {printableQuoted(arg)});
    }
    const std::string_view name = row->name;
    // "--name=VALUE", or for an option that needs one "--name VALUE"
    std::string value = arg.size() > name.size() ? arg.substr(name.size() + 1) : std::string();
    if (row->takes == Takes::Value && arg.size() == name.size() && next < args.size()) {
        value = args[next++];
    }
    if (row->takes == Takes::Value && value.empty()) {
        return i18n::arg(i18n::translate("velmora-flash", "%1 needs a value"), {name});
    }
    // --emulate counts its own repeats: once for every device, once more per device.
    if (!p.given.insert(name).second && row->takes != Takes::OptionalValue) {
        return givenTwice(name);
    }
    return row->apply(p, name, value);
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
    const auto given = [&p](std::string_view name) { return p.given.count(name) != 0; };
    if (result.ok() && !o.deviceScenarios.empty() && o.deviceScenarios.rbegin()->first > o.emulatedDevices) {
        result.error = i18n::arg(
            o.emulatedDevices == 1
                ? i18n::translate("velmora-flash",
                                  "--emulate=...@%1: there is 1 emulated device (--emulated-devices N)")
                : i18n::translate("velmora-flash",
                                  "--emulate=...@%1: there are %2 emulated devices (--emulated-devices N)"),
            {std::to_string(o.deviceScenarios.rbegin()->first), std::to_string(o.emulatedDevices)});
    }
    for (const OptionRule& rule : kRules) {
        if (result.ok() && given(rule.first) && given(rule.second) == (rule.kind == OptionRule::Excludes)) {
            result.error = i18n::arg(i18n::translate("velmora-flash", rule.error), {rule.first});
        }
    }
    o.source = given("--device")    ? PortSource::Device
               : given("--emulate") ? PortSource::Emulated
                                    : PortSource::Platform;
    o.command = given("--list") ? Command::List : Command::Flash;
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
