#pragma once
// The emulated device's settings for runs whose link is a test's own: no link or flash time.

#include <string>

#include "emulator/CEmulatedDevice.h"
#include "emulator/Scenario.h"

namespace velmora::testing {

// `scenario` as the emulator reads it, "" for a device that does only what it must.
inline emulator::EmulatorConfig instantConfig(const std::string& scenario = "") {
    emulator::EmulatorConfig config;
    config.scenario =
        emulator::parseScenario(scenario.empty() ? "link=none" : scenario + ",link=none").scenario;
    config.timeScale = 0;
    return config;
}

}  // namespace velmora::testing
