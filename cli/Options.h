#pragma once
// What the command line asks for, parsed without touching a port, so that every way of calling the program
// can be checked on plain strings.

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/Scenario.h"
#include "i18n/Translate.h"

namespace velmora::cli {

// Exit statuses.
inline constexpr int kExitCompleted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;  // bad arguments, or no port to use
inline constexpr int kExitInterrupted = 130;

enum class Command { Flash, List, Help, Version };

// Where the ports come from.
enum class PortSource {
    Platform,  // the platform's MIDI ports
    Device,    // a raw MIDI byte stream on a path, both directions
    Emulated,  // the built-in emulated device
};

struct Options {
    Command command = Command::Flash;
    PortSource source = PortSource::Platform;
    std::optional<std::string> input;  // --in: a name or a number, as given
    std::optional<std::string> output;
    std::string devicePath;
    emulator::Scenario scenario;  // --emulate=...
    int instance = 1;             // the copy whose port names are looked for
    double timingScale = 1.0;     // protocol and emulator times multiplied by this
    bool verify = false;          // --verify: read every written region back before the update ends
    bool json = false;            // --json: JSON Lines events on stdout, human output on stderr
    bool all = false;             // --all: every device the program's copies would pre-select, at once
    bool dryRun = false;          // --dry-run: identify and read the boot version, write nothing
    int emulatedDevices = 1;      // --emulated-devices N: emulated devices named for copies 1 to N
    // --emulate=SCENARIO@K: the scenario of emulated device K, instead of `scenario`.
    std::map<int, emulator::Scenario> deviceScenarios;

    bool operator==(const Options&) const = default;
};

struct ParsedArguments {
    Options options;
    std::string error;  // empty when the arguments were accepted

    bool ok() const { return error.empty(); }
};

// Below this the scaled waits shrink to a millisecond or two and every answer times out; no test goes lower.
inline constexpr double kSmallestTimingScale = 0.01;

// English, as the tests compare it; said translated.
inline constexpr const char* kTimingScaleOnlyEmulated = VELMORA_TEXT(
    "velmora-flash", "--timing-scale is a test aid for the emulated device: use it with --emulate only");

// The scenario emulated device `k` (1-based) runs.
const emulator::Scenario& scenarioFor(const Options& options, int k);

// `args` without the program's name.
ParsedArguments parseArguments(const std::vector<std::string>& args);

// One row per option: the parser, --help and the bash completion all read this table.
enum class Takes {
    Nothing,
    Value,          // "--name VALUE" or "--name=VALUE"
    OptionalValue,  // only ever "--name=VALUE", so that a following argument is never taken
};
struct Parsing;
struct OptionRow {
    const char* name;
    const char* usage;  // the help's left column
    Takes takes;
    // Empty, or why the value is refused; none for --help and --version, looked for first, and for a row
    // that only describes another form of an option.
    std::string (*apply)(Parsing&, std::string_view name, const std::string& value);
    const char* help;    // English; lines after the first are indented under the first
    bool other = false;  // listed under "Other options:"
};
std::span<const OptionRow> optionTable();

// `first` given with `second` (or, for Needs, without it) is refused with `error`, whose %1 is `first`.
struct OptionRule {
    enum Kind { Excludes, Needs };
    const char* first;
    const char* second;
    Kind kind;
    const char* error;
};
std::span<const OptionRule> optionRules();

std::string helpText(std::string_view program);
// "PROGRAM VERSION": the version the package carries.
std::string versionText(std::string_view program);
// Said by --help and --list in a build whose firmware images are generated filler.
std::string standInNote();

}  // namespace velmora::cli
