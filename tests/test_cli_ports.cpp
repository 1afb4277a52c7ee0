// Which ports velmora-flash uses: with no port named, the ports the window would pre-select (the last entry
// whose name equals a candidate byte for byte); with --in/--out, a position or an exact name, refused with a
// reason when it does not pick exactly one port.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "cli/PortChoice.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/DescribedRow.h"

namespace velmora::cli {
namespace {

using velmora::testing::PrintTo;
using Names = std::vector<std::string>;

const std::string kJapanese =
    "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
    "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9";

struct Row {
    const char* what;
    Names names;
    std::optional<std::string> wanted;
    int instance;
    int index;          // expected, or -1
    std::string error;  // expected when index is -1
};

class PortChoiceTable : public ::testing::TestWithParam<Row> {};

TEST_P(PortChoiceTable, PicksThisPortOrSaysWhy) {
    const Row& row = GetParam();
    const PortChoice choice = choosePort(row.names, row.wanted, row.instance, Direction::In);
    EXPECT_EQ(choice.index, row.index);
    EXPECT_EQ(choice.error, row.error);
}

const std::string kNoneOfCopy1 = "no MIDI IN port is named \"" + kJapanese +
                                 "\", \"USB Audio Device\" or \"Velmora\"; choose one with --in (see --list)";

INSTANTIATE_TEST_SUITE_P(
    PreSelection, PortChoiceTable,
    ::testing::Values(
        Row{"the only accepted name, at position 2",
            {"Midi Through", "Synth", "USB Audio Device"},
            {},
            1,
            2,
            ""},
        Row{"two equal names: the later one",
            {"x", "USB Audio Device", "y", "USB Audio Device"},
            {},
            1,
            3,
            ""},
        Row{"the device's own name does not outrank a later accepted one",
            {"Velmora", "a", "b", "c", "USB Audio Device"},
            {},
            1,
            4,
            ""},
        Row{"the Japanese name, compared as UTF-8 bytes", {"a", kJapanese, "b"}, {}, 1, 1, ""},
        Row{"letter case and a trailing blank make a different name",
            {"usb audio device", "USB Audio Device "},
            {},
            1,
            -1,
            kNoneOfCopy1},
        Row{"copy 2 takes the name with its number",
            {"USB Audio Device (2)", "USB Audio Device"},
            {},
            2,
            0,
            ""},
        Row{"copy 2 leaves the plain name alone",
            {"USB Audio Device", "Velmora"},
            {},
            2,
            -1,
            "no MIDI IN port is named \"" + kJapanese +
                " (2)\", \"USB Audio Device (2)\" or \"Velmora (2)\"; choose one with --in (see --list)"},
        Row{"no ports at all", {}, {}, 1, -1, "there is no MIDI IN port"}),
    [](const auto& row) { return "row" + std::to_string(row.index); });

INSTANTIATE_TEST_SUITE_P(
    Named, PortChoiceTable,
    ::testing::Values(
        Row{"a position", {"a", "b", "c"}, "1", 1, 1, ""},
        Row{"a position with leading zeros", {"a", "b", "c"}, "002", 1, 2, ""},
        Row{"position 0 written as 00", {"a"}, "00", 1, 0, ""},
        Row{"a position past the end", {"a", "b", "c"}, "3", 1, -1, "MIDI IN has no port 3 (ports 0 to 2)"},
        Row{"a position in a list of one", {"a"}, "1", 1, -1, "MIDI IN has no port 1 (there is only port 0)"},
        Row{"a position that no integer holds is refused, not wrapped",
            {"a"},
            "18446744073709551617",
            1,
            -1,
            "MIDI IN has no port 18446744073709551617 (there is only port 0)"},
        Row{"a position in an empty list", {}, "0", 1, -1, "MIDI IN has no port 0 (there is none)"},
        Row{"a name, even one the pre-selection would not take", {"Synth", "Velmora"}, "Synth", 1, 0, ""},
        Row{"a name given overrules the copy number", {"Velmora", "Velmora (2)"}, "Velmora", 2, 0, ""},
        Row{"a name that is not there",
            {"Synth"},
            "Velmora",
            1,
            -1,
            "no MIDI IN port is named \"Velmora\" (see --list)"},
        Row{"a name that is there twice must be given by number",
            {"Velmora", "x", "Velmora"},
            "Velmora",
            1,
            -1,
            "2 MIDI IN ports are named \"Velmora\" (0, 2); choose one by its number"}),
    [](const auto& row) { return "row" + std::to_string(row.index); });

TEST(PortChoice, OutputErrorsNameTheOutputListAndItsOption) {
    const PortChoice choice = choosePort({"Synth"}, std::nullopt, 1, Direction::Out);
    EXPECT_EQ(choice.index, -1);
    EXPECT_NE(choice.error.find("no MIDI OUT port"), std::string::npos) << choice.error;
    EXPECT_NE(choice.error.find("--out"), std::string::npos) << choice.error;
}

TEST(PortListing, NumbersBothListsAndMarksThePortsThatAreUsedWhenNoneIsNamed) {
    PortLists lists;
    lists.inputs = {"Velmora", "Synth", "Velmora"};
    lists.outputs = {};
    const std::string listing = portListing(lists, 1);
    EXPECT_EQ(listing.substr(0, listing.find("* the port")),
              "MIDI IN ports:\n"
              "    0  Velmora\n"
              "    1  Synth\n"
              "  * 2  Velmora\n"
              "MIDI OUT ports:\n"
              "     (none)\n");
}

// Equal names are told apart by ALSA's hw:C,D,S: the listing shows it, --in/--out take it.
TEST(PortAddress, ListedBesideTheNameAndAcceptedInPlaceOfIt) {
    PortLists lists;
    lists.inputs = {"Velmora", "Velmora (2)", "Loop"};
    lists.inputAddresses = {"hw:1,0,0", "hw:2,0,0", ""};
    const std::string listing = portListing(lists, 1);
    EXPECT_NE(listing.find("  * 0  Velmora  (hw:1,0,0)\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("    2  Loop\n"), std::string::npos)
        << "an empty address adds nothing: " << listing;
    EXPECT_EQ(choosePort(lists.inputs, "hw:2,0,0", 1, Direction::In, lists.inputAddresses).index, 1);
    EXPECT_EQ(choosePort(lists.inputs, "hw:3,0,0", 1, Direction::In, lists.inputAddresses).index, -1)
        << "an address that is not listed names no port";
    EXPECT_EQ(choosePort(lists.inputs, "", 1, Direction::In, lists.inputAddresses).index, -1)
        << "the port without an address is not chosen by an empty one";
}

TEST(PortListing, MarksWhatTheGivenCopyWouldPick) {
    PortLists lists;
    lists.inputs = {"Velmora", "Velmora (3)"};
    lists.outputs = {"Velmora (3)", "Velmora"};
    const std::string listing = portListing(lists, 3);
    EXPECT_NE(listing.find("  * 1  Velmora (3)\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("  * 0  Velmora (3)\n"), std::string::npos) << listing;
    EXPECT_NE(listing.find("    0  Velmora\n"), std::string::npos) << listing;
}

TEST(ReadPortLists, ShowsNamesWholeAsTheWindowsListsDo) {
    midi::CLoopbackDriver driver;
    const std::string longName(60, 'n');
    driver.addInput("Velmora");
    driver.addInput(longName);
    driver.addOutput("Out");
    const PortLists lists = readPortLists(driver);
    EXPECT_EQ(lists.inputs, (Names{"Velmora", longName}));
    EXPECT_EQ(lists.outputs, Names{"Out"});
}

struct PrintableRow {
    const char* fault;
    std::string name;
    std::string printed;
};

TEST(PrintableName, NothingADeviceNamesItsPortCanSteerTheTerminal) {
    const PrintableRow rows[] = {
        {"plain names changed", "USB Audio Device (2)", "USB Audio Device (2)"},
        {"UTF-8 letters escaped", "USB \xE3\x82\xAA\xE3\x83\xBC", "USB \xE3\x82\xAA\xE3\x83\xBC"},
        {"an escape sequence passed through", "a\x1B[2Jb", "a\\x1B[2Jb"},
        {"CR, LF, tab or DEL passed through", "a\r\n\t\x7F", "a\\x0D\\x0A\\x09\\x7F"},
        {"a C1 control (CSI, U+009B) passed through",
         "a\xC2\x9B"
         "2J",
         "a\\xC2\\x9B2J"},
        {"a bare byte that is no UTF-8 passed through", "a\x9B\xFF", "a\\x9B\\xFF"},
        {"a character cut short at the end passed through", "a\xE3\x82", "a\\xE3\\x82"},
        {"an escape made up of backslashes mistaken for a real one", "a\\x1B", "a\\\\x1B"},
    };
    for (const PrintableRow& row : rows) {
        EXPECT_EQ(printableName(row.name), row.printed) << row.fault;
    }
    EXPECT_EQ(printableQuoted("a\"b\x1B"), "a\\\"b\\x1B") << "a quote inside a quoted name ends it early";
}

// --all: which ports make a device. A port taken by two devices, or an IN paired with another copy's OUT,
// would send one device's update to another.
struct DevicesRow {
    const char* description;
    PortLists lists;
    std::vector<DevicePorts> expected;
    std::size_t unpaired;
};

TEST(FindDevices, PairsEachCopysInWithItsOwnOut) {
    const DevicesRow rows[] = {
        {"none", {{"Synth"}, {"Synth"}}, {}, 0},
        {"three copies, lists in different orders, another port between",
         {{"Velmora", "Synth", "Velmora (3)", "Velmora (2)"}, {"Velmora (2)", "Velmora", "Velmora (3)"}},
         {{1, 0, 1}, {2, 3, 0}, {3, 2, 2}},
         0},
        {"in and out by two of the accepted names still pair",
         {{"USB Audio Device (2)"}, {"Velmora (2)"}},
         {{2, 0, 0}},
         0},
        {"an IN with no OUT of its copy is left out and said",
         {{"Velmora", "Velmora (2)"}, {"Velmora"}},
         {{1, 0, 0}},
         1},
        {"copy 21's name is no copy's", {{"Velmora (21)"}, {"Velmora (21)"}}, {}, 0},
    };
    for (const DevicesRow& row : rows) {
        std::vector<std::string> unpaired;
        EXPECT_EQ(findDevices(row.lists, unpaired), row.expected) << row.description;
        EXPECT_EQ(unpaired.size(), row.unpaired) << row.description;
    }
}

}  // namespace
}  // namespace velmora::cli
