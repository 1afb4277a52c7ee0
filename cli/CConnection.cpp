#include "cli/CConnection.h"

#include "i18n/Translate.h"
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
            if (c->driver_->portCount(midi::Direction::In) == 0 ||
                c->driver_->portCount(midi::Direction::Out) == 0) {
                error =
                    i18n::arg(i18n::translate("velmora-flash", "%1: no such device"), {options.devicePath});
                return nullptr;
            }
            // Judged before anything else: a wrong path must not even be opened.
            if (error = midi::CStreamDriver::unusable(options.devicePath); !error.empty()) {
                return nullptr;
            }
            break;
#else
            error = i18n::translate("velmora-flash", "--device is not available on this platform");
            return nullptr;
#endif
        case PortSource::Emulated: {
            auto loopback = std::make_unique<midi::CLoopbackDriver>();
            for (int k = 1; k <= options.emulatedDevices; ++k) {
                emulator::EmulatorConfig config;
                // Each device's own port name, as the copy it is meant for looks for it; a lone device is
                // named for the copy --instance chooses.
                const int copy = options.emulatedDevices == 1 ? options.instance : k;
                const std::string name = midi::candidatePortNames(copy).back();
                config.inputName = name;
                config.outputName = name;
                config.scenario = scenarioFor(options, k);
                config.timeScale = options.timingScale;
                c->devices_.push_back(std::make_unique<emulator::CEmulatedDevice>(*loopback, config));
            }
            c->driver_ = std::move(loopback);
            break;
        }
    }
    if (!c->driver_) {
        error = i18n::translate("velmora-flash", "no MIDI driver on this platform");
        return nullptr;
    }
    return c;
}

emulator::CEmulatedDevice* CConnection::device(const std::string& inputName) {
    for (const auto& d : devices_) {
        if (d->config().inputName == inputName) {
            return d.get();
        }
    }
    return nullptr;
}

}  // namespace velmora::cli
