#pragma once
// The MIDI driver an update runs on, as the options choose it: the platform's ports, a raw byte stream on a
// path, or the built-in emulated device behind in-process ports. Owns the driver and the emulated device;
// whatever uses the driver must be gone before it is.

#include <memory>
#include <string>

#include "cli/Options.h"
#include "emulator/CEmulatedDevice.h"
#include "midi/MidiDriver.h"

namespace velmora::cli {

class CConnection {
  public:
    // nullptr, with the reason in `error`, when there is nothing to connect to.
    static std::unique_ptr<CConnection> open(const Options& options, std::string& error);

    ~CConnection();
    CConnection(const CConnection&) = delete;
    CConnection& operator=(const CConnection&) = delete;

    midi::MidiDriver& driver() { return *driver_; }
    // The emulated device, when there is one.
    emulator::CEmulatedDevice* device() { return device_.get(); }

  private:
    CConnection() = default;

    std::unique_ptr<midi::MidiDriver> driver_;
    std::unique_ptr<emulator::CEmulatedDevice> device_;  // after the driver: stopped before it goes
};

}  // namespace velmora::cli
