// The ALSA driver without sound hardware: how ports are named and told apart, and that a machine without ALSA
// devices gives empty lists and clean refusals.
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "midi/drivers/PlatformDriver.h"
#include "midi/drivers/alsa/AlsaDriver.h"
#include "support/DescribedRow.h"

namespace velmora::midi {
namespace {

using velmora::testing::PrintTo;
using Names = std::vector<std::string>;

struct PortNameCase {
    const char* what;
    AlsaPort port;
    std::string expected;
};

class AlsaPortNames : public ::testing::TestWithParam<PortNameCase> {};

TEST_P(AlsaPortNames, APortIsCalledByItsMostSpecificName) {
    EXPECT_EQ(alsaPortName(GetParam().port), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Ports, AlsaPortNames,
    ::testing::Values(
        PortNameCase{"the subdevice's name wins", {1, 0, 0, "Velmora", "Velmora MIDI 1"}, "Velmora MIDI 1"},
        PortNameCase{"a subdevice without a name takes the device's", {1, 0, 0, "Velmora", ""}, "Velmora"},
        PortNameCase{"neither has a name: the address", {2, 1, 3, "", ""}, "hw:2,1,3"}));

struct DistinctCase {
    const char* what;
    Names raw;
    Names expected;
};

class DistinctNames : public ::testing::TestWithParam<DistinctCase> {};

TEST_P(DistinctNames, EqualNamesAreNumberedInEnumerationOrderAndNoneIsCut) {
    EXPECT_EQ(distinctPortNames(GetParam().raw), GetParam().expected) << GetParam().what;
}

const std::string k39(39, 'a');
// 36 ASCII bytes and a 3-byte character (U+30C7), 39 bytes in all.
const std::string kWide = std::string(36, 'a') + "\xE3\x83\x87";

INSTANTIATE_TEST_SUITE_P(
    Lists, DistinctNames,
    ::testing::Values(DistinctCase{"no ports", {}, {}},
                      DistinctCase{"different names are left alone",
                                   {"USB Audio Device", "Velmora", "Midi Through Port-0"},
                                   {"USB Audio Device", "Velmora", "Midi Through Port-0"}},
                      DistinctCase{"the second and third of a name are numbered, the first is not",
                                   {"Velmora", "Velmora", "Velmora"},
                                   {"Velmora", "Velmora (2)", "Velmora (3)"}},
                      DistinctCase{"each name is counted on its own",
                                   {"USB Audio Device", "Velmora", "USB Audio Device", "Velmora"},
                                   {"USB Audio Device", "Velmora", "USB Audio Device (2)", "Velmora (2)"}},
                      DistinctCase{"a long name is shown whole", {k39 + "bcd"}, {k39 + "bcd"}},
                      DistinctCase{"names that differ only past 39 bytes are different names",
                                   {k39 + "1", k39 + "2"},
                                   {k39 + "1", k39 + "2"}},
                      DistinctCase{"a long name's second port keeps the whole name before its number",
                                   {"x" + kWide, "x" + kWide},
                                   {"x" + kWide, "x" + kWide + " (2)"}},
                      DistinctCase{"tenth copy: a two-digit suffix",
                                   Names(10, "V"),
                                   {"V", "V (2)", "V (3)", "V (4)", "V (5)", "V (6)", "V (7)", "V (8)",
                                    "V (9)", "V (10)"}}));

class NoAlsaDevices : public ::testing::Test {
  protected:
    void SetUp() override {
        if (::access("/dev/snd", F_OK) == 0) {
            GTEST_SKIP() << "this machine has ALSA devices";
        }
    }
};

TEST_F(NoAlsaDevices, ListsAreEmptyAndNamesBlank) {
    CAlsaDriver driver;
    EXPECT_EQ(driver.portCount(Direction::In), 0u);
    EXPECT_EQ(driver.portCount(Direction::Out), 0u);
    EXPECT_EQ(driver.portName(Direction::In, 0), "");
    EXPECT_EQ(driver.portName(Direction::Out, 0), "");
}

TEST_F(NoAlsaDevices, OpeningFailsWithAReason) {
    CAlsaDriver driver;
    for (const int index : {0, -1, 5}) {
        std::string why;
        EXPECT_EQ(driver.openOutput(index, &why), nullptr);
        EXPECT_NE(why.find("no ALSA MIDI output " + std::to_string(index)), std::string::npos) << why;
        why.clear();
        EXPECT_EQ(driver.openInput(
                      index, [](Bytes) {}, &why),
                  nullptr);
        EXPECT_NE(why.find("no ALSA MIDI input " + std::to_string(index)), std::string::npos) << why;
    }
    EXPECT_EQ(driver.openOutput(0, nullptr), nullptr) << "no reason asked for";
}

TEST_F(NoAlsaDevices, ThePlatformDriverIsTheAlsaOne) {
    const std::unique_ptr<MidiDriver> driver = createPlatformDriver();
    ASSERT_NE(dynamic_cast<CAlsaDriver*>(driver.get()), nullptr);
    EXPECT_EQ(driver->portCount(Direction::Out), 0u);
}

}  // namespace
}  // namespace velmora::midi
