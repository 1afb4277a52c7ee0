#include "cli/PortChoice.h"

#include <algorithm>

#include "cli/TextWidth.h"
#include "i18n/Translate.h"
#include "midi/MidiDriver.h"
#include "midi/PortPreselect.h"
#include "update/Texts.h"

namespace velmora::cli {

namespace {

const char* listName(Direction d) {
    return d == Direction::In ? "MIDI IN" : "MIDI OUT";
}

const char* optionName(Direction d) {
    return d == Direction::In ? "--in" : "--out";
}

std::string quoted(const std::string& s) {
    // Appended, not concatenated: GCC 12 at -O3 warns (-Wrestrict) about a copy that cannot overlap.
    std::string out = "\"";
    out += printableQuoted(s);
    out += '"';
    return out;
}

// "a", "a or b", "a, b or c".
std::string alternatives(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t i = 0; i + 1 < names.size(); ++i) {
        out += (i > 0 ? ", " : "") + quoted(names[i]);
    }
    if (names.size() < 2) {
        return names.empty() ? out : quoted(names.front());
    }
    return i18n::arg(i18n::translate("velmora-flash", "%1 or %2"), {out, quoted(names.back())});
}

bool allDigits(const std::string& s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string range(std::size_t count) {
    if (count == 0) {
        return i18n::translate("velmora-flash", "there is none");
    }
    if (count == 1) {
        return i18n::translate("velmora-flash", "there is only port 0");
    }
    return i18n::arg(i18n::translate("velmora-flash", "ports 0 to %1"), {std::to_string(count - 1)});
}

}  // namespace

std::string printableQuoted(std::string_view text) {
    std::string out;
    for (const char c : printableName(text)) {
        out += c == '"' ? std::string("\\\"") : std::string(1, c);
    }
    return out;
}

std::string printableName(std::string_view name) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < name.size();) {
        const auto byte = static_cast<unsigned char>(name[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            out += name[i++];
            continue;
        }
        if (const std::size_t length = byte >= 0x80 ? characterLength(name, i) : 0; length > 0) {
            out.append(name.substr(i, length));
            i += length;
            continue;
        }
        out += byte == '\\' ? std::string("\\\\") : std::string{'\\', 'x', kHex[byte >> 4], kHex[byte & 0xF]};
        ++i;
    }
    return out;
}

PortLists readPortLists(midi::MidiDriver& driver) {
    PortLists lists;
    for (const Direction d : {Direction::In, Direction::Out}) {
        std::vector<std::string>& names = d == Direction::In ? lists.inputs : lists.outputs;
        std::vector<std::string>& addresses =
            d == Direction::In ? lists.inputAddresses : lists.outputAddresses;
        for (unsigned i = 0, n = driver.portCount(d); i < n; ++i) {
            names.push_back(driver.portName(d, i));
            addresses.push_back(driver.portAddress(d, i));
        }
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
        const int index = midi::preselect(names, instance);
        if (index >= 0) {
            return {index, {}};
        }
        if (names.empty()) {
            return {-1, i18n::arg(i18n::translate("velmora-flash", "there is no %1 port"), {list})};
        }
        return {-1,
                i18n::arg(i18n::translate("velmora-flash",
                                          "no %1 port is named %2; choose one with %3 (see --list)"),
                          {list, alternatives(midi::candidatePortNames(instance)), optionName(direction)})};
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
        return {-1, i18n::arg(i18n::translate("velmora-flash", "%1 has no port %2 (%3)"),
                              {list, *wanted, range(names.size())})};
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
        return {-1, i18n::arg(i18n::translate("velmora-flash", "no %1 port is named %2 (see --list)"),
                              {list, quoted(*wanted)})};
    }
    std::string numbers;
    for (int i : found) {
        numbers += (numbers.empty() ? "" : ", ") + std::to_string(i);
    }
    return {-1, i18n::arg(i18n::translate("velmora-flash",
                                          "%1 %2 ports are named %3 (%4); choose one by its number"),
                          {std::to_string(found.size()), list, quoted(*wanted), numbers})};
}

std::vector<DevicePorts> findDevices(const PortLists& lists, std::vector<std::string>& unpaired) {
    std::vector<DevicePorts> found;
    for (int copy = 1; copy <= texts::kMaxInstances; ++copy) {
        const DevicePorts d{copy, midi::preselect(lists.inputs, copy), midi::preselect(lists.outputs, copy)};
        if (d.input >= 0 && d.output >= 0) {
            found.push_back(d);
        } else if (d.input >= 0 || d.output >= 0) {
            const bool in = d.input >= 0;
            const std::string& name = in ? lists.inputs[static_cast<std::size_t>(d.input)]
                                         : lists.outputs[static_cast<std::size_t>(d.output)];
            unpaired.push_back(i18n::arg(
                in ? i18n::translate("velmora-flash",
                                     "MIDI IN %1 left out: no MIDI OUT port goes by the names of copy %2")
                   : i18n::translate("velmora-flash",
                                     "MIDI OUT %1 left out: no MIDI IN port goes by the names of copy %2"),
                {quoted(name), std::to_string(copy)}));
        }
    }
    return found;
}

std::string portListing(const PortLists& lists, int instance) {
    std::string out;
    auto section = [&out, instance](const char* title, const std::vector<std::string>& names,
                                    const std::vector<std::string>& addresses) {
        out += i18n::arg(i18n::translate("velmora-flash", "%1 ports:"), {title}) + "\n";
        if (names.empty()) {
            out += "     " + i18n::translate("velmora-flash", "(none)") + "\n";
            return;
        }
        const int chosen = midi::preselect(names, instance);
        for (std::size_t i = 0; i < names.size(); ++i) {
            out += static_cast<int>(i) == chosen ? "  * " : "    ";
            out += std::to_string(i) + "  " + printableName(names[i]);
            if (i < addresses.size() && !addresses[i].empty()) {
                out += "  (" + addresses[i] + ")";
            }
            out += "\n";
        }
    };
    section("MIDI IN", lists.inputs, lists.inputAddresses);
    section("MIDI OUT", lists.outputs, lists.outputAddresses);
    out += i18n::arg(i18n::translate("velmora-flash",
                                     "* the port used when none is named (names looked for, copy %1): %2"),
                     {std::to_string(instance), alternatives(midi::candidatePortNames(instance))}) +
           "\n";
    return out;
}

}  // namespace velmora::cli
