// fuzz_scenario: scenario texts as a user might type them. An accepted text's description parses back into
// the same scenario and is its own description; a refused text names a reason and yields the default
// scenario, so that a caller who ignores the error does not run half of what was asked.

#include <string>
#include <string_view>

#include "emulator/Scenario.h"
#include "fuzz/Support.h"

namespace velmora::fuzz {

void fuzzScenario(const std::uint8_t* data, std::size_t size) {
    // An exactly-sized copy: the parser works on a string_view, and a view must not be read past its end.
    const ExactCopy copy({data, size});
    const std::string_view text(reinterpret_cast<const char*>(copy.data()), copy.size());
    const emulator::ScenarioParse parsed = emulator::parseScenario(text);
    if (!parsed.ok()) {
        require(parsed.scenario == emulator::Scenario{}, "a refused text yields the default scenario");
        return;
    }
    const std::string description = emulator::describeScenario(parsed.scenario);
    const emulator::ScenarioParse again = emulator::parseScenario(description);
    require(again.ok(), "the description of an accepted scenario is accepted");
    require(again.scenario == parsed.scenario, "the description parses back into the same scenario");
    require(emulator::describeScenario(again.scenario) == description,
            "a description is its own description");
}

}  // namespace velmora::fuzz
