#include "cli/Options.h"

#include <charconv>
#include <cmath>

#include "firmware/FirmwareImages.h"
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

    for (std::size_t next = 0; next < args.size();) {
        const std::string& arg = args[next++];
        if (arg == "--list") {
            if (list) {
                return fail("--list given twice");
            }
            list = true;
            continue;
        }
        if (arg == "--verify") {
            if (verify) {
                return fail("--verify given twice");
            }
            verify = o.verify = true;
            continue;
        }
        if (matches(arg, "--emulate")) {
            if (emulateGiven) {
                return fail("--emulate given twice");
            }
            emulateGiven = true;
            // The scenario is optional, so it is only ever taken from "--emulate=...".
            const std::string text = arg.size() > 9 ? arg.substr(10) : std::string();
            const emulator::ScenarioParse parsed = emulator::parseScenario(text);
            if (!parsed.ok()) {
                return fail("--emulate: " + parsed.error);
            }
            o.scenario = parsed.scenario;
            continue;
        }

        std::string_view name;
        for (std::string_view candidate : {"--in", "--out", "--device", "--instance", "--timing-scale"}) {
            if (matches(arg, candidate)) {
                name = candidate;
            }
        }
        if (name.empty()) {
            if (!arg.empty() && arg[0] == '-') {
                return fail("unknown option " + arg);
            }
            return fail("unexpected argument \"" + arg + "\"");
        }
        const std::optional<std::string> value = takeValue(args, next, arg, name);
        if (!value || value->empty()) {
            return fail(std::string(name) + " needs a value");
        }
        auto once = [&](bool& given) {
            const bool repeated = given;
            given = true;
            return !repeated;
        };
        if (name == "--in" || name == "--out") {
            std::optional<std::string>& port = name == "--in" ? o.input : o.output;
            if (port) {
                return fail(std::string(name) + " given twice");
            }
            port = *value;
        } else if (name == "--device") {
            if (!once(deviceGiven)) {
                return fail("--device given twice");
            }
            o.devicePath = *value;
        } else if (name == "--instance") {
            if (!once(instanceGiven)) {
                return fail("--instance given twice");
            }
            const std::optional<int> n = parseInt(*value);
            if (!n || *n < 1 || *n > texts::kMaxInstances) {
                return fail("--instance takes a number from 1 to " + std::to_string(texts::kMaxInstances) +
                            ", not \"" + *value + "\"");
            }
            o.instance = *n;
        } else {
            if (!once(scaleGiven)) {
                return fail("--timing-scale given twice");
            }
            const std::optional<double> f = parseDouble(*value);
            if (!f || *f <= 0 || *f > 1) {
                return fail("--timing-scale takes a factor above 0 and at most 1, not \"" + *value + "\"");
            }
            o.timingScale = *f;
        }
    }

    if (deviceGiven && emulateGiven) {
        return fail("--device and --emulate exclude each other");
    }
    if ((deviceGiven || emulateGiven) && (o.input || o.output)) {
        return fail(std::string(deviceGiven ? "--device" : "--emulate") +
                    " brings its own two ports; --in and --out choose among the platform's");
    }
    // On real ports the factor would cut the waits a real device's erase and writes need.
    if (scaleGiven && !emulateGiven) {
        return fail(std::string(kTimingScaleOnlyEmulated));
    }
    if (list && (o.input || o.output)) {
        return fail("--list shows the ports; --in and --out choose one for an update");
    }
    if (list && verify) {
        return fail("--verify reads back an update; --list runs none");
    }
    o.source = deviceGiven ? PortSource::Device : emulateGiven ? PortSource::Emulated : PortSource::Platform;
    o.command = list ? Command::List : Command::Flash;
    return result;
}

std::string standInNote() {
    return "This build carries stand-in firmware images (generated filler, nothing a device can run): it\n"
           "updates only the emulated device (--emulate) and refuses every other port.\n";
}

std::string versionText(std::string_view program) {
    return std::string(program) + " " + kVersion + "\n";
}

std::string helpText(std::string_view program) {
    std::string p(program);
    std::string text =
        "Usage: " + p + " [PORTS] [--instance N] [--verify] [--timing-scale F]\n" + "       " + p +
        " --list [--device PATH | --emulate[=SCENARIO]] [--instance N]\n" +
        "\n"
        "Writes the built-in firmware onto a device over MIDI SysEx: the same nine-step update as the\n"
        "updater window, from a terminal or a script.\n"
        "\n"
        "Ports (without any, the ports named as the window would pre-select them: the last port called\n"
        "\"USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
        "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9\", \"USB Audio Device\" or \"Velmora\" in each "
        "list):\n"
        "  --in NAME|NUMBER     the MIDI IN port, by its exact name or its number in --list\n"
        "  --out NAME|NUMBER    the MIDI OUT port, the same way\n"
        "  --device PATH        a raw MIDI byte stream (tty, pty, /dev/snd/midiC*D*), both directions\n"
        "  --emulate[=SCENARIO] the built-in emulated device instead of hardware; SCENARIO below\n"
        "  --instance N         look for the names copy N of the updater looks for: from 2 on, each name\n"
        "                       followed by \" (N)\" (1 to 20, default 1)\n"
        "\n"
        "Other options:\n"
        "  --list               number the MIDI IN and MIDI OUT ports and mark the pre-selected ones\n"
        "  --verify             after the last write, read every written region back (4 KiB reads) and\n"
        "                       compare it with the images; a difference fails the update, naming the\n"
        "                       image and the first differing address. Needs a device that answers reads\n"
        "                       of 4 KiB; one that does not makes the update fail, never pass\n"
        "  --timing-scale F     test aid, with --emulate only: every protocol time, and the emulated\n"
        "                       device's times, multiplied by F (0 < F <= 1)\n"
        "  -h, --help           this text\n"
        "  --version            the program's version\n"
        "\n"
        "Progress: on a terminal, one line kept up to date (step, what it does, bytes of the step, share of\n"
        "the image bytes written, rate, time left). Otherwise one line per step (\"Step 4/9: ...\") and per\n"
        "change of the status text. The last line of a completed update is \"Version update completed.\";\n"
        "a failure prints its message on standard error. With --emulate, the emulated device's own verdict\n"
        "on its flash is printed just before that last line, and a flash that does not hold the plan makes\n"
        "the run fail.\n"
        "\n"
        "Exit status: 0 completed; 1 the update failed; 2 bad usage, or no port to use; 130 interrupted\n"
        "(Ctrl-C, SIGTERM or SIGHUP: the update is stopped as closing the window stops it).\n"
        "\n";
    if (carriesStandInImages()) {
        text += standInNote() + "\n";
    }
    text += emulator::scenarioHelp();
    text +=
        "Without SCENARIO the emulated device is in update mode, holds boot version 0.99 and takes the\n"
        "time of a USB link and of flash erasing and programming: a whole update takes about 40 s.\n";
    return text;
}

}  // namespace velmora::cli
