#pragma once
// Whole updates against emulated devices, timed: one, or several at once in this process, each with its own
// in-process ports, emulated device and update core, the way several copies of the updater would each drive
// their own device.

#include <string>
#include <vector>

#include "emulator/Scenario.h"
#include "update/Timing.h"

namespace velmora::bench {

struct RunSetup {
    emulator::Scenario scenario;  // link speed and device behaviour
    double deviceScale = 1.0;     // the emulated device's times multiplied by this; 0: no time at all
    Timing timing;                // the host's
};

struct RunResult {
    bool completed = false;   // "Version update completed." and the device's flash holds the plan
    std::string problem;      // why not
    double seconds = 0;       // from Execute to the worker's end
    double writeSeconds = 0;  // inside write steps: from each step's start to its last accepted block
    int blocks = 0;           // blocks the device programmed
};

struct BatchResult {
    std::vector<RunResult> runs;
    double seconds = 0;  // until the last of them had ended
};

BatchResult runUpdates(const RunSetup& setup, int count);

}  // namespace velmora::bench
