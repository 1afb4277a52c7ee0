// The emulated device's scenario text: every key accepted with its effect, and the texts that must be refused
// with a message that names what is wrong.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "emulator/Scenario.h"

namespace velmora::emulator {
namespace {

struct Accepted {
    const char* what;
    const char* text;
    std::function<void(Scenario&)> expect;  // turns the default into the expected scenario
};

const Accepted kAccepted[] = {
    {"empty text is the default device", "", [](Scenario&) {}},
    {"model code in hex", "model=0x62", [](Scenario& s) { s.model = 0x62; }},
    {"model code in decimal", "model=98", [](Scenario& s) { s.model = 98; }},
    {"boot version bytes", "boot=1.00",
     [](Scenario& s) {
         s.bootVersion = {'1', '.', '0', '0'};
     }},
    {"blank flash", "boot=blank", [](Scenario& s) { s.blankFlash = true; }},
    {"not in update mode", "mode=off", [](Scenario& s) { s.updateMode = false; }},
    {"erase refusals", "refuse-erase=4:6",
     [](Scenario& s) {
         s.refuseErase = {4, 6};
     }},
    {"block refusals", "refuse-block=113:31",
     [](Scenario& s) {
         s.refuseBlock = {113, 31};
     }},
    {"lost answers", "drop-block=2:3",
     [](Scenario& s) {
         s.dropBlock = {2, 3};
     }},
    {"late answer", "late-block=7:1500",
     [](Scenario& s) {
         s.lateBlock = {7, 1500};
     }},
    {"answers lost at random", "lose=5:42",
     [](Scenario& s) {
         s.loss = {5, 42};
     }},
    {"late erase", "late-erase=2:10000",
     [](Scenario& s) {
         s.lateErase = {2, 10000};
     }},
    {"block stored wrong", "corrupt-block=100", [](Scenario& s) { s.corruptBlock = 100; }},
    {"echoing link", "echo", [](Scenario& s) { s.echo = true; }},
    {"wrong read checksum", "bad-read", [](Scenario& s) { s.badRead = true; }},
    {"silent", "silent", [](Scenario& s) { s.silent = true; }},
    {"end status", "end-status=5", [](Scenario& s) { s.endStatus = 5; }},
    {"unplug", "unplug=12", [](Scenario& s) { s.unplugAt = 12; }},
    {"chatter", "chatter", [](Scenario& s) { s.chatter = true; }},
    {"done replies", "done-reply", [](Scenario& s) { s.doneReply = true; }},
    {"instant link", "link=none", [](Scenario& s) { s.link = Link::None; }},
    {"din link", "link=din", [](Scenario& s) { s.link = Link::Din; }},
    {"several keys, blanks around items", " model=0x62 , refuse-block=3:2,link=none, chatter ",
     [](Scenario& s) {
         s.model = 0x62;
         s.refuseBlock = {3, 2};
         s.link = Link::None;
         s.chatter = true;
     }},
};

TEST(EmulatorScenario, EveryKeyTakesEffectAndNothingElseChanges) {
    for (const Accepted& row : kAccepted) {
        SCOPED_TRACE(row.what);
        const ScenarioParse parsed = parseScenario(row.text);
        ASSERT_TRUE(parsed.ok()) << parsed.error;
        Scenario expected;
        row.expect(expected);
        EXPECT_EQ(parsed.scenario, expected);
    }
}

// The demo and the command line print the scenario they run; a description that parses into another
// scenario would make a reported run impossible to repeat.
TEST(EmulatorScenario, DescriptionParsesBackIntoTheSameScenario) {
    for (const Accepted& row : kAccepted) {
        SCOPED_TRACE(row.what);
        const Scenario s = parseScenario(row.text).scenario;
        const ScenarioParse again = parseScenario(describeScenario(s));
        ASSERT_TRUE(again.ok()) << describeScenario(s) << ": " << again.error;
        EXPECT_EQ(again.scenario, s);
    }
}

struct Refused {
    const char* what;
    const char* text;
    const char* mustMention;  // the offending key or value, so the user can find it
};

const Refused kRefused[] = {
    {"unknown key", "model=0x62,flood", "unknown key 'flood'"},
    {"misspelt key", "refuse_block=1:1", "unknown key 'refuse_block'"},
    {"value missing", "model", "'model' needs a value"},
    {"value empty", "end-status=", "'end-status' needs a value"},
    {"value on a flag", "silent=yes", "'silent' takes no value"},
    {"model code above 7 bits", "model=0x80", "model=0x80"},
    {"model code not a number", "model=sixty", "model=sixty"},
    {"negative number", "end-status=-1", "end-status=-1"},
    {"status above 7 bits", "end-status=128", "end-status=128"},
    {"pair without colon", "refuse-block=3", "refuse-block=3"},
    {"pair with letters", "refuse-erase=x:2", "refuse-erase=x:2"},
    {"K of zero", "refuse-block=0:2", "K counts from 1"},
    {"N of zero", "drop-block=2:0", "drop-block=2:0"},
    {"delay of zero", "late-block=2:0", "MS must be"},
    {"number overflowing 32 bits", "refuse-block=99999999999:1", "refuse-block=99999999999:1"},
    {"unplug at zero", "unplug=0", "unplug=0"},
    {"corrupt block zero", "corrupt-block=0", "corrupt-block=0"},
    {"loss above a hundred percent", "lose=101:1", "percentage"},
    {"unknown link", "link=wifi", "link=wifi"},
    {"unknown mode", "mode=maybe", "mode=maybe"},
    {"boot version too short", "boot=1.0", "boot=1.0"},
    {"boot version not printable", "boot=1\t00", "boot="},
    {"duplicate key", "refuse-block=1:1,refuse-block=2:1", "duplicate key 'refuse-block'"},
    {"empty item between commas", "silent,,chatter", "item 2 is empty"},
    {"trailing comma", "silent,", "item 2 is empty"},
    {"key missing before =", "=3", "no key"},
};

TEST(EmulatorScenario, BadTextsAreRefusedWithAMessageNamingTheCulprit) {
    for (const Refused& row : kRefused) {
        SCOPED_TRACE(row.what);
        const ScenarioParse parsed = parseScenario(row.text);
        EXPECT_FALSE(parsed.ok()) << row.text << " was accepted";
        EXPECT_NE(parsed.error.find(row.mustMention), std::string::npos)
            << "error for '" << row.text << "' was: " << parsed.error;
    }
}

// A refused text must not leave half of its keys applied for a caller who ignores the error.
TEST(EmulatorScenario, RefusedTextYieldsTheDefaultScenario) {
    const ScenarioParse parsed = parseScenario("model=0x62,silent,link=none,bogus");
    ASSERT_FALSE(parsed.ok());
    EXPECT_EQ(parsed.scenario, Scenario{});
}

}  // namespace
// The demo programs' argument: nothing or one scenario; anything else is refused with the usage and the keys.
TEST(EmulatorScenario, DemoArgumentIsOneOptionalScenario) {
    const struct {
        std::vector<std::string> args;
        bool accepted;
        const char* firstLine;  // of the usage, when refused
    } cases[] = {{{}, true, ""},
                 {{"mode=off"}, true, ""},
                 {{"model=banana"}, false, "demo: the scenario \"model=banana\" is not valid: "},
                 {{"mode=off", "link=none"}, false, "usage: demo [scenario]"}};
    for (const auto& c : cases) {
        std::string usage;
        const std::optional<Scenario> scenario = demoScenario(c.args, "demo", usage);
        EXPECT_EQ(scenario.has_value(), c.accepted) << c.firstLine;
        if (scenario) {
            EXPECT_EQ(*scenario, parseScenario(c.args.empty() ? "" : c.args.front()).scenario);
            EXPECT_TRUE(usage.empty());
        } else {
            EXPECT_EQ(usage.rfind(c.firstLine, 0), 0u) << usage;
            EXPECT_NE(usage.find(scenarioHelp()), std::string::npos);
        }
    }
}

}  // namespace velmora::emulator
