#pragma once
// A stand-in for the Windows multimedia MIDI calls (midiIn*, midiOut*), linked in place of winmm, that
// behaves as Windows does: callbacks on a thread of the system's; a SysEx handed over in the input buffers
// the program has lent, at most `inputPiece` bytes per buffer, and lost where no buffer is lent when it
// arrives; MHDR_DONE set some time after midiOutLongMsg returns; MIDIERR_STILLPLAYING for a header the
// system still holds; MMSYSERR_ALLOCATED for a port another program holds; a device that is unplugged.
//
// One CFakeWinMm exists at a time; the driver's calls act on it.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace velmora::fakes {

struct FakeWinMmOptions {
    double bytesPerSecond = 0;      // how fast a long message leaves; 0: at the next tick
    std::size_t inputPiece = 1024;  // most bytes the system puts in one input buffer before returning it
    std::chrono::microseconds pieceGap{300};  // time between the pieces of an arriving message
};

class CFakeWinMm {
  public:
    // A whole long message that has left output `index`, on the system's thread, before its MHDR_DONE.
    using Wire = std::function<void(unsigned index, std::span<const std::uint8_t> bytes)>;

    // Port names are UTF-8; the fake hands them to the driver as UTF-16, as Windows does.
    CFakeWinMm(std::vector<std::string> inputs, std::vector<std::string> outputs,
               FakeWinMmOptions options = {}, Wire wire = {});
    ~CFakeWinMm();
    CFakeWinMm(const CFakeWinMm&) = delete;
    CFakeWinMm& operator=(const CFakeWinMm&) = delete;

    // Bytes arriving at input `index` while it is open and started.
    void deliver(unsigned index, std::span<const std::uint8_t> bytes);
    // Another program holds the port: opening it gives MMSYSERR_ALLOCATED.
    void hold(bool output, unsigned index, bool held);
    // The ports called `name` go away: they leave the lists (the numbers after them shift) and their open
    // handles answer MMSYSERR_NODRIVER, never giving back what they hold.
    void unplug(const std::string& name);
    // The lists change (a device plugged in); open handles stay as they are.
    void replug(std::vector<std::string> inputs, std::vector<std::string> outputs);

    int openHandles() const;
    std::size_t lostBytes() const;  // arrived while no input buffer was lent
};

}  // namespace velmora::fakes
