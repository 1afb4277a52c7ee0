#include "cli/CConnection.h"

#include "midi/PortPreselect.h"
#include "midi/drivers/PlatformDriver.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#ifdef VELMORA_HAVE_STREAM_DRIVER
#include "midi/drivers/stream/StreamDriver.h"
#endif

namespace velmora::cli {

CConnection::~CConnection() = default;

std::unique_ptr<CConnection> CConnection::open(const Options& options, std::string& error) {
    std::unique_ptr<CConnection> c(new CConnection);
    switch (options.source) {
        case PortSource::Platform:
            c->driver_ = midi::createPlatformDriver();
            break;
        case PortSource::Device:
#ifdef VELMORA_HAVE_STREAM_DRIVER
            c->driver_ = std::make_unique<midi::CStreamDriver>(options.devicePath);
            if (c->driver_->inputCount() == 0 || c->driver_->outputCount() == 0) {
                error = options.devicePath + ": no such device";
                return nullptr;
            }
            // Judged before anything else: a wrong path must not even be opened.
            if (error = midi::CStreamDriver::unusable(options.devicePath); !error.empty()) {
                return nullptr;
            }
            break;
#else
            error = "--device is not available on this platform";
            return nullptr;
#endif
        case PortSource::Emulated: {
            auto loopback = std::make_unique<midi::CLoopbackDriver>();
            emulator::EmulatorConfig config;
            // The device's own port name, as the copy it is meant for looks for it.
            const std::string name = midi::candidatePortNames(options.instance).back();
            config.inputName = name;
            config.outputName = name;
            config.scenario = options.scenario;
            config.timeScale = options.timingScale;
            c->device_ = std::make_unique<emulator::CEmulatedDevice>(*loopback, config);
            c->driver_ = std::move(loopback);
            break;
        }
    }
    if (!c->driver_) {
        error = "no MIDI driver on this platform";
        return nullptr;
    }
    return c;
}

}  // namespace velmora::cli
