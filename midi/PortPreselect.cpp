#include "midi/PortPreselect.h"

#include <algorithm>

#include "midi/MidiDriver.h"

namespace velmora::midi {

std::vector<std::string> candidatePortNames(int instanceNumber) {
    std::vector<std::string> candidates;
    for (const char* name : AcceptedPortNames) {
        std::string candidate(name);
        if (instanceNumber != 1) {
            candidate += " (" + std::to_string(instanceNumber) + ")";
        }
        candidates.push_back(std::move(candidate));
    }
    return candidates;
}

int preselect(const std::vector<std::string>& names, int instanceNumber) {
    const std::vector<std::string> candidates = candidatePortNames(instanceNumber);
    int selected = -1;
    // The scan goes on after a match: a later port of the same kind wins over an earlier one.
    for (std::size_t i = 0; i < names.size(); ++i) {
        // Matched as a 40-byte name buffer holds it, cut at a character to 39 bytes, though the list shows it
        // whole.
        if (std::find(candidates.begin(), candidates.end(), midi::boundedName(names[i])) !=
            candidates.end()) {
            selected = static_cast<int>(i);
        }
    }
    return selected;
}

}  // namespace velmora::midi
