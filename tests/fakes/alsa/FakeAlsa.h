#pragma once
// A stand-in for alsa-lib's rawmidi and control calls, linked in place of the library, that behaves like the
// kernel behind it: a bounded output buffer taking partial writes and answering EAGAIN when full, drained at
// a chosen byte rate by a thread of its own; reads handing over arbitrary pieces; EBUSY on open; ENODEV on
// every call once a card is unplugged; level-triggered poll descriptors (real eventfds).
//
// One CFakeAlsa exists at a time; the driver's calls act on it.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

namespace velmora::fakes {

struct FakeRawmidiDevice {
    std::string name;
    std::vector<std::string> inputs;   // subdevice names, one per input subdevice
    std::vector<std::string> outputs;  // the same for outputs
};

struct FakeCard {
    std::vector<FakeRawmidiDevice> devices;  // device numbers 0, 1, ...
};

struct FakeAlsaOptions {
    std::size_t bufferLimit = 4096;  // the largest buffer the kernel grants, whatever is asked for
    double bytesPerSecond = 0;       // how fast an output drains; 0: at once, every tick
    std::size_t readPiece = 0;       // most bytes one read hands over; 0: as many as asked
    int eagainStorm = 0;             // after each read or write that moves bytes, this many calls say EAGAIN
};

class CFakeAlsa {
  public:
    // Bytes leaving an output ("hw:C,D,S"), in order, on the fake's drain thread.
    using Wire = std::function<void(const std::string& hw, std::span<const std::uint8_t> bytes)>;

    CFakeAlsa(std::vector<FakeCard> cards, FakeAlsaOptions options = {}, Wire wire = {});
    ~CFakeAlsa();
    CFakeAlsa(const CFakeAlsa&) = delete;
    CFakeAlsa& operator=(const CFakeAlsa&) = delete;

    // Bytes arriving at every open input of `hw`; dropped past the buffer's bound, as the kernel drops them.
    void deliver(const std::string& hw, std::span<const std::uint8_t> bytes);
    // Another program holds `hw` open: opening it gives EBUSY.
    void hold(const std::string& hw, bool held);
    // The card goes away: it leaves the enumeration and every call on its handles fails with ENODEV.
    void unplug(int card);
    // Cards and their names change (a device plugged in); handles already open keep working.
    void replug(std::vector<FakeCard> cards);

    int openHandles() const;
    std::size_t wireBytes() const;  // every byte that has left any output
};

}  // namespace velmora::fakes
