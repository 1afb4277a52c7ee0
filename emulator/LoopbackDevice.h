#pragma once
// An emulated device behind in-process ports of its own: what the demo, the web page's demo and the tests
// that run a whole update put behind the updater.

#include "emulator/CEmulatedDevice.h"
#include "emulator/Scenario.h"
#include "midi/drivers/loopback/LoopbackDriver.h"

namespace velmora::emulator {

class CLoopbackDevice {
  public:
    // `timeScale` as EmulatorConfig's: 1 the device's own times, 0 none at all.
    explicit CLoopbackDevice(const Scenario& scenario, double timeScale = 1.0)
        : device_(driver_, configOf(scenario, timeScale)) {}

    midi::CLoopbackDriver& driver() { return driver_; }
    CEmulatedDevice& device() { return device_; }

  private:
    static EmulatorConfig configOf(const Scenario& scenario, double timeScale) {
        EmulatorConfig config;
        config.scenario = scenario;
        config.timeScale = timeScale;
        return config;
    }

    midi::CLoopbackDriver driver_;
    CEmulatedDevice device_;  // after the driver: stopped before it goes
};

}  // namespace velmora::emulator
