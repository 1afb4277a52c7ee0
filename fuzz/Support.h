#pragma once
// What the target bodies share: property checks, exactly-sized copies for AddressSanitizer, bit-by-bit
// reference versions of the codec to compare against, and a MIDI driver whose ports are plain calls.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzTargets.h"
#include "midi/MidiDriver.h"

namespace velmora::fuzz {

using Vec = std::vector<std::uint8_t>;

// Throws PropertyBroken with `what` when `ok` is false.
void require(bool ok, std::string_view what);

// A heap block holding exactly `bytes`, so that AddressSanitizer reports a read one past the end. A
// std::vector may hold spare capacity there, which would hide it.
class ExactCopy {
  public:
    explicit ExactCopy(std::span<const std::uint8_t> bytes);
    const std::uint8_t* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }
    std::span<const std::uint8_t> span() const { return {bytes_.get(), size_}; }

  private:
    std::unique_ptr<std::uint8_t[]> bytes_;
    std::size_t size_;
};

// Slow, obvious versions of the codec, written from the message layouts, to judge the real one by.
namespace reference {

std::uint32_t checksum32(std::span<const std::uint8_t> data);  // bit by bit, no table
Vec unpack7(std::span<const std::uint8_t> packed);             // byte i from group i / 7
Vec pack7(std::span<const std::uint8_t> data);
std::uint32_t decode7x5(const std::uint8_t* field);  // the bits the field carries, the rest ignored
std::uint32_t decodeLength14(const std::uint8_t* field);

}  // namespace reference

// One input and one output port whose far ends are the caller: deliver() hands an entry to the open input
// as a driver's thread would, and every message sent is recorded and reported sent at once. No threads, so
// the same input always takes the same path.
class DirectDriver final : public midi::MidiDriver {
  public:
    unsigned portCount(midi::Direction /*direction*/) override { return 1; }
    std::string portName(midi::Direction /*direction*/, unsigned index) override {
        return index == 0 ? "direct" : "";
    }
    std::unique_ptr<midi::MidiOutput> openOutput(int index, std::string* why) override;
    std::unique_ptr<midi::MidiInput> openInput(int index, midi::SysExHandler onSysEx,
                                               std::string* why) override;

    // False when no input is open.
    bool deliver(midi::Bytes entry);
    // Every message sent since the last call, in order.
    std::vector<Vec> takeSent();

  private:
    class Output;
    class Input;

    midi::SysExHandler handler_;
    std::vector<Vec> sent_;
};

}  // namespace velmora::fuzz
