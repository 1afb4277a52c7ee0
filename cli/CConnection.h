#pragma once
// The MIDI driver an update runs on, as the options choose it: the platform's ports, a raw byte stream on a
// path, or the built-in emulated devices behind in-process ports. Owns the driver and the emulated devices;
// whatever uses the driver must be gone before it is.

#include <memory>
#include <string>
#include <vector>

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
    bool emulated() const { return !devices_.empty(); }
    // The emulated device whose ports carry `inputName`; nullptr when none does.
    emulator::CEmulatedDevice* device(const std::string& inputName);

  private:
    CConnection() = default;

    std::unique_ptr<midi::MidiDriver> driver_;
    std::vector<std::unique_ptr<emulator::CEmulatedDevice>>
        devices_;  // after the driver: stopped before it goes
};

}  // namespace velmora::cli
