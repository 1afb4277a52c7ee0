// velmora-flash with Japanese chosen: every run a person might make, in-process, checked for texts that have
// no translation or still read as English; the JSON stream stays English; tables and the live line are
// measured in terminal columns.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "cli/FlashCommand.h"
#include "cli/TextWidth.h"
#include "i18n/Catalogue.h"
#include "i18n/Translate.h"

namespace velmora::cli {
namespace {

// Japanese from the built-in catalogue for the test's length, English again after it.
class JapaneseRuns : public ::testing::Test {
  protected:
    void SetUp() override {
        auto table = std::make_shared<std::map<std::pair<std::string, std::string>, std::string>>();
        for (const i18n::Message& m : i18n::builtInJapanese()) {
            table->emplace(std::pair(m.context, m.source), m.translation);
        }
        i18n::use(i18n::Language::Japanese, [table](const char* context, const char* source) {
            const auto found = table->find({context, source});
            return found == table->end() ? std::nullopt : std::optional<std::string>(found->second);
        });
    }
    void TearDown() override { i18n::use(i18n::Language::English, nullptr); }
};

struct JapaneseRun {
    std::vector<std::string> args;
    int status;
    std::string shows;  // a Japanese text the run must print
};

void PrintTo(const JapaneseRun& run, std::ostream* os) {
    for (const std::string& a : run.args) {
        *os << a << ' ';
    }
}

const std::string kScale = "--timing-scale=0.02";

const JapaneseRun kRuns[] = {
    {{"--help"}, kExitCompleted, "使い方: velmora-flash"},
    {{"--bogus"}, kExitUsage, "不明なオプション --bogus"},
    {{"--emulate=link=none", "--in", "0"}, kExitUsage, "--in と --out"},
    {{"--emulate=link=none,nonsense"}, kExitUsage, "不明なキー 'nonsense'"},
    {{"--emulate=link=none", kScale}, kExitCompleted, "バージョンアップデートが完了しました。"},
    {{"--emulate=link=none,mode=off", kScale},
     kExitFailed,
     "デバイスをバージョンアップデートモードにしてください。"},
    {{"--emulate=link=none,corrupt-block=3", "--verify", kScale}, kExitFailed, "照合に失敗しました"},
    {{"--emulate=link=none", "--dry-run"}, kExitCompleted, "ドライラン: 更新の開始"},
    {{"--list", "--emulate"}, kExitCompleted, "MIDI IN ポート:"},
    {{"--all", "--emulate=link=none", "--emulated-devices", "2", kScale}, kExitCompleted, "再送"},
    {{"--device", "/nonexistent/velmora-port"}, kExitUsage, "そのようなデバイスはありません"},
    {{"--device", "/dev/null"}, kExitUsage, "/dev/null は MIDI デバイスではありません"},
};

// Three English words in a row, as "[a-z]{2,} [a-z]{2,} [a-z]{2,}" finds them: a sentence left
// untranslated. (No std::regex: GCC 12's warns inside its own headers under the sanitizers.)
bool readsAsEnglish(const std::string& line) {
    std::vector<std::string> words;
    std::istringstream in(line);
    for (std::string word; std::getline(in, word, ' ');) {
        words.push_back(word);
    }
    const auto lower = [](char c) { return c >= 'a' && c <= 'z'; };
    const auto lowerRun = [&](const std::string& w, std::size_t from, std::size_t to) {
        return to - from >= 2 && std::all_of(w.begin() + static_cast<std::ptrdiff_t>(from),
                                             w.begin() + static_cast<std::ptrdiff_t>(to), lower);
    };
    for (std::size_t i = 1; i + 1 < words.size(); ++i) {
        const std::string& before = words[i - 1];
        const std::string& after = words[i + 1];
        if (before.size() >= 2 && lowerRun(before, before.size() - 2, before.size()) &&
            lowerRun(words[i], 0, words[i].size()) && after.size() >= 2 && lowerRun(after, 0, 2)) {
            return true;
        }
    }
    return false;
}

class EveryRun : public JapaneseRuns, public ::testing::WithParamInterface<JapaneseRun> {};

TEST_P(EveryRun, SaysEverythingInJapanese) {
    const JapaneseRun& run = GetParam();
    std::ostringstream out;
    std::ostringstream err;
    const int status = runProgram(run.args, Output{out, err, false, 80});
    EXPECT_EQ(status, run.status) << out.str() << err.str();
    const std::string all = out.str() + err.str();
    EXPECT_NE(all.find(run.shows), std::string::npos) << all;
    EXPECT_EQ(i18n::untranslated(), std::vector<std::string>());

    // Port names and option names may stay English; no sentence may.
    std::istringstream lines(all);
    for (std::string line; std::getline(lines, line);) {
        EXPECT_FALSE(readsAsEnglish(line)) << line;
    }
    EXPECT_TRUE(readsAsEnglish("velmora-flash: Version update completed."));
}

INSTANTIATE_TEST_SUITE_P(Table, EveryRun, ::testing::ValuesIn(kRuns));

// Every string anywhere in an event, port names aside, is English: plain ASCII here.
bool allEnglish(const nlohmann::json& value) {
    if (value.is_string()) {
        const std::string s = value;
        return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    }
    return !value.is_structured() ||
           std::all_of(value.begin(), value.end(), [](const nlohmann::json& v) { return allEnglish(v); });
}

TEST_F(JapaneseRuns, TheJsonStreamStaysEnglishWhileThePeoplesLinesAreJapanese) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(runProgram({"--emulate=link=none,mode=off", "--json", kScale}, Output{out, err, false, 80}),
              kExitFailed);
    // Every line, not only the result: the status events once carried the core's translated texts.
    std::istringstream lines(out.str());
    for (std::string line; std::getline(lines, line);) {
        EXPECT_TRUE(allEnglish(nlohmann::json::parse(line))) << line;
    }
    const std::string lastLine = out.str().substr(out.str().rfind('\n', out.str().size() - 2) + 1);
    const nlohmann::json result = nlohmann::json::parse(lastLine);
    EXPECT_EQ(result["event"], "result");
    EXPECT_EQ(result["outcome"], "failed");
    EXPECT_EQ(result["message"], "Please set the Version update mode.");
    EXPECT_NE(err.str().find("デバイスをバージョンアップデートモードにしてください。"), std::string::npos)
        << err.str();
}

TEST_F(JapaneseRuns, TheTableOfAllDevicesKeepsItsColumnsOnATerminal) {
    std::ostringstream out;
    std::ostringstream err;
    runProgram({"--all", "--emulate=link=none", "--emulated-devices", "3", "--dry-run"},
               Output{out, err, false, 80});
    std::vector<std::string> table;
    std::istringstream lines(out.str().substr(out.str().rfind("\n\n") + 2));
    for (std::string line; std::getline(lines, line);) {
        table.push_back(line);
    }
    ASSERT_EQ(table.size(), 4u) << out.str();
    // Each column starts where the header's does, counted in columns: the header is Japanese, the rows not.
    const std::size_t outcomeAt = displayWidth(table[0].substr(0, table[0].find("結果")));
    for (const std::string& row : table) {
        EXPECT_EQ(displayWidth(row), displayWidth(table[0])) << row;
    }
    EXPECT_EQ(displayWidth(table[1].substr(0, table[1].find("完了"))), outcomeAt) << table[1];
}

struct Width {
    std::string text;
    std::size_t columns;
    std::size_t fitTo;
    std::string fitted;
};

TEST(TextWidth, CountsWideCharactersTwiceAndNeverCutsOne) {
    const Width cases[] = {
        {"Step 1/9", 8, 4, "Step"},
        {"ステップ", 8, 5, "ステ"},
        {"0x0A4000 ～ 0x0A4FFF", 20, 10, "0x0A4000 "},
        {"USB オーディオ デバイス", 23, 6, "USB オ"},
        {"\xE3\x82", 2, 1, "\xE3"},  // a cut character: each stray byte one column
        {"", 0, 3, ""},
    };
    for (const Width& c : cases) {
        EXPECT_EQ(displayWidth(c.text), c.columns) << c.text;
        EXPECT_EQ(fitWidth(c.text, c.fitTo), c.fitted) << c.text;
        EXPECT_EQ(displayWidth(padWidth(c.text, c.columns + 2)), c.columns + 2) << c.text;
    }
}

}  // namespace
}  // namespace velmora::cli
