#pragma once
// Which MIDI IN and MIDI OUT ports an update uses: the one named on the command line (by name or number), or
// the one the window would pre-select. Pure over lists of names.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "midi/MidiDriver.h"

namespace velmora::cli {

struct PortLists {
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    // Beside each name, where the platform finds the port ("hw:1,0,0"); empty entries where it has no such
    // form.
    std::vector<std::string> inputAddresses = {};
    std::vector<std::string> outputAddresses = {};
};

// The names as the window's lists show them (whole), in the platform's order.
PortLists readPortLists(midi::MidiDriver& driver);

using midi::Direction;

struct PortChoice {
    int index = -1;
    std::string error;  // why there is no port to use; empty when index is one

    bool ok() const { return error.empty(); }
};

// `wanted` as given to --in/--out: digits only is a position, a port's address (`addresses`, in the order of
// `names`) that port, anything else an exact name; none is the pre-selection of copy `instance`.
PortChoice choosePort(const std::vector<std::string>& names, const std::optional<std::string>& wanted,
                      int instance, Direction direction, const std::vector<std::string>& addresses = {});

// A device --all updates: the two ports copy `instance` of the program would pre-select.
struct DevicePorts {
    int instance = 0;
    int input = -1;
    int output = -1;

    bool operator==(const DevicePorts&) const = default;
};

// Every copy's pre-selection (copies 1 to 20) that finds a port each way, in copy order. A copy that finds a
// port one way only adds a line to `unpaired`.
std::vector<DevicePorts> findDevices(const PortLists& lists, std::vector<std::string>& unpaired);

// A port name as it may be printed: the device chooses it, so control characters (C0, DEL, C1), bytes that
// are not UTF-8 and the backslash are written as \xNN (\\ for the backslash); other characters stay.
std::string printableName(std::string_view name);
// The same for a name or value printed between double quotes: a quote inside it is written \".
std::string printableQuoted(std::string_view text);

// Both lists numbered, the pre-selected entries marked.
std::string portListing(const PortLists& lists, int instance);

}  // namespace velmora::cli
