// The SysEx framer: what a stream of MIDI bytes becomes as input entries, however the stream is split.
#include <gtest/gtest.h>

#include <ostream>

#include <vector>

#include "midi/SysExFramer.h"
#include "support/DescribedRow.h"

namespace velmora::midi {
namespace {

using velmora::testing::PrintTo;
using Bytes = std::vector<std::uint8_t>;
using Entries = std::vector<Bytes>;

Entries frame(const Bytes& stream) {
    Entries out;
    SysExFramer framer([&](midi::Bytes e) { out.emplace_back(e.begin(), e.end()); });
    framer.feed(midi::Bytes(stream.data(), stream.size()));
    return out;
}

Bytes sysex(std::size_t length, std::uint8_t fill = 0x11) {
    Bytes m(length, fill);
    m.front() = 0xF0;
    m.back() = 0xF7;
    return m;
}

// The first 8192 bytes of a long message: what a full input buffer holds.
Bytes firstEntry(const Bytes& m) {
    return Bytes(m.begin(), m.begin() + 8192);
}

Bytes join(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& p : parts)
        out.insert(out.end(), p.begin(), p.end());
    return out;
}

const Bytes kStatus = {0xF0, 0x52, 0x00, 0x63, 0x00, 0x00, 0xF7};
const Bytes kIdentity = {0xF0, 0x7E, 0x00, 0x06, 0x02, 0x52, 0x63, 0x00,
                         0x00, 0x00, 0x31, 0x30, 0x30, 0x30, 0xF7};

struct FramerCase {
    const char* what;
    Bytes stream;
    Entries expected;
};

class FramerTable : public ::testing::TestWithParam<FramerCase> {};

TEST_P(FramerTable, DeliversTheEntriesARealPortWould) {
    EXPECT_EQ(frame(GetParam().stream), GetParam().expected) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Streams, FramerTable,
    ::testing::Values(
        FramerCase{"one reply", kStatus, {kStatus}},
        FramerCase{"two replies back to back", join({kStatus, kIdentity}), {kStatus, kIdentity}},
        FramerCase{"exactly 8192 bytes: one entry", sysex(8192), {sysex(8192)}},
        FramerCase{"8193 bytes: 8192, then the closing byte alone",
                   sysex(8193),
                   {firstEntry(sysex(8193)), Bytes{0xF7}}},
        FramerCase{"16385 bytes: two full entries and one byte",
                   sysex(16385),
                   {firstEntry(sysex(16385)), Bytes(8192, 0x11), Bytes{0xF7}}},
        FramerCase{"clock, active sensing and reset inside a SysEx are taken out, not allowed to break it",
                   {0xF0, 0x52, 0xF8, 0x00, 0x63, 0xFE, 0x00, 0xFF, 0x00, 0xFA, 0xF7},
                   {kStatus}},
        FramerCase{"notes, controllers, clock and running status yield nothing",
                   {0x90, 0x3C, 0x64, 0x3E, 0x50, 0xB0, 0x07, 0x7F, 0xF8, 0xFE, 0xC0, 0x05, 0xF1, 0x10},
                   {}},
        FramerCase{"short messages around a reply leave it whole",
                   join({{0x90, 0x3C, 0x64}, kStatus, {0x80, 0x3C, 0x00, 0xF8}}),
                   {kStatus}},
        FramerCase{"a channel status byte inside a SysEx ends it: the cut-off part is dropped",
                   join({{0xF0, 0x52, 0x00, 0x63, 0x90, 0x3C, 0x64}, kStatus}),
                   {kStatus}},
        FramerCase{"a new F0 inside a SysEx drops the unfinished one",
                   join({{0xF0, 0x52, 0x00}, kStatus}),
                   {kStatus}},
        FramerCase{
            "data after an interrupted SysEx is not taken for one", {0xF0, 0x52, 0xF2, 0x00, 0x63, 0xF7}, {}},
        FramerCase{"a stray F7 and stray data yield nothing", {0xF7, 0x01, 0x02, 0xF7}, {}},
        FramerCase{"an empty SysEx is two bytes", {0xF0, 0xF7}, {{0xF0, 0xF7}}}));

// A driver reads whatever the platform has; the entries must not depend on where the reads split the stream.
TEST(FramerSplit, EverySplitPointGivesTheSameEntries) {
    const Bytes stream = join(
        {{0x90, 0x3C}, kStatus, {0xF8}, kIdentity, {0xF0, 0x52, 0xFE, 0x00, 0x63, 0x02, 0xF7}, {0xB0, 1, 2}});
    const Entries whole = frame(stream);
    ASSERT_EQ(whole.size(), 3u);
    for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
        for (std::size_t cut2 = cut; cut2 <= stream.size(); ++cut2) {
            Entries out;
            SysExFramer framer([&](midi::Bytes e) { out.emplace_back(e.begin(), e.end()); });
            framer.feed(midi::Bytes(stream.data(), cut));
            framer.feed(midi::Bytes(stream.data() + cut, cut2 - cut));
            framer.feed(midi::Bytes(stream.data() + cut2, stream.size() - cut2));
            ASSERT_EQ(out, whole) << "split at " << cut << " and " << cut2;
        }
    }
}

TEST(FramerSplit, ByteByByteLongMessageGivesTheSameEntries) {
    const Bytes stream = join({sysex(8193, 0x22), kStatus});
    Entries out;
    SysExFramer framer([&](midi::Bytes e) { out.emplace_back(e.begin(), e.end()); });
    for (std::uint8_t b : stream)
        framer.feed(midi::Bytes(&b, 1));
    EXPECT_EQ(out, frame(stream));
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].size(), 8192u);
}

TEST(FramerReset, ForgetsAMessageInProgress) {
    Entries out;
    SysExFramer framer([&](midi::Bytes e) { out.emplace_back(e.begin(), e.end()); });
    const Bytes head = {0xF0, 0x52, 0x00};
    framer.feed(midi::Bytes(head.data(), head.size()));
    framer.reset();
    const Bytes tail = {0x63, 0x00, 0x00, 0xF7};
    framer.feed(midi::Bytes(tail.data(), tail.size()));
    EXPECT_TRUE(out.empty());
}

}  // namespace
}  // namespace velmora::midi
