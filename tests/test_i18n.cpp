// The language lookup, the TS reader, the catalogue carried in the programs, and an update shown in Japanese.

#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "emulator/CEmulatedDevice.h"
#include "emulator/LoopbackDevice.h"
#include "i18n/Catalogue.h"
#include "i18n/EmbeddedTs.h"
#include "i18n/Translate.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/RecordingView.h"
#include "support/UntilIdle.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using i18n::Language;

#ifndef _WIN32
struct LocaleCase {
    const char* lcAll;
    const char* lcMessages;
    const char* lang;
    Language expected;
};

class LanguageFromEnvironment : public ::testing::TestWithParam<LocaleCase> {};

TEST_P(LanguageFromEnvironment, FollowsTheFirstLocaleVariableSet) {
    const LocaleCase& c = GetParam();
    for (auto [name, value] :
         {std::pair{"LC_ALL", c.lcAll}, {"LC_MESSAGES", c.lcMessages}, {"LANG", c.lang}}) {
        value == nullptr ? unsetenv(name) : setenv(name, value, 1);
    }
    EXPECT_EQ(i18n::languageFromEnvironment(), c.expected);
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        unsetenv(name);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, LanguageFromEnvironment,
    ::testing::Values(LocaleCase{nullptr, nullptr, "ja_JP.UTF-8", Language::Japanese},
                      LocaleCase{nullptr, nullptr, "ja", Language::Japanese},
                      LocaleCase{nullptr, "ja_JP.eucJP", "en_US.UTF-8", Language::Japanese},
                      LocaleCase{"C", nullptr, "ja_JP.UTF-8", Language::English},
                      LocaleCase{"", "", "ja_JP.UTF-8", Language::Japanese},  // empty counts as not set
                      LocaleCase{nullptr, nullptr, "jam_JM.UTF-8", Language::English},
                      LocaleCase{nullptr, nullptr, "en_GB.UTF-8", Language::English},
                      LocaleCase{nullptr, nullptr, nullptr, Language::English}));
#endif

TEST(Arg, FillsNumberedPlaceholdersAndLeavesOtherPercentSigns) {
    const struct {
        const char* pattern;
        const char* expected;
    } cases[] = {{"Data transmit  %1 / %2 ", "Data transmit  a / bb "},
                 {"%2 before %1", "bb before a"},
                 {"100% done, %3 stays", "100% done, %3 stays"},
                 {"%%1 and 50%", "%a and 50%"},
                 {"ends in %", "ends in %"}};
    for (const auto& c : cases) {
        EXPECT_EQ(i18n::arg(c.pattern, {"a", "bb"}), c.expected) << c.pattern;
    }
}

std::string ts(const std::string& body) {
    return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<!DOCTYPE TS>\n<TS version=\"2.1\" "
           "language=\"ja_JP\">\n" +
           body + "</TS>\n";
}

TEST(ParseTs, ReadsFinishedTranslationsAndSkipsTheRest) {
    const struct {
        const char* name;
        std::string xml;
        bool ok;
        std::vector<std::string> expected;  // "context|source|translation"
    } cases[] = {
        {"entities and references",
         ts("<context><name>A&amp;B</name><message><source>Can&apos;t &lt;x&gt; &quot;y&quot;</source>"
            "<translation>&#x3042;&#12354;</translation></message></context>"),
         true,
         {"A&B|Can't <x> \"y\"|\xE3\x81\x82\xE3\x81\x82"}},
        {"several lines, two contexts",
         ts("<context>\n <name>One</name>\n <message>\n  <source>a\nb</source>\n  "
            "<translation>c\nd</translation>"
            "\n </message>\n</context>\n<context><name>Two</name><message><source>e</source>"
            "<translation>f</translation></message></context>"),
         true,
         {"One|a\nb|c\nd", "Two|e|f"}},
        {"unfinished, vanished, obsolete and empty are left out",
         ts("<context><name>C</name>"
            "<message><source>a</source><translation type=\"unfinished\">x</translation></message>"
            "<message><source>b</source><translation type=\"vanished\">y</translation></message>"
            "<message><source>c</source><translation type=\"obsolete\">z</translation></message>"
            "<message><source>d</source><translation></translation></message>"
            "<message><source>e</source><translation/></message>"
            "<message><source>f</source><translatorcomment>note</translatorcomment>"
            "<translation>g</translation></message></context>"),
         true,
         {"C|f|g"}},
        {"plural forms",
         ts("<context><name>C</name><message numerus=\"yes\"><source>a</source>"
            "<translation><numerusform>b</numerusform></translation></message></context>"),
         false,
         {}},
        {"an unknown entity",
         ts("<context><name>C</name><message><source>&nbsp;</source>"
            "<translation>x</translation></message></context>"),
         false,
         {}},
        {"a message cut short",
         ts("<context><name>C</name><message><source>a</source><translation>b"),
         false,
         {}},
        {"a context whose last message does not end",
         ts("<context><name>C</name><message><source>a</source><translation>b</translation></message>"
            "<message><source>c</source></context>"),
         false,
         {}},
        {"no TS at all", "<html></html>", false, {}},
    };
    for (const auto& c : cases) {
        std::vector<i18n::Message> messages;
        std::string error;
        EXPECT_EQ(i18n::parseTs(c.xml, messages, error), c.ok) << c.name << ": " << error;
        if (c.ok) {
            std::vector<std::string> got;
            for (const auto& m : messages) {
                got.push_back(m.context + "|" + m.source + "|" + m.translation);
            }
            EXPECT_EQ(got, c.expected) << c.name;
        } else {
            EXPECT_FALSE(error.empty()) << c.name;
        }
    }
}

// A message left unfinished would show in English in a Japanese program.
TEST(BuiltInCatalogue, EveryEmbeddedMessageIsTranslated) {
    std::size_t messages = 0;
    for (const i18n::EmbeddedTs& file : i18n::embeddedTsFiles()) {
        for (std::size_t at = file.text.find("<message>"); at != std::string_view::npos;
             at = file.text.find("<message>", at + 1)) {
            ++messages;
        }
    }
    EXPECT_GT(messages, 20u);
    EXPECT_EQ(i18n::builtInJapanese().size(), messages);
}

// ---- an update in Japanese ----

struct JapaneseCase {
    const char* scenario;
    bool verify;
    const char* english;  // the report's message; empty for a completed run
};

class JapaneseUpdate : public ::testing::TestWithParam<JapaneseCase> {
  protected:
    void SetUp() override { i18n::useBuiltIn(Language::Japanese); }
    void TearDown() override { i18n::useBuiltIn(Language::English); }
};

TEST_P(JapaneseUpdate, ShowsJapaneseAndReportsInEnglish) {
    const JapaneseCase& c = GetParam();
    testing::RecordingView view;
    // The device takes no time.
    emulator::CLoopbackDevice emulated(
        emulator::parseScenario(std::string(c.scenario) + ",link=none").scenario, 0);
    CUpdateCore core(emulated.driver(), view);
    core.setVerify(c.verify);
    core.startPolling();
    core.onExecute();
    ASSERT_TRUE(testing::waitUntilIdle(core, std::chrono::seconds(120)));
    core.waitForWorker();

    const RunReport& run = core.lastRun();
    EXPECT_EQ(run.message, c.english);
    EXPECT_EQ(i18n::untranslated(), std::vector<std::string>());
    const auto errors = view.only("error:");
    if (*c.english == '\0') {
        EXPECT_TRUE(errors.empty());
        EXPECT_EQ(view.count(std::string("status:") + texts::kCompleted), 1u);
        EXPECT_FALSE(view.only("status:Data transmit  0 / 16384").empty());
    } else {
        ASSERT_EQ(errors.size(), 1u);
        EXPECT_EQ(errors[0], "error:" + run.shownMessage);
        EXPECT_NE(run.shownMessage, run.message);
    }
    // The core hands its views English; each view that shows people text translates it.
    for (const std::string& e : view.only("status:")) {
        const std::string shown = texts::shownStatus(e.substr(7));
        EXPECT_EQ(shown.find("Erasing"), std::string::npos) << e;
        EXPECT_EQ(shown.find("Data transmit"), std::string::npos) << e;
        EXPECT_TRUE(e.substr(7).empty() || shown != e.substr(7)) << e;
    }
}

INSTANTIATE_TEST_SUITE_P(Table, JapaneseUpdate,
                         ::testing::Values(JapaneseCase{"", false, ""},
                                           JapaneseCase{"mode=off", false,
                                                        "Please set the Version update mode."},
                                           JapaneseCase{"corrupt-block=100", true,
                                                        "Verify failed: image 129 differs at 0x05F800"}));

}  // namespace
}  // namespace velmora
