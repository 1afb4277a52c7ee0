#include "cli/PortChoice.h"

#include <algorithm>

#include "midi/MidiDriver.h"
#include "ui/Discovery.h"

namespace velmora::cli {

namespace {

const char* listName(Direction d) {
    return d == Direction::In ? "MIDI IN" : "MIDI OUT";
}

const char* optionName(Direction d) {
    return d == Direction::In ? "--in" : "--out";
}

std::string quoted(const std::string& s) {
    return "\"" + s + "\"";
}

// "a", "a or b", "a, b or c".
std::string alternatives(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            out += i + 1 == names.size() ? " or " : ", ";
        }
        out += quoted(names[i]);
    }
    return out;
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string range(std::size_t count) {
    if (count == 0) {
        return "there is none";
    }
    if (count == 1) {
        return "there is only port 0";
    }
    return "ports 0 to " + std::to_string(count - 1);
}

}  // namespace

PortLists readPortLists(midi::MidiDriver& driver) {
    PortLists lists;
    // Bounded like the ports' own deviceName, so that names compare as the window's lists would.
    for (unsigned i = 0, n = driver.inputCount(); i < n; ++i) {
        lists.inputs.push_back(midi::boundedName(driver.inputName(i)));
        lists.inputAddresses.push_back(driver.inputAddress(i));
    }
    for (unsigned i = 0, n = driver.outputCount(); i < n; ++i) {
        lists.outputs.push_back(midi::boundedName(driver.outputName(i)));
        lists.outputAddresses.push_back(driver.outputAddress(i));
    }
    return lists;
}

PortChoice choosePort(const std::vector<std::string>& names, const std::optional<std::string>& wanted,
                      int instance, Direction direction, const std::vector<std::string>& addresses) {
    const std::string list = listName(direction);
    if (wanted) {
        const auto at = std::find(addresses.begin(), addresses.end(), *wanted);
        if (!wanted->empty() && at != addresses.end()) {
            return {static_cast<int>(at - addresses.begin()), {}};
        }
    }
    if (!wanted) {
        const int index = ui::preselect(names, instance);
        if (index >= 0) {
            return {index, {}};
        }
        if (names.empty()) {
            return {-1, "there is no " + list + " port"};
        }
        return {-1, "no " + list + " port is named " + alternatives(ui::candidatePortNames(instance)) +
                        "; choose one with " + optionName(direction) + " (see --list)"};
    }
    if (allDigits(*wanted)) {
        // Longer than any list can be: compared as text so that no conversion can overflow.
        const std::string trimmed =
            wanted->substr(std::min(wanted->find_first_not_of('0'), wanted->size() - 1));
        if (trimmed.size() <= 9) {
            const auto index = static_cast<std::size_t>(std::stoul(trimmed));
            if (index < names.size()) {
                return {static_cast<int>(index), {}};
            }
        }
        return {-1, list + " has no port " + *wanted + " (" + range(names.size()) + ")"};
    }
    std::vector<int> found;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (names[i] == *wanted) {
            found.push_back(static_cast<int>(i));
        }
    }
    if (found.size() == 1) {
        return {found.front(), {}};
    }
    if (found.empty()) {
        return {-1, "no " + list + " port is named " + quoted(*wanted) + " (see --list)"};
    }
    std::string numbers;
    for (int i : found) {
        numbers += (numbers.empty() ? "" : ", ") + std::to_string(i);
    }
    return {-1, std::to_string(found.size()) + " " + list + " ports are named " + quoted(*wanted) + " (" +
                    numbers + "); choose one by its number"};
}

std::string portListing(const PortLists& lists, int instance) {
    std::string out;
    auto section = [&out, instance](const char* title, const std::vector<std::string>& names,
                                    const std::vector<std::string>& addresses) {
        out += std::string(title) + " ports:\n";
        if (names.empty()) {
            out += "     (none)\n";
            return;
        }
        const int chosen = ui::preselect(names, instance);
        for (std::size_t i = 0; i < names.size(); ++i) {
            out += static_cast<int>(i) == chosen ? "  * " : "    ";
            out += std::to_string(i) + "  " + names[i];
            if (i < addresses.size() && !addresses[i].empty()) {
                out += "  (" + addresses[i] + ")";
            }
            out += "\n";
        }
    };
    section("MIDI IN", lists.inputs, lists.inputAddresses);
    section("MIDI OUT", lists.outputs, lists.outputAddresses);
    out += "* the port used when none is named (names looked for, copy " + std::to_string(instance) +
           "): " + alternatives(ui::candidatePortNames(instance)) + "\n";
    return out;
}

}  // namespace velmora::cli
