// The pre-selection rule on plain port names: which entry a copy of the program picks in a port list.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/PortPreselect.h"
#include "support/DescribedRow.h"

namespace velmora::midi {
namespace {

using velmora::testing::PrintTo;

// "USB オーディオ デバイス" in UTF-8, as ports report names inside the program.
const std::string kJapanese =
    "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
    "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9";
// The same name in code page 932, as an old driver might hand it over unconverted.
const std::string kJapaneseCp932 =
    "USB \x83\x49\x81\x5B\x83\x66\x83\x42\x83\x49 \x83\x66\x83\x6F\x83\x43\x83\x58";

struct PreselectRow {
    const char* what;
    std::vector<std::string> names;
    int instanceNumber;
    int expected;
};

class PreselectTest : public ::testing::TestWithParam<PreselectRow> {};

TEST_P(PreselectTest, PicksTheLastMatchingEntryOrNone) {
    const PreselectRow& row = GetParam();
    EXPECT_EQ(preselect(row.names, row.instanceNumber), row.expected) << row.what;
}

const PreselectRow kRows[] = {
    {"the only accepted name, at position 2, is found past other ports",
     {"Midi Through Port-0", "Synth", "USB Audio Device", "Keyboard"},
     1,
     2},
    {"of two ports with the same accepted name the later one wins, not the first found",
     {"Synth", "USB Audio Device", "Keyboard", "USB Audio Device"},
     1,
     3},
    {"the device's own name at 0 does not outrank an accepted name further down",
     {"Velmora", "a", "b", "c", "USB Audio Device"},
     1,
     4},
    {"the device's own name alone is accepted", {"Synth", "Velmora"}, 1, 1},
    {"the Japanese system's name is compared in UTF-8", {"Synth", kJapanese, "Keyboard"}, 1, 1},
    {"the Japanese name in code page 932 bytes is not the UTF-8 name", {kJapaneseCp932}, 1, -1},
    {"a name differing only in letter case is not taken", {"USB audio device", "USB AUDIO DEVICE"}, 1, -1},
    {"a trailing blank makes it another name", {"USB Audio Device "}, 1, -1},
    {"a leading blank makes it another name", {" Velmora"}, 1, -1},
    {"a prefix of an accepted name is not taken", {"USB Audio", "Velm"}, 1, -1},
    {"an empty list selects nothing", {}, 1, -1},
    {"copy 2 takes the name followed by \" (2)\"",
     {"USB Audio Device", "USB Audio Device (2)", "Synth"},
     2,
     1},
    {"copy 2 leaves the plain name to copy 1", {"USB Audio Device", "Velmora"}, 2, -1},
    {"copy 1 leaves the names of copy 2 alone", {"Velmora (2)", "USB Audio Device (2)"}, 1, -1},
    {"copy 2 needs the blank before the parenthesis", {"Velmora(2)"}, 2, -1},
    {"copy 2 does not take another copy's number", {"Velmora (3)", "Velmora (12)"}, 2, -1},
    {"copy 20 uses both digits", {"Velmora (2)", "Velmora (20)"}, 20, 1},
    {"the Japanese name carries the copy number too", {kJapanese + " (2)"}, 2, 0},
    {"a long name is matched on its first 39 bytes, cut at a character, as a 40-byte buffer holds it",
     {kJapanese + " (20)" + "\xE3\x83\x87"},
     20,
     0},
    {"a long name that only starts with an accepted name is not taken",
     {"USB Audio Device, second port"},
     1,
     -1},
};

INSTANTIATE_TEST_SUITE_P(Rows, PreselectTest, ::testing::ValuesIn(kRows));

TEST(CandidatePortNames, CopyTwoAppendsItsNumberToEachAcceptedNameInOrder) {
    const std::vector<std::string> expected = {kJapanese + " (2)", "USB Audio Device (2)", "Velmora (2)"};
    EXPECT_EQ(candidatePortNames(2), expected);
}

TEST(CandidatePortNames, CopyOneUsesTheAcceptedNamesUnchanged) {
    const std::vector<std::string> expected = {kJapanese, "USB Audio Device", "Velmora"};
    EXPECT_EQ(candidatePortNames(1), expected);
}

}  // namespace
}  // namespace velmora::midi
