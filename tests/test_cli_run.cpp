// Whole runs of the built velmora-flash: its output when stdout is not a terminal, its messages and exit
// statuses for success, each kind of failure, bad usage and an interrupted update, against the emulated
// device inside it or against a device on a pseudo-terminal.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <fstream>
#include <map>
#include <ostream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/FlashCommand.h"
#include "cli/JsonEvents.h"
#include "cli/Options.h"
#include "emulator/CEmulatedDevice.h"
#include "firmware/FirmwareImages.h"
#include "support/ChildProcess.h"
#include "support/DescribedRow.h"
#include "support/PtyDevice.h"
#include "update/Texts.h"

namespace velmora {
namespace {

using velmora::testing::PrintTo;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;

// Small enough that a whole update takes about a second, large enough that a loaded machine still answers
// each block inside its (scaled) one-second wait.
const std::string kScale = "--timing-scale=0.02";

struct Finished {
    int status = -1;  // exit status, or -1 when the program did not exit by itself
    int signal = 0;   // the signal that ended it, if one did
    std::string out;
    std::string err;
    bool hung = false;
    Clock::duration afterSignal{};  // from our signal to its exit

    Lines outLines() const { return split(out); }
    Lines errLines() const { return split(err); }
    static Lines split(const std::string& text) {
        Lines lines;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            lines.push_back(line);
        }
        return lines;
    }
};

// Sends `signo` `after` a line of stdout starts with `whenLine`; closes our end of stdout, as `| head` does,
// once closeOutAfter lines have come. `ignored`: the program starts with `signo` ignored, as under nohup.
struct Interruption {
    int signo = 0;
    std::string whenLine;
    std::size_t closeOutAfter = 0;
    std::chrono::milliseconds after{0};
    bool ignored = false;
};

Finished runProgram(const std::vector<std::string>& args, Interruption interruption = {},
                    std::chrono::seconds limit = 180s) {
    Finished f;
    testing::CChildProcess child(
        VELMORA_FLASH_PROGRAM, args,
        {{}, testing::CChildProcess::Errors::Apart, interruption.ignored ? interruption.signo : 0});
    if (!child.started()) {
        ADD_FAILURE() << "could not start " << VELMORA_FLASH_PROGRAM;
        return f;
    }
    const auto deadline = Clock::now() + limit;
    Clock::time_point signalled{};
    Clock::time_point fireAt{};  // once whenLine has come
    bool open = true;
    while (open && Clock::now() < deadline) {
        if (signalled == Clock::time_point{} && fireAt != Clock::time_point{} && Clock::now() >= fireAt) {
            child.signal(interruption.signo);
            signalled = Clock::now();
        }
        open = child.pump(fireAt != Clock::time_point{} ? 1ms : 50ms);
        const std::string& out = child.out();
        if (interruption.closeOutAfter > 0 &&
            static_cast<std::size_t>(std::count(out.begin(), out.end(), '\n')) >=
                interruption.closeOutAfter) {
            child.closeOut();
        }
        if (interruption.signo != 0 && fireAt == Clock::time_point{} &&
            (out.rfind(interruption.whenLine, 0) == 0 ||
             out.find("\n" + interruption.whenLine) != std::string::npos)) {
            fireAt = Clock::now() + interruption.after;
        }
    }
    f.out = child.out();
    f.err = child.err();
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const std::optional<int> wstatus = child.waitStatus(std::max(left, 0ms));
    if (!wstatus) {
        f.hung = true;  // killed as the child goes
        return f;
    }
    if (signalled != Clock::time_point{}) {
        f.afterSignal = Clock::now() - signalled;
    }
    if (WIFEXITED(*wstatus)) {
        f.status = WEXITSTATUS(*wstatus);
    } else if (WIFSIGNALED(*wstatus)) {
        f.signal = WTERMSIG(*wstatus);
    }
    return f;
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// The lines that begin a plan step, by step number (1 to 9); empty when a step has none.
std::array<std::string, 10> stepLines(const Lines& lines) {
    std::array<std::string, 10> steps;
    for (const std::string& line : lines) {
        for (int n = 1; n <= 9; ++n) {
            if (line.rfind("Step " + std::to_string(n) + "/9:", 0) == 0) {
                steps[static_cast<std::size_t>(n)] = line;
            }
        }
    }
    return steps;
}

// ---- updates against the emulated device ----

TEST(FlashProgram, ACompleteUpdateEndsWithTheCompletionTextAfterTheDevicesVerdictAndExitsZero) {
    const Finished f = runProgram({"--emulate", kScale});
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.status, 0) << f.err;
    EXPECT_EQ(f.err, "");
    const Lines lines = f.outLines();
    ASSERT_GE(lines.size(), 2u) << f.out;  // keeps back() and the line before it in range
    EXPECT_EQ(lines.back(), texts::kCompleted);
    EXPECT_EQ(lines[lines.size() - 2], "Emulated device: flash matches the plan; boot region written");
    const auto steps = stepLines(lines);
    for (int n = 1; n <= 9; ++n) {
        EXPECT_FALSE(steps[static_cast<std::size_t>(n)].empty()) << "no line for step " << n;
        EXPECT_FALSE(contains(steps[static_cast<std::size_t>(n)], "skipped"))
            << steps[static_cast<std::size_t>(n)];
    }
    // Data transmit texts: one per write step (five), not one per block (942).
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& l) { return l.rfind("Data transmit", 0) == 0; }),
              5);
    EXPECT_EQ(f.out.find('\r'), std::string::npos) << "a live line went to something that is not a terminal";
}

TEST(FlashProgram, ADeviceThatAlreadyHasTheBootVersionGetsStepsFourAndFiveSkipped) {
    const Finished f = runProgram({"--emulate=boot=1.00", kScale});
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.status, 0) << f.err;
    const auto steps = stepLines(f.outLines());
    for (int n = 1; n <= 9; ++n) {
        const std::string& line = steps[static_cast<std::size_t>(n)];
        EXPECT_EQ(contains(line, "skipped"), n == 4 || n == 5) << line;
    }
    EXPECT_TRUE(
        contains(f.out, "Emulated device: flash matches the plan; boot region skipped and unchanged"));
    ASSERT_FALSE(f.outLines().empty());
    EXPECT_EQ(f.outLines().back(), texts::kCompleted);
}

struct FailureRow {
    const char* what;
    std::string scenario;
    std::string message;
    std::vector<std::string> options = {};
};

class FailedUpdate : public ::testing::TestWithParam<FailureRow> {};

TEST_P(FailedUpdate, PrintsTheMessageBoxTextOnStandardErrorAndExitsOne) {
    std::vector<std::string> args = {"--emulate=" + GetParam().scenario, kScale};
    args.insert(args.end(), GetParam().options.begin(), GetParam().options.end());
    const Finished f = runProgram(args);
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.status, 1);
    EXPECT_EQ(f.errLines(), Lines{GetParam().message});
    EXPECT_FALSE(contains(f.out, texts::kCompleted)) << f.out;
    EXPECT_TRUE(contains(f.out, "Emulated device: "))
        << "the device's verdict is printed after a failure too";
}

INSTANTIATE_TEST_SUITE_P(
    Table, FailedUpdate,
    ::testing::Values(
        FailureRow{"not in version-update mode", "mode=off", texts::kSetUpdateMode},
        FailureRow{"a model code that is not accepted", "model=0x61", texts::kIllegalDevice},
        FailureRow{"block 5 refused 32 times in a row", "refuse-block=5:32", texts::kTransferError},
        FailureRow{"a device that never answers", "silent", texts::kTimeOut1},
        FailureRow{"a block acknowledged but stored wrong: the device's own verdict fails it",
                   "corrupt-block=100",
                   "velmora-flash: the emulated device's flash does not hold what the update wrote"},
        FailureRow{"a block stored wrong, found by --verify before the update ends",
                   "corrupt-block=100",
                   "Verify failed: image 129 differs at 0x05F800",
                   {"--verify"}}),
    [](const auto& row) { return "row" + std::to_string(row.index); });

TEST(FlashProgram, AFailedBootVersionReadBackHasNoMessageBoxButStillFailsWithAReason) {
    const Finished f = runProgram({"--emulate=bad-read", kScale});
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.status, 1);
    EXPECT_TRUE(contains(f.err, "boot-region version")) << f.err;
    EXPECT_TRUE(stepLines(f.outLines())[1].empty()) << "no step may run after a failed read-back";
}

TEST(FlashProgram, AReaderThatGoesAwayNeitherStopsTheUpdateNorSpoilsItsStatus) {
    // Guards `velmora-flash ... | head -n 3` killing the update half-way through by SIGPIPE.
    const Finished f = runProgram({"--emulate", kScale}, {0, "", 3});
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.signal, 0) << "killed by signal " << f.signal;
    EXPECT_EQ(f.status, 0) << "exit 0 means completed with the emulated flash holding the plan; " << f.err;
    EXPECT_TRUE(f.err.empty()) << f.err;
}

// ---- interrupted ----

struct InterruptRow {
    const char* what;
    int signo;
};

class InterruptedUpdate : public ::testing::TestWithParam<InterruptRow> {};

TEST_P(InterruptedUpdate, StopsPromptlyWithStatus130AndNoCompletion) {
    // Slow enough that the update is still writing when the signal lands.
    const Finished f = runProgram({"--emulate", "--timing-scale=0.2"}, {GetParam().signo, "Step 7/9:"}, 120s);
    ASSERT_FALSE(f.hung) << "the program did not end after the signal";
    EXPECT_EQ(f.signal, 0) << "killed by the signal instead of handling it";
    EXPECT_EQ(f.status, 130);
    EXPECT_FALSE(contains(f.out, texts::kCompleted));
    EXPECT_TRUE(contains(f.err, "Interrupted")) << f.err;
    // Not a speed target: a stop that waited out the protocol's waits would take many seconds even scaled.
    EXPECT_LT(f.afterSignal, 20s);
}

INSTANTIATE_TEST_SUITE_P(Table, InterruptedUpdate,
                         ::testing::Values(InterruptRow{"Ctrl-C", SIGINT}, InterruptRow{"kill", SIGTERM},
                                           InterruptRow{"the terminal or ssh session went away", SIGHUP}),
                         [](const auto& row) { return std::string(sigabbrev_np(row.param.signo)); });

// A stop at any moment from the first event on ends every device "interrupted" with 130; a signal ignored
// when the program started (nohup, `trap '' INT`) leaves the update to complete.
TEST(FlashProgram, AStopAtAnyMomentInterruptsEveryDeviceUnlessItsSignalWasIgnored) {
    const std::string first = R"({"device")";
    const std::vector<std::string> one = {"--emulate=link=none"};
    const std::vector<std::string> three = {"--emulate=link=none", "--all", "--emulated-devices=3"};
    const struct {
        const char* description;
        std::vector<std::string> args;
        Interruption stop;
        std::string outcome;  // every device's
    } rows[] = {
        {"kill with the first event", one, {SIGTERM, first}, "interrupted"},
        {"kill 20 ms after it", one, {SIGTERM, first, 0, 20ms}, "interrupted"},
        {"three devices, kill with the first event", three, {SIGTERM, first}, "interrupted"},
        {"three devices, Ctrl-C 40 ms after it", three, {SIGINT, first, 0, 40ms}, "interrupted"},
        {"SIGHUP under nohup", one, {SIGHUP, first, 0, 20ms, true}, "completed"},
        {"SIGINT under trap '' INT", one, {SIGINT, first, 0, 20ms, true}, "completed"},
    };
    for (const auto& row : rows) {
        std::vector<std::string> args = {"--json", "--timing-scale=0.05"};
        args.insert(args.end(), row.args.begin(), row.args.end());
        const Finished f = runProgram(args, row.stop, 120s);
        ASSERT_FALSE(f.hung) << row.description;
        EXPECT_EQ(f.status, row.outcome == "completed" ? 0 : 130) << row.description << f.err;
        std::size_t results = 0;
        for (const std::string& line : f.outLines()) {
            const nlohmann::json e = nlohmann::json::parse(line, nullptr, false);
            if (e.is_object() && e["event"] == "result") {
                ++results;
                EXPECT_EQ(e["outcome"], row.outcome) << row.description << ": " << line;
            }
        }
        EXPECT_EQ(results, row.args.size() == 1 ? 1u : 3u) << row.description;
    }
}

// Output that cannot be written (a full disk) is said once; only an update keeps its own status: the device
// comes first.
TEST(FlashProgram, OutputThatCannotBeWrittenIsSaidOnceAndFailsAllButAnUpdate) {
    struct Full : std::streambuf {
        int_type overflow(int_type) override { return traits_type::eof(); }
    } full;
    const struct {
        std::vector<std::string> args;
        int status;
    } rows[] = {{{"--help"}, 1},
                {{"--version"}, 1},
                {{"--list", "--emulate"}, 1},
                {{"--json", "--emulate", kScale}, 0},
                {{"--emulate", kScale}, 0},
                {{"--json", "--emulate=mode=off", kScale}, 1}};
    for (const auto& row : rows) {
        std::ostream out(&full);
        std::ostringstream err;
        EXPECT_EQ(cli::runProgram(row.args, cli::Output{out, err, false, 80}), row.status) << row.args[0];
        const std::string said = "standard output could not be written";
        EXPECT_TRUE(contains(err.str(), said)) << err.str();
        EXPECT_EQ(err.str().find(said), err.str().rfind(said)) << "said more than once: " << err.str();
    }
}

// ---- bad usage and ports ----

struct UsageRow {
    const char* what;
    std::vector<std::string> args;
    std::string errorPart;
};

class BadUsage : public ::testing::TestWithParam<UsageRow> {};

TEST_P(BadUsage, ExitsTwoWithAReason) {
    const Finished f = runProgram(GetParam().args);
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.status, 2);
    EXPECT_TRUE(contains(f.err, GetParam().errorPart)) << f.err;
    EXPECT_FALSE(contains(f.out, texts::kCompleted));
}

INSTANTIATE_TEST_SUITE_P(
    Table, BadUsage,
    ::testing::Values(UsageRow{"a scenario the emulator refuses",
                               {"--emulate=model=0x80"},
                               "velmora-flash: --emulate: " + emulator::parseScenario("model=0x80").error},
                      UsageRow{"an unknown option", {"--fast"}, "unknown option --fast"},
                      UsageRow{"a device path with nothing there",
                               {"--device", "/nonexistent/velmora-midi"},
                               "velmora-flash: /nonexistent/velmora-midi: no such device"},
                      UsageRow{"a device path that is no MIDI device",
                               {"--device", "/"},
                               "velmora-flash: / is not a MIDI device"},
                      UsageRow{"a device node that is no MIDI device, refused before it is opened",
                               {"--device", "/dev/zero"},
                               "velmora-flash: /dev/zero is not a MIDI device"},
                      UsageRow{"the program's own terminal", {"--device", "/dev/tty"}, "is the terminal"}),
    [](const auto& row) { return "row" + std::to_string(row.index); });

TEST(FlashProgram, ListShowsTheEmulatedDevicesPortsMarkedAsTheOnesUsed) {
    const Finished f = runProgram({"--list", "--emulate"});
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.status, 0);
    EXPECT_EQ(f.out.substr(0, f.out.find("* the port")),
              "MIDI IN ports:\n  * 0  Velmora\nMIDI OUT ports:\n  * 0  Velmora\n");
}

TEST(FlashProgram, HelpAndListSayWhenTheBuildCarriesStandIns) {
    // Guards a stand-in build that looks, to whoever runs it, like one that can update hardware.
    const std::vector<std::vector<std::string>> rows = {{"--help"}, {"--list", "--emulate"}};
    for (const auto& args : rows) {
        SCOPED_TRACE(args.front());
        const Finished f = runProgram(args);
        EXPECT_EQ(f.status, 0);
        EXPECT_EQ(contains(f.out, cli::standInNote()), carriesStandInImages()) << f.out;
    }
}

TEST(FlashProgram, WithoutAPortOptionAndNoMatchingPlatformPortItSaysSoAndExitsTwo) {
    const Finished list = runProgram({"--list"});
    ASSERT_EQ(list.status, 0);
    if (contains(list.out, "  * ")) {
        GTEST_SKIP() << "this machine has a port the pre-selection takes";
    }
    const Finished f = runProgram({});
    EXPECT_EQ(f.status, 2);
    EXPECT_TRUE(contains(f.err, "MIDI IN port")) << f.err;
}

// ---- a device on a pseudo-terminal ----

TEST(FlashProgram, AnUpdateThroughADevicePathWritesThePlanOrIsRefusedInAStandInBuild) {
    testing::CPtyMaster master;
    ASSERT_TRUE(master.ok());
    testing::CPtyDevice pty(master);
    const Finished f = runProgram({"--device", master.path()});
    ASSERT_FALSE(f.hung);
    if (carriesStandInImages()) {
        EXPECT_EQ(f.status, 2);
        EXPECT_TRUE(contains(f.err, texts::kStandInRefused)) << f.err;
        EXPECT_EQ(pty.device().counters().messagesReceived, 0) << "a stand-in build wrote to the device";
        // With --json: its start and result, the latter with exit status 2, as docs/json-events.md says.
        const Finished json = runProgram({"--json", "--device", master.path()});
        EXPECT_EQ(json.status, 2);
        ASSERT_EQ(json.outLines().size(), 2u) << json.out;
        EXPECT_EQ(nlohmann::json::parse(json.outLines()[1])["exit_status"], 2) << json.out;
        return;
    }
    EXPECT_EQ(f.status, 0) << f.err;
    ASSERT_FALSE(f.outLines().empty());
    EXPECT_EQ(f.outLines().back(), texts::kCompleted);
    const auto verdict = pty.device().verdict(emulator::builtInImages());
    EXPECT_TRUE(verdict.ok) << verdict.summary;
}

// ---- --json, --all and --dry-run ----

using nlohmann::json;

struct JsonRow {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::vector<std::string> outcomes;  // one per device, in the order found
    std::string message;                // the first failed device's, "" when none failed
};

class JsonRun : public ::testing::TestWithParam<JsonRow> {};

// docs/json-events.md as a reader sees it: each event's fields and their types from its tables ("*": the
// fields of every event).
using FieldTypes = std::map<std::string, std::string>;

std::map<std::string, FieldTypes> documentedEvents() {
    std::ifstream file(VELMORA_JSON_DOC);
    std::map<std::string, FieldTypes> events;
    std::string event;
    for (std::string line; std::getline(file, line);) {
        if (line.rfind("## Fields in every event", 0) == 0 || line.rfind("**`", 0) == 0) {
            event = line[0] == '#' ? "*" : line.substr(3, line.find('`', 3) - 3);
        } else if (line.rfind("| `", 0) == 0 && !event.empty()) {
            const std::size_t names = line.find('|', 1);  // "| `a`, `b` | type | meaning |"
            const std::string type = line.substr(names + 2, line.find('|', names + 1) - names - 3);
            for (std::size_t at = line.find('`'); at < names;
                 at = line.find('`', line.find('`', at + 1) + 1)) {
                events[event][line.substr(at + 1, line.find('`', at + 1) - at - 1)] = type;
            }
        }
    }
    return events;
}

// Guards the document and the program drifting apart: every event is documented, with exactly its fields.
void expectAsDocumented(const json& e, const std::map<std::string, FieldTypes>& doc) {
    const auto own = doc.find(e["event"].get<std::string>());
    ASSERT_NE(own, doc.end()) << "undocumented event: " << e;
    FieldTypes fields = own->second;
    fields.insert(doc.at("*").begin(), doc.at("*").end());
    for (const auto& [name, value] : e.items()) {
        ASSERT_EQ(fields.count(name), 1u) << "undocumented field " << name << ": " << e;
        // The document's types ("string or null") are nlohmann's names for them.
        EXPECT_TRUE(contains(" " + fields[name] + " ", std::string(" ") + value.type_name() + " "))
            << name << " is not " << fields[name] << ": " << e;
    }
    for (const auto& [name, type] : fields) {
        EXPECT_TRUE(e.contains(name)) << "documented field " << name << " missing: " << e;
    }
}

// Standard output must be nothing but events a program can read: every line parses, every event says which
// device it is about, each device starts with `start` and ends with `result`, and the result agrees with the
// exit status, the retry events and the rest.
TEST_P(JsonRun, EveryLineIsAnEventAndTheResultsMatchTheExitStatus) {
    const JsonRow& row = GetParam();
    std::vector<std::string> args = {"--json", kScale};
    args.insert(args.end(), row.args.begin(), row.args.end());
    const Finished f = runProgram(args);
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.status, row.status) << f.err;

    std::vector<std::string> devices;
    std::map<std::string, std::vector<json>> byDevice;
    double lastT = 0;
    for (const std::string& line : f.outLines()) {
        const json e = json::parse(line, nullptr, false);
        ASSERT_TRUE(e.is_object()) << "not a JSON object: " << line;
        ASSERT_TRUE(e.contains("device") && e.contains("event") && e["t"].is_number()) << line;
        EXPECT_GE(e["t"].get<double>(), lastT) << "time went back: " << line;
        lastT = e["t"].get<double>();
        const std::string device = e["device"];
        if (byDevice.count(device) == 0) {
            devices.push_back(device);
        }
        byDevice[device].push_back(e);
    }
    ASSERT_EQ(devices.size(), row.outcomes.size()) << f.out;
    const auto doc = documentedEvents();
    ASSERT_GE(doc.size(), 10u) << "the document's events were not found in " << VELMORA_JSON_DOC;
    std::string firstMessage;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const std::vector<json>& events = byDevice[devices[i]];
        ASSERT_GE(events.size(), 2u);
        EXPECT_EQ(events.front()["event"], "start");
        EXPECT_EQ(events.front()["schema"], cli::kJsonSchema);
        EXPECT_EQ(events.front()["plan"].size(), 9u);
        const json& result = events.back();
        ASSERT_EQ(result["event"], "result") << devices[i];
        EXPECT_EQ(result["outcome"], row.outcomes[i]) << devices[i];
        EXPECT_EQ(result["exit_status"] == 0, row.outcomes[i] == "completed") << devices[i];
        if (firstMessage.empty() && result["message"].is_string()) {
            firstMessage = result["message"];
        }
        int retries = 0;
        int lastStep = 0;
        double lastProgress = -1;
        bool dryRunEvent = false;
        std::string lastStatus;
        std::set<long> totals;
        for (const json& e : events) {
            expectAsDocumented(e, doc);
            if (e["event"] == "status") {
                lastStatus = e["text"];
            } else if (e["event"] == "progress") {
                totals.insert(e["total"].get<long>());
            }
            if (e["event"] == "retry") {
                ++retries;
                EXPECT_TRUE(e["reason"] == "refused" || e["reason"] == "time-out") << e;
            } else if (e["event"] == "step") {
                EXPECT_EQ(e["n"].get<int>(), ++lastStep) << "steps out of order";
            } else if (e["event"] == "progress") {
                // At most ten a second; the times are whole milliseconds.
                EXPECT_GE(e["t"].get<double>() - lastProgress, 0.0995) << e;
                lastProgress = e["t"];
            } else if (e["event"] == "dry-run") {
                dryRunEvent = true;
                EXPECT_GT(e["bytes_to_send"].get<long>(), 0);
            }
        }
        EXPECT_EQ(retries, result["resends"].get<int>()) << devices[i];
        const bool dryRun = events.front()["dry_run"];
        if (dryRun) {
            EXPECT_EQ(lastStep, 0) << "a dry run began a step";
            EXPECT_EQ(result["bytes_written"], 0);
            EXPECT_EQ(dryRunEvent, row.outcomes[i] == "completed");
        } else if (row.outcomes[i] == "completed") {
            EXPECT_EQ(lastStep, 9);
            EXPECT_EQ(lastStatus, texts::kCompleted) << "the completion is no status event";
            EXPECT_EQ(totals, std::set<long>{result["bytes_written"].get<long>()})
                << "progress.total changed within the run, or is not what was written";
        }
    }
    EXPECT_EQ(firstMessage, row.message);
}

INSTANTIATE_TEST_SUITE_P(
    Table, JsonRun,
    ::testing::Values(
        JsonRow{"a complete update", {"--emulate"}, 0, {"completed"}, ""},
        JsonRow{"a boot region already current", {"--emulate=boot=1.00"}, 0, {"completed"}, ""},
        JsonRow{"every block read back", {"--emulate", "--verify"}, 0, {"completed"}, ""},
        JsonRow{"not in version-update mode", {"--emulate=mode=off"}, 1, {"failed"}, texts::kSetUpdateMode},
        JsonRow{"a model code that is not accepted",
                {"--emulate=model=0x61"},
                1,
                {"failed"},
                texts::kIllegalDevice},
        JsonRow{"block 5 refused 32 times",
                {"--emulate=refuse-block=5:32"},
                1,
                {"failed"},
                texts::kTransferError},
        JsonRow{"a device that never answers", {"--emulate=silent"}, 1, {"failed"}, texts::kTimeOut1},
        JsonRow{"a lost answer and a refused erase, recovered",
                {"--emulate=drop-block=3:1,refuse-erase=2:2"},
                0,
                {"completed"},
                ""},
        JsonRow{"no boot version",
                {"--emulate=bad-read"},
                1,
                {"failed"},
                "the update ended before its first step: the device did not return its boot-region version"},
        JsonRow{"a block stored wrong, found by --verify",
                {"--emulate=corrupt-block=100", "--verify"},
                1,
                {"failed"},
                "Verify failed: image 129 differs at 0x05F800"},
        JsonRow{"a block stored wrong, found by the emulated device",
                {"--emulate=corrupt-block=100"},
                1,
                {"failed"},
                "the emulated device's flash does not hold what the update wrote"},
        JsonRow{"a dry run", {"--emulate", "--dry-run"}, 0, {"completed"}, ""},
        JsonRow{"a dry run of a device of another model",
                {"--emulate=model=0x61", "--dry-run"},
                1,
                {"failed"},
                texts::kIllegalDevice},
        JsonRow{"three devices, the second failing, the others carrying on",
                {"--all", "--emulate", "--emulated-devices=3", "--emulate=refuse-block=5:32@2"},
                1,
                {"completed", "failed", "completed"},
                texts::kTransferError},
        JsonRow{"three devices dry run",
                {"--all", "--emulate", "--emulated-devices=3", "--dry-run"},
                0,
                {"completed", "completed", "completed"},
                ""}),
    [](const auto& row) { return "row" + std::to_string(row.index); });

TEST(FlashProgram, AllPrefixesEveryLineWithItsDeviceAndEndsWithATable) {
    const Finished f = runProgram({"--all", "--emulate", "--emulated-devices", "2", kScale});
    ASSERT_FALSE(f.hung);
    EXPECT_EQ(f.status, 0) << f.err;
    const Lines lines = f.outLines();
    const auto table = std::find(lines.begin(), lines.end(), "");
    ASSERT_NE(table, lines.end()) << f.out;
    for (auto l = lines.begin(); l != table; ++l) {
        EXPECT_TRUE(l->rfind("Velmora: ", 0) == 0 || l->rfind("Velmora (2): ", 0) == 0) << *l;
    }
    EXPECT_EQ(std::count(lines.begin(), table, "Velmora: Version update completed."), 1);
    EXPECT_EQ(std::count(lines.begin(), table, "Velmora (2): Version update completed."), 1);
    ASSERT_EQ(lines.end() - table, 4) << f.out;  // blank line, heading, one row each
    EXPECT_EQ(table[2].substr(0, 29), "Velmora      0x63   completed");
    EXPECT_EQ(table[3].substr(0, 29), "Velmora (2)  0x63   completed");
}

// Ctrl-C must stop every device, not just the one the program happened to look at.
TEST(FlashProgram, CtrlCStopsEveryDeviceAndEachResultSaysSo) {
    // The last device's seventh step has begun: every device is writing.
    const std::string step7 = R"x({"address":143360,"device":"Velmora (3)","event":"step","kind":"write")x";
    const Finished f =
        runProgram({"--all", "--json", "--emulate", "--emulated-devices", "3", "--timing-scale=0.2"},
                   {SIGINT, step7}, 120s);
    ASSERT_FALSE(f.hung) << "the program did not end after the signal";
    EXPECT_EQ(f.status, 130);
    int interrupted = 0;
    for (const std::string& line : f.outLines()) {
        const json e = json::parse(line, nullptr, false);
        ASSERT_TRUE(e.is_object()) << line;
        interrupted += e["event"] == "result" && e["outcome"] == "interrupted" ? 1 : 0;
    }
    EXPECT_EQ(interrupted, 3) << f.out;
    EXPECT_LT(f.afterSignal, 20s);
}

}  // namespace
}  // namespace velmora
