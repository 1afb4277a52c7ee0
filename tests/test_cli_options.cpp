// velmora-flash's argument handling: what each accepted argument list asks for, and that every refused one is
// refused with a reason (the program then exits 2) instead of being half-understood.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Options.h"
#include "emulator/Scenario.h"
#include "i18n/Translate.h"
#include "support/DescribedRow.h"
#include "update/Timing.h"

namespace velmora::cli {
namespace {

using velmora::testing::PrintTo;
using Args = std::vector<std::string>;

Options withScenario(const std::string& text) {
    Options o;
    o.source = PortSource::Emulated;
    o.scenario = emulator::parseScenario(text).scenario;
    return o;
}

struct GoodRow {
    const char* what;
    Args args;
    Options expected;
};

Options make(auto&& edit) {
    Options o;
    edit(o);
    return o;
}

class AcceptedArguments : public ::testing::TestWithParam<GoodRow> {};

TEST_P(AcceptedArguments, ParseToTheseOptions) {
    const ParsedArguments parsed = parseArguments(GetParam().args);
    ASSERT_TRUE(parsed.ok()) << parsed.error;
    EXPECT_EQ(parsed.options, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AcceptedArguments,
    ::testing::Values(
        GoodRow{"nothing: an update on the pre-selected platform ports", {}, Options{}},
        GoodRow{"--list alone", {"--list"}, make([](Options& o) { o.command = Command::List; })},
        GoodRow{"ports by number and by a name with blanks",
                {"--in", "2", "--out", "USB Audio Device"},
                make([](Options& o) {
                    o.input = "2";
                    o.output = "USB Audio Device";
                })},
        GoodRow{"the name=value form keeps everything after the first '='",
                {"--in=Velmora (2)", "--out=a=b"},
                make([](Options& o) {
                    o.input = "Velmora (2)";
                    o.output = "a=b";
                })},
        GoodRow{"--emulate without a scenario is the default device", {"--emulate"}, withScenario("")},
        GoodRow{"--emulate= with nothing after it is the default device", {"--emulate="}, withScenario("")},
        GoodRow{"--emulate with scenario keys",
                {"--emulate=boot=1.00,link=none"},
                withScenario("boot=1.00,link=none")},
        GoodRow{"a raw device path", {"--device", "/dev/ttyUSB0"}, make([](Options& o) {
                    o.source = PortSource::Device;
                    o.devicePath = "/dev/ttyUSB0";
                })},
        GoodRow{"the highest copy number", {"--instance", "20"}, make([](Options& o) { o.instance = 20; })},
        GoodRow{"a timing scale", {"--emulate", "--timing-scale=0.01"}, make([](Options& o) {
                    o.source = PortSource::Emulated;
                    o.timingScale = 0.01;
                })},
        GoodRow{"a timing scale of exactly 1", {"--timing-scale", "1", "--emulate"}, withScenario("")},
        GoodRow{"the emulated device's ports listed for copy 3",
                {"--list", "--emulate", "--instance", "3"},
                make([](Options& o) {
                    o.command = Command::List;
                    o.source = PortSource::Emulated;
                    o.instance = 3;
                })},
        GoodRow{"every device, as events, a dry run", {"--all", "--json", "--dry-run"}, make([](Options& o) {
                    o.all = o.json = o.dryRun = true;
                })},
        GoodRow{"four emulated devices, one scenario for all, another for device 3",
                {"--all", "--emulate=boot=1.00", "--emulated-devices", "4", "--emulate=refuse-block=5:32@3"},
                make([](Options& o) {
                    o = withScenario("boot=1.00");
                    o.all = true;
                    o.emulatedDevices = 4;
                    o.deviceScenarios[3] = emulator::parseScenario("refuse-block=5:32").scenario;
                })},
        GoodRow{"a scenario for one device alone makes the devices emulated",
                {"--emulated-devices=2", "--emulate=mode=off@2"},
                make([](Options& o) {
                    o.source = PortSource::Emulated;
                    o.emulatedDevices = 2;
                    o.deviceScenarios[2] = emulator::parseScenario("mode=off").scenario;
                })},
        GoodRow{"help wins over anything else, even a bad option",
                {"--in", "0", "--bogus", "-h"},
                make([](Options& o) { o.command = Command::Help; })},
        GoodRow{"the version, whatever else the line holds",
                {"--list", "--bogus", "--version"},
                make([](Options& o) { o.command = Command::Version; })},
        GoodRow{"help wins over the version", {"--version", "--help"}, make([](Options& o) {
                    o.command = Command::Help;
                })}),
    [](const auto& row) { return "row" + std::to_string(row.index); });

struct BadRow {
    const char* what;
    Args args;
    std::string error;  // the whole message, so a misleading one shows
};

class RefusedArguments : public ::testing::TestWithParam<BadRow> {};

TEST_P(RefusedArguments, AreRefusedWithTheirReason) {
    const ParsedArguments parsed = parseArguments(GetParam().args);
    EXPECT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.error, GetParam().error);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedArguments,
    ::testing::Values(
        BadRow{"a value missing at the end", {"--in"}, "--in needs a value"},
        BadRow{"an empty value", {"--out="}, "--out needs a value"},
        BadRow{"the same port option twice", {"--in", "1", "--in", "2"}, "--in given twice"},
        BadRow{"--emulate twice", {"--emulate", "--emulate=mode=off"}, "--emulate given twice"},
        BadRow{"a scenario the emulator refuses, in the parser's own words",
               {"--emulate=model=0x80"},
               "--emulate: " + emulator::parseScenario("model=0x80").error},
        BadRow{"an unknown scenario key",
               {"--emulate=fast"},
               "--emulate: " + emulator::parseScenario("fast").error},
        BadRow{"two port sources",
               {"--emulate", "--device", "/dev/x"},
               "--device and --emulate exclude each other"},
        BadRow{"a port name with a device path",
               {"--device", "/dev/x", "--in", "0"},
               "--device brings its own two ports; --in and --out choose among the platform's"},
        BadRow{"a port name with the emulated device",
               {"--emulate", "--out", "0"},
               "--emulate brings its own two ports; --in and --out choose among the platform's"},
        BadRow{"a port name with --list",
               {"--list", "--in", "0"},
               "--list shows the ports; --in and --out choose one for an update"},
        BadRow{"copy 0", {"--instance", "0"}, "--instance takes a number from 1 to 20, not \"0\""},
        BadRow{"copy 21, above the instance limit",
               {"--instance", "21"},
               "--instance takes a number from 1 to 20, not \"21\""},
        BadRow{"a copy number with trailing text",
               {"--instance", "2x"},
               "--instance takes a number from 1 to 20, not \"2x\""},
        BadRow{"a timing scale of 0 would make every wait instant",
               {"--timing-scale", "0"},
               "--timing-scale takes a factor from 0.01 to 1, not \"0\""},
        BadRow{"a timing scale above 1",
               {"--timing-scale", "1.5"},
               "--timing-scale takes a factor from 0.01 to 1, not \"1.5\""},
        BadRow{"a timing scale that is not a number",
               {"--timing-scale", "nan"},
               "--timing-scale takes a factor from 0.01 to 1, not \"nan\""},
        BadRow{"a timing scale so small that every wait collapses to a millisecond",
               {"--emulate", "--timing-scale", "0.002"},
               "--timing-scale takes a factor from 0.01 to 1, not \"0.002\""},
        BadRow{"a timing scale that rounds every wait to nothing",
               {"--emulate", "--timing-scale=1e-300"},
               "--timing-scale takes a factor from 0.01 to 1, not \"1e-300\""},
        BadRow{"an escape sequence typed as an option reaching the terminal raw",
               {"--\x1B[2J"},
               "unknown option --\\x1B[2J"},
        BadRow{"a quote and a byte that is no UTF-8 in a stray argument printed raw",
               {"a\"b\xFF"},
               "unexpected argument \"a\\\"b\\xFF\""},
        BadRow{"a control character in a copy number printed raw",
               {"--instance", "2\x07"},
               "--instance takes a number from 1 to 20, not \"2\\x07\""},
        BadRow{"a timing scale on the platform's ports would cut a real device's waits",
               {"--timing-scale", "0.5"},
               kTimingScaleOnlyEmulated},
        BadRow{"a timing scale on a device path",
               {"--device", "/dev/x", "--timing-scale=0.1"},
               kTimingScaleOnlyEmulated},
        BadRow{"--all with a named port",
               {"--all", "--in", "0"},
               "--all updates every device it finds; --in and --out choose one"},
        BadRow{"--all with one copy's names",
               {"--all", "--instance", "2"},
               "--all looks for the names of every copy; --instance chooses one copy's"},
        BadRow{"--all with a device path",
               {"--all", "--device", "/dev/x"},
               "--all updates every device on the MIDI ports; --device is one device"},
        BadRow{"no emulated device",
               {"--emulate", "--emulated-devices", "0"},
               "--emulated-devices takes a number from 1 to 20, not \"0\""},
        BadRow{"more emulated devices than copies",
               {"--emulate", "--emulated-devices", "21"},
               "--emulated-devices takes a number from 1 to 20, not \"21\""},
        BadRow{"emulated devices without --emulate",
               {"--emulated-devices", "2"},
               "--emulated-devices sets how many devices --emulate shows: use it with --emulate"},
        BadRow{"a scenario for a device that is not there",
               {"--emulate", "--emulated-devices", "2", "--emulate=silent@3"},
               "--emulate=...@3: there are 2 emulated devices (--emulated-devices N)"},
        BadRow{"a device number out of range",
               {"--emulate=silent@0"},
               "--emulate=SCENARIO@K takes a device number K from 1 to 20, not \"0\""},
        BadRow{"one device's scenario twice",
               {"--emulated-devices=3", "--emulate=silent@2", "--emulate=mode=off@2"},
               "--emulate=...@2 given twice"},
        BadRow{"a dry run has nothing to verify",
               {"--dry-run", "--verify"},
               "--dry-run writes nothing, so --verify has nothing to read back"},
        BadRow{"--json with --list", {"--list", "--json"}, "--json belongs to an update; --list runs none"},
        BadRow{"--all twice", {"--all", "--all"}, "--all given twice"},
        BadRow{"an unknown option", {"--bogus"}, "unknown option --bogus"},
        BadRow{"an option that only starts like a known one", {"--input", "0"}, "unknown option --input"},
        BadRow{"a stray argument", {"Velmora"}, "unexpected argument \"Velmora\""}),
    [](const auto& row) { return "row" + std::to_string(row.index); });

// Guards a scaled wait rounded down: 0.015 of the 100 ms retry pause is 1.5 ms, never 1.
TEST(TimingScale, RoundsEveryWaitUp) {
    const Timing t = Timing::scaled(0.015);
    EXPECT_EQ(t.retryPause, std::chrono::milliseconds(2));
    EXPECT_EQ(t.replyTimeout, std::chrono::milliseconds(450));
    EXPECT_EQ(Timing::scaled(kSmallestTimingScale).pollPeriod, std::chrono::milliseconds(1));
}

// Guards an option the parser takes but --help does not explain, or one whose help lost its scenario keys and
// exit statuses.
TEST(HelpText, ExplainsEveryRowOfTheOptionsTable) {
    const std::string help = helpText("velmora-flash");
    for (const OptionRow& row : optionTable()) {
        EXPECT_NE(std::string_view(row.usage).find(row.name), std::string_view::npos) << row.usage;
        EXPECT_NE(help.find("  " + std::string(row.usage) + " "), std::string::npos) << row.usage;
        const std::string firstLine = std::string(row.help).substr(0, std::string_view(row.help).find('\n'));
        EXPECT_FALSE(firstLine.empty()) << row.name << " has no help of its own";
        EXPECT_NE(help.find(firstLine + "\n"), std::string::npos) << row.name << "'s help is not shown";
    }
    EXPECT_NE(help.find(emulator::scenarioHelp()), std::string::npos) << "the scenario keys are missing";
    for (const char* status : {"0 completed", "1 the update failed", "2 bad usage", "130 interrupted"}) {
        EXPECT_NE(help.find(status), std::string::npos) << status;
    }
}

// The arguments that give `name` alone, with a valid value where it takes one.
Args given(std::string_view name) {
    const std::map<std::string_view, std::string> values = {{"--in", "0"},
                                                            {"--out", "0"},
                                                            {"--device", "/dev/x"},
                                                            {"--instance", "2"},
                                                            {"--emulated-devices", "2"},
                                                            {"--timing-scale", "0.5"}};
    for (const OptionRow& row : optionTable()) {
        if (row.name == name) {
            return row.takes == Takes::Value ? Args{row.name, values.at(name)} : Args{row.name};
        }
    }
    ADD_FAILURE() << name << " is in a rule but not in the options table";
    return {};
}

// Guards a pair of options accepted together in one order, or refused with another pair's reason.
TEST(OptionRules, AreEnforcedInBothOrdersWithTheirOwnText) {
    const auto together = [](Args a, const Args& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    for (const OptionRule& rule : optionRules()) {
        const std::string error = i18n::arg(rule.error, {rule.first});
        const Args first = given(rule.first);
        const Args second = given(rule.second);
        if (rule.kind == OptionRule::Needs) {
            EXPECT_EQ(parseArguments(first).error, error) << rule.first << " alone";
            EXPECT_TRUE(parseArguments(together(first, second)).ok())
                << rule.first << " with " << rule.second;
        } else {
            EXPECT_EQ(parseArguments(together(first, second)).error, error)
                << rule.first << ", " << rule.second;
            EXPECT_EQ(parseArguments(together(second, first)).error, error)
                << rule.second << ", " << rule.first;
        }
    }
}

#ifdef VELMORA_MAN_PAGE
// Guards an option added to the parser that the manual page never mentions.
TEST(ManualPage, NamesEveryOption) {
    std::ifstream file(VELMORA_MAN_PAGE);
    std::stringstream read;
    read << file.rdbuf();
    std::string page = read.str();
    ASSERT_FALSE(page.empty()) << VELMORA_MAN_PAGE;
    for (std::size_t at = 0; (at = page.find("\\-", at)) != std::string::npos;) {
        page.erase(at, 1);  // roff's "\-" is a plain '-'
    }
    const auto partOfName = [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; };
    for (const OptionRow& row : optionTable()) {
        const std::string name = row.name;
        bool named = false;
        for (std::size_t at = page.find(name); at != std::string::npos && !named;
             at = page.find(name, at + 1)) {
            named = at + name.size() == page.size() || !partOfName(page[at + name.size()]);
        }
        EXPECT_TRUE(named) << name << " is not in the manual page";
    }
}
#endif

}  // namespace
}  // namespace velmora::cli
