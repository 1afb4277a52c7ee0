#include "app/DemoDevice.h"

#include <cstdio>

namespace velmora::app {

std::optional<emulator::Scenario> demoScenarioOrUsage(const std::vector<std::string>& args,
                                                      const std::string& program) {
    std::string usage;
    std::optional<emulator::Scenario> scenario = emulator::demoScenario(args, program, usage);
    if (!scenario) {
        std::fputs(usage.c_str(), stderr);
    }
    return scenario;
}

}  // namespace velmora::app
