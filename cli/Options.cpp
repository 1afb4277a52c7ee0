#include "cli/Options.h"

#include <charconv>
#include <cmath>
#include <cstdio>

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

}  // namespace

ParsedArguments parseArguments(const std::vector<std::string>& args) {
    ParsedArguments result;
    Options& o = result.options;
    auto fail = [&result](std::string error) {
        result.error = std::move(error);
        return result;
    };

    // Whoever asks for help gets it, whatever else the line holds; then whoever asks for the version.
    for (const std::string& arg : args) {
        if (arg == "--help" || arg == "-h") {
            o.command = Command::Help;
            return result;
        }
    }
    for (const std::string& arg : args) {
        if (arg == "--version") {
            o.command = Command::Version;
            return result;
        }
    }

    bool list = false;
    bool verify = false;
    bool instanceGiven = false;
    bool scaleGiven = false;
    bool deviceGiven = false;
    bool emulateGiven = false;
    bool devicesGiven = false;
    bool json = false;
    bool all = false;
    bool dryRun = false;
    bool flagRepeated = false;
    // A flag without a value: sets `given`, and `flagRepeated` when it was set already.
    auto flag = [&flagRepeated](const std::string& arg, const char* name, bool& given) {
        if (arg != name) {
            return false;
        }
        flagRepeated = given;
        given = true;
        return true;
    };

    for (std::size_t next = 0; next < args.size();) {
        const std::string& arg = args[next++];
        if (arg == "--list") {
            if (list) {
                return fail(givenTwice("--list"));
            }
            list = true;
            continue;
        }
        if (arg == "--verify") {
            if (verify) {
                return fail(givenTwice("--verify"));
            }
            verify = o.verify = true;
            continue;
        }
        if (flag(arg, "--json", json) || flag(arg, "--all", all) || flag(arg, "--dry-run", dryRun)) {
            if (flagRepeated) {
                return fail(givenTwice(arg));
            }
            continue;
        }
        if (matches(arg, "--emulate")) {
            // The scenario is optional, so it is only ever taken from "--emulate=...".
            std::string text = arg.size() > 9 ? arg.substr(10) : std::string();
            int device = 0;  // 0: every emulated device
            if (const std::size_t at = text.rfind('@'); at != std::string::npos) {
                const std::optional<int> k = copyNumber(text.substr(at + 1));
                if (!k) {
                    return fail(
                        i18n::arg(i18n::translate("velmora-flash",
                                                  "%1 takes a device number K from 1 to %2, not \"%3\""),
                                  {"--emulate=SCENARIO@K", std::to_string(texts::kMaxInstances),
                                   printableQuoted(text.substr(at + 1))}));
                }
                device = *k;
                text.resize(at);
            }
            if (device == 0 ? emulateGiven : o.deviceScenarios.count(device) != 0) {
                return fail(givenTwice(device == 0 ? std::string("--emulate")
                                                   : "--emulate=...@" + std::to_string(device)));
            }
            const emulator::ScenarioParse parsed = emulator::parseScenario(text);
            if (!parsed.ok()) {
                return fail("--emulate: " + printableName(parsed.error));
            }
            if (device == 0) {
                emulateGiven = true;
                o.scenario = parsed.scenario;
            } else {
                o.deviceScenarios[device] = parsed.scenario;
            }
            continue;
        }

        std::string_view name;
        for (std::string_view candidate :
             {"--in", "--out", "--device", "--instance", "--timing-scale", "--emulated-devices"}) {
            if (matches(arg, candidate)) {
                name = candidate;
            }
        }
        if (name.empty()) {
            if (!arg.empty() && arg[0] == '-') {
                return fail(
                    i18n::arg(i18n::translate("velmora-flash", "unknown option %1"), {printableName(arg)}));
            }
            return fail(i18n::arg(i18n::translate("velmora-flash", "unexpected argument \"%1\""),
                                  {printableQuoted(arg)}));
        }
        const std::optional<std::string> value = takeValue(args, next, arg, name);
        if (!value || value->empty()) {
            return fail(i18n::arg(i18n::translate("velmora-flash", "%1 needs a value"), {name}));
        }
        auto once = [&](bool& given) {
            const bool repeated = given;
            given = true;
            return !repeated;
        };
        if (name == "--in" || name == "--out") {
            std::optional<std::string>& port = name == "--in" ? o.input : o.output;
            if (port) {
                return fail(givenTwice(name));
            }
            port = *value;
        } else if (name == "--device") {
            if (!once(deviceGiven)) {
                return fail(givenTwice("--device"));
            }
            o.devicePath = *value;
        } else if (name == "--instance" || name == "--emulated-devices") {
            const bool instance = name == "--instance";
            if (!once(instance ? instanceGiven : devicesGiven)) {
                return fail(givenTwice(name));
            }
            const std::optional<int> n = copyNumber(*value);
            if (!n) {
                return fail(outOfRange(name, *value));
            }
            (instance ? o.instance : o.emulatedDevices) = *n;
        } else {
            if (!once(scaleGiven)) {
                return fail(givenTwice("--timing-scale"));
            }
            const std::optional<double> f = parseDouble(*value);
            if (!f || *f < kSmallestTimingScale || *f > 1) {
                char smallest[16];
                std::snprintf(smallest, sizeof smallest, "%g", kSmallestTimingScale);
                return fail(
                    i18n::arg(i18n::translate("velmora-flash",
                                              "--timing-scale takes a factor from %1 to 1, not \"%2\""),
                              {smallest, printableQuoted(*value)}));
            }
            o.timingScale = *f;
        }
    }

    emulateGiven = emulateGiven || !o.deviceScenarios.empty();
    if (!o.deviceScenarios.empty() && o.deviceScenarios.rbegin()->first > o.emulatedDevices) {
        return fail(i18n::arg(
            o.emulatedDevices == 1
                ? i18n::translate("velmora-flash",
                                  "--emulate=...@%1: there is 1 emulated device (--emulated-devices N)")
                : i18n::translate("velmora-flash",
                                  "--emulate=...@%1: there are %2 emulated devices (--emulated-devices N)"),
            {std::to_string(o.deviceScenarios.rbegin()->first), std::to_string(o.emulatedDevices)}));
    }
    if (devicesGiven && !emulateGiven) {
        return fail(i18n::translate(
            "velmora-flash",
            "--emulated-devices sets how many devices --emulate shows: use it with --emulate"));
    }
    if (all && (o.input || o.output)) {
        return fail(i18n::translate("velmora-flash",
                                    "--all updates every device it finds; --in and --out choose one"));
    }
    if (all && instanceGiven) {
        return fail(i18n::translate(
            "velmora-flash", "--all looks for the names of every copy; --instance chooses one copy's"));
    }
    if (all && deviceGiven) {
        return fail(i18n::translate("velmora-flash",
                                    "--all updates every device on the MIDI ports; --device is one device"));
    }
    if (dryRun && verify) {
        return fail(i18n::translate("velmora-flash",
                                    "--dry-run writes nothing, so --verify has nothing to read back"));
    }
    if (list && (all || dryRun || json)) {
        return fail(i18n::arg(i18n::translate("velmora-flash", "%1 belongs to an update; --list runs none"),
                              {all      ? "--all"
                               : dryRun ? "--dry-run"
                                        : "--json"}));
    }
    if (deviceGiven && emulateGiven) {
        return fail(i18n::translate("velmora-flash", "--device and --emulate exclude each other"));
    }
    if ((deviceGiven || emulateGiven) && (o.input || o.output)) {
        return fail(i18n::arg(
            i18n::translate("velmora-flash",
                            "%1 brings its own two ports; --in and --out choose among the platform's"),
            {deviceGiven ? "--device" : "--emulate"}));
    }
    // On real ports the factor would cut the waits a real device's erase and writes need.
    if (scaleGiven && !emulateGiven) {
        return fail(i18n::translate("velmora-flash", kTimingScaleOnlyEmulated));
    }
    if (list && (o.input || o.output)) {
        return fail(i18n::translate("velmora-flash",
                                    "--list shows the ports; --in and --out choose one for an update"));
    }
    if (list && verify) {
        return fail(i18n::translate("velmora-flash", "--verify reads back an update; --list runs none"));
    }
    o.json = json;
    o.all = all;
    o.dryRun = dryRun;
    o.source = deviceGiven ? PortSource::Device : emulateGiven ? PortSource::Emulated : PortSource::Platform;
    o.command = list ? Command::List : Command::Flash;
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

// In paragraphs, each translated whole: a translation keeps the columns of its option lists.
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
    help += i18n::translate(
        "velmora-flash",
        "  --in NAME|NUMBER     the MIDI IN port, by its exact name, its number in --list or its\n"
        "                       address there (hw:C,D,S on ALSA)\n"
        "  --out NAME|NUMBER    the MIDI OUT port, the same way\n"
        "  --device PATH        a raw MIDI byte stream (tty, pty, /dev/snd/midiC*D*), both directions\n"
        "  --emulate[=SCENARIO] the built-in emulated device instead of hardware; SCENARIO below\n"
        "  --instance N         look for the names copy N of the updater looks for: from 2 on, each name\n"
        "                       followed by \" (N)\" (1 to 20, default 1)\n"
        "  --all                every device at once: each MIDI IN and MIDI OUT pair that one of the 20\n"
        "                       copies of the updater would pre-select; lines start with the device's port\n"
        "                       name, and a table of outcomes ends the output\n"
        "  --emulated-devices N with --emulate: N emulated devices (1 to 20), named for copies 1 to N\n"
        "  --emulate=SCENARIO@K SCENARIO for emulated device K only; may be given once per device, beside\n"
        "                       one --emulate[=SCENARIO] for the others\n");
    help += "\n";
    help += i18n::translate(
        "velmora-flash",
        "Other options:\n"
        "  --list               number the MIDI IN and MIDI OUT ports and mark the pre-selected ones\n"
        "  --dry-run            identify the device and read its boot version, then say what an update\n"
        "                       would do (steps, bytes, expected time); nothing is begun, erased or written\n"
        "  --json               JSON Lines events on standard output (docs/json-events.md); the lines\n"
        "                       meant for people go to standard error\n"
        "  --verify             after the last write, read every written region back (4 KiB reads) and\n"
        "                       compare it with the images; a difference fails the update, naming the\n"
        "                       image and the first differing address. Needs a device that answers reads\n"
        "                       of 4 KiB; one that does not makes the update fail, never pass\n"
        "  --timing-scale F     test aid, with --emulate only: every protocol time, and the emulated\n"
        "                       device's times, multiplied by F (0.01 <= F <= 1)\n"
        "  -h, --help           this text\n"
        "  --version            the program's version\n");
    help += "\n";
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
