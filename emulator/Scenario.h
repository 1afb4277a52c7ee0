#pragma once
// How one emulated device is set up and how it misbehaves, written as a short text that the command line and
// the demo hand over unchanged: comma-separated keys, e.g. "model=0x62,refuse-block=3:2,link=din".
//
// Erases and blocks are numbered from 1 over the device's whole life, in the order the host sends them. A
// request that repeats the previous erase or write (same kind, same address, and for an erase the same size)
// with nothing but reads, identity traffic or host answers in between is a resend of the same erase or block
// and keeps its number; a BeginUpdateRequest ends that run of repeats, so a new update numbers on.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::emulator {

// The wire between host and device, each way.
enum class Link {
    None,  // instant
    Usb,   // a USB-MIDI class device: about 1 ms per message plus 250 kB/s
    Din,   // a 5-pin MIDI cable: 31250 baud, 3125 bytes per second
};

// One fault aimed at the k-th erase or block: applied `count` times (refusals, lost answers) or with `count`
// milliseconds of delay. Inactive while k is 0.
struct CountedFault {
    std::uint32_t k = 0;
    std::uint32_t count = 0;

    bool active() const { return k != 0; }
    bool operator==(const CountedFault&) const = default;
};

struct Scenario {
    std::uint8_t model = 0x63;  // model=  the code at byte 3 and in the identity
    bool blankFlash = false;    // boot=blank  a device fresh from the factory
    std::array<std::uint8_t, 4> bootVersion = {'0', '.', '9', '9'};  // boot=  the earlier firmware's version
    bool updateMode = true;          // mode=off  Begin, erase and write get status 11
    CountedFault refuseErase;        // refuse-erase=K:N  status 1, N times
    CountedFault refuseBlock;        // refuse-block=K:N  status 1, N times
    CountedFault dropBlock;          // drop-block=K:N  written, answer lost N times
    CountedFault lateBlock;          // late-block=K:MS  first answer MS ms late
    CountedFault lateErase;          // late-erase=K:MS  first answer MS ms late
    std::uint32_t corruptBlock = 0;  // corrupt-block=K  acknowledged, but stored with one byte wrong
    CountedFault loss;               // lose=P:SEED  each answer lost with a chance of P percent
    bool badRead = false;            // bad-read  every ReadReply's checksum wrong
    bool silent = false;             // silent  answers nothing, changes nothing
    std::uint8_t endStatus = 0;      // end-status=S
    std::uint32_t unplugAt = 0;      // unplug=K  gone from the K-th message on
    bool chatter = false;            // chatter  messages of its own between answers
    bool doneReply = false;          // done-reply  DoneReply for erases and writes
    bool echo = false;               // echo  the link also hands every host message back to the host
    Link link = Link::Usb;           // link=none|usb|din

    bool operator==(const Scenario&) const = default;
};

// The scenario, or the reason the text was refused (naming the offending key or value).
struct ScenarioParse {
    Scenario scenario;
    std::string error;  // empty when the text was accepted

    bool ok() const { return error.empty(); }
};

// Pure: the empty text is the default device. Keys may appear once each; blanks around items are ignored.
ScenarioParse parseScenario(std::string_view text);

// The canonical text of a scenario: only what differs from the default, in a fixed key order.
// parseScenario(describeScenario(s)).scenario == s.
std::string describeScenario(const Scenario& scenario);

// One line per key, for a command line's help.
std::string scenarioHelp();

// The demo programs' one optional argument (`args` without the program's name): its scenario, or, for more
// than one argument or a scenario parseScenario() refuses, nothing and in `usage` the lines for standard
// error.
std::optional<Scenario> demoScenario(const std::vector<std::string>& args, const std::string& program,
                                     std::string& usage);

}  // namespace velmora::emulator
