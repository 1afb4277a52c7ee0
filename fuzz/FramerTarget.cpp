// fuzz_framer: the SysEx framer on arbitrary MIDI streams. Every entry must be something a reply parser can
// be handed (1 to 8192 bytes, data bytes only between the SysEx start and end, no real-time byte), the pieces
// of a long message must follow each other, and neither where the reads split the stream nor where real-time
// bytes stand may matter.

#include <algorithm>
#include <iterator>

#include "fuzz/Support.h"
#include "midi/SysExFramer.h"

namespace velmora::fuzz {

namespace {

constexpr std::uint8_t kStart = 0xF0;
constexpr std::uint8_t kEnd = 0xF7;

using Entries = std::vector<Vec>;

// Feeds `stream` in chunks of the given lengths, used in turn (a zero length feeds an empty chunk).
Entries frame(std::span<const std::uint8_t> stream, std::span<const std::uint8_t> chunkLengths) {
    Entries out;
    midi::SysExFramer framer([&out](midi::Bytes e) { out.emplace_back(e.begin(), e.end()); });
    if (chunkLengths.empty()) {
        framer.feed(ExactCopy(stream).span());
        return out;
    }
    std::size_t at = 0;
    std::size_t emptyInARow = 0;
    for (std::size_t turn = 0; at < stream.size(); ++turn) {
        std::size_t length =
            std::min<std::size_t>(chunkLengths[turn % chunkLengths.size()], stream.size() - at);
        emptyInARow = length == 0 ? emptyInARow + 1 : 0;
        if (emptyInARow > chunkLengths.size()) {
            length = 1;  // lengths that are all zero would never finish
            emptyInARow = 0;
        }
        // Each chunk in a block of its own size: a read past the chunk's end is caught, not hidden by the
        // rest of the stream.
        framer.feed(ExactCopy(stream.subspan(at, length)).span());
        at += length;
    }
    return out;
}

// One byte per feed, as a driver that reads a byte at a time delivers it.
Entries frameByteByByte(std::span<const std::uint8_t> stream) {
    Entries out;
    midi::SysExFramer framer([&out](midi::Bytes e) { out.emplace_back(e.begin(), e.end()); });
    for (const std::uint8_t b : stream) {
        const std::uint8_t single[1] = {b};
        framer.feed(midi::Bytes(single, 1));
    }
    return out;
}

void checkEntries(const Entries& entries) {
    bool continuing = false;  // the previous entry was a full buffer with the message still open
    for (const Vec& e : entries) {
        require(!e.empty() && e.size() <= midi::kMaxSysExEntry, "an entry holds 1 to 8192 bytes");
        const bool opens = e.front() == kStart;
        require(opens || continuing, "only the piece after a full, unfinished entry starts without F0");
        const bool closes = e.back() == kEnd;
        const std::size_t innerFrom = opens ? 1 : 0;
        const std::size_t innerTo = closes ? e.size() - 1 : e.size();
        for (std::size_t i = innerFrom; i < innerTo; ++i) {
            require(e[i] < 0x80, "between start and end an entry holds data bytes only");
        }
        require(closes || e.size() == midi::kMaxSysExEntry, "an entry without F7 is a full buffer");
        continuing = !closes;
    }
}

}  // namespace

void fuzzFramer(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    const std::size_t lengthCount = std::min<std::size_t>(data[0] & 0x0F, size - 1);
    const std::span<const std::uint8_t> lengths(data + 1, lengthCount);
    const std::span<const std::uint8_t> stream(data + 1 + lengthCount, size - 1 - lengthCount);

    const Entries whole = frame(stream, {});
    checkEntries(whole);
    require(frameByteByByte(stream) == whole, "byte-by-byte feeding gives the same entries");
    require(frame(stream, lengths) == whole, "the input's chunk split gives the same entries");

    // Real-time bytes may stand anywhere, even inside a SysEx, and must make no difference.
    Vec plain;
    std::copy_if(stream.begin(), stream.end(), std::back_inserter(plain),
                 [](std::uint8_t b) { return b < 0xF8; });
    require(frame(plain, {}) == whole, "real-time bytes change no entry, wherever they stand");

    // Each message (an entry with F0 and the pieces after it) stands whole, in order, in the stream without
    // its real-time bytes: nothing invented, reordered or taken from two messages.
    std::vector<Vec> messages;
    for (const Vec& e : whole) {
        if (e.front() == kStart) {
            messages.emplace_back();
        }
        messages.back().insert(messages.back().end(), e.begin(), e.end());
    }
    std::size_t cursor = 0;
    for (const Vec& m : messages) {
        bool found = false;
        while (!found) {
            const auto start =
                std::find(plain.begin() + static_cast<std::ptrdiff_t>(cursor), plain.end(), kStart);
            require(start != plain.end(), "every message stands whole and in order in the stream");
            const auto at = static_cast<std::size_t>(start - plain.begin());
            found = plain.size() - at >= m.size() && std::equal(m.begin(), m.end(), start);
            cursor = found ? at + m.size() : at + 1;
        }
    }
}

}  // namespace velmora::fuzz
