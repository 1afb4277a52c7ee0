#pragma once
// What velmora-updater-demo is, for every toolkit: its one optional argument is the emulated device's
// scenario, and the dialog runs on in-process ports with that device behind them (emulator/LoopbackDevice.h).

#include <optional>
#include <string>
#include <vector>

#include "emulator/Scenario.h"

namespace velmora::app {

// The demo's exit status for a scenario it refuses.
inline constexpr int kExitUsage = 2;

// The scenario the arguments give; nothing, with the reason and the usage on standard error, when they give
// none that is valid.
std::optional<emulator::Scenario> demoScenarioOrUsage(const std::vector<std::string>& args,
                                                      const std::string& program);

}  // namespace velmora::app
