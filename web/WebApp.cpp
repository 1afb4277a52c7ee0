// The page's entry points, called from the JavaScript glue (web/velmora-glue.js) on the main thread: start an
// updater on Web MIDI or on the emulated device, hand over port lists and arriving messages, Execute, and the
// texts of the catalogue. The "device" calls run an emulated device on its own, for the test-side Web MIDI
// implementation (web/tests/emulated-midi.js) that the tests and the benchmark put behind the page.

#include <emscripten/emscripten.h>
#include <emscripten/threading.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "emulator/CEmulatedDevice.h"
#include "emulator/LoopbackDevice.h"
#include "emulator/Scenario.h"
#include "firmware/FirmwareImages.h"
#include "i18n/Catalogue.h"
#include "midi/PortPreselect.h"
#include "midi/drivers/webmidi/WebMidiDriver.h"
#include "update/UpdateCore.h"
#include "web/JsonText.h"
#include "web/WebView.h"

namespace {

using namespace velmora;

struct Updater {
    std::unique_ptr<emulator::CLoopbackDevice>
        demo;  // set in demo mode: the core's ports are the emulated device's
    midi::CWebMidiDriver webMidi;
    web::CWebView view;
    std::unique_ptr<CUpdateCore> core;
    midi::MidiDriver& driver() { return demo ? static_cast<midi::MidiDriver&>(demo->driver()) : webMidi; }
};

// The test-side device: a host-facing pair of loopback ports the glue writes to and reads from.
struct Device {
    std::unique_ptr<emulator::CLoopbackDevice> unit;
    std::unique_ptr<midi::MidiOutput> toDevice;
    std::unique_ptr<midi::MidiInput> fromDevice;
};

std::unique_ptr<Updater> g_updater;
std::unique_ptr<Device> g_device;
std::string g_text;  // what the last call returning text returned; valid until the next such call
std::vector<midi::WebMidiPort> g_pendingPorts[2];

std::optional<emulator::Scenario> scenarioOf(const char* text) {
    const emulator::ScenarioParse parsed = emulator::parseScenario(text == nullptr ? "" : text);
    if (!parsed.ok()) {
        g_text = parsed.error;
        return std::nullopt;
    }
    return parsed.scenario;
}

const char* keep(std::string text) {
    g_text = std::move(text);
    return g_text.c_str();
}

// The glue's `input` flag (1 for MIDI IN, 0 for MIDI OUT).
midi::Direction direction(int input) {
    return input != 0 ? midi::Direction::In : midi::Direction::Out;
}

std::string verdictJson(const emulator::CEmulatedDevice& device) {
    const emulator::FlashVerdict v = device.verdict(emulator::builtInImages());
    const emulator::EmulatorCounters c = device.counters();
    return "{\"holdsPlan\":" + std::string(v.ok ? "true" : "false") +
           ",\"summary\":" + web::jsonString(v.summary) + ",\"blocks\":" + std::to_string(c.blocksWritten) +
           ",\"blockResends\":" + std::to_string(c.blockResends) +
           ",\"eraseResends\":" + std::to_string(c.eraseResends) +
           ",\"faults\":" + std::to_string(c.faultsApplied) + ",\"ends\":" + std::to_string(c.end) +
           ",\"received\":" + std::to_string(c.messagesReceived) + "}";
}

}  // namespace

extern "C" {

// Chooses the language ("ja..." Japanese, anything else English) and starts a new updater: on the emulated
// device when demoScenario is not null, otherwise on the Web MIDI ports the glue reports. Times are scaled by
// timeScale (1: the product's). 0, or -1 with the reason in velmora_text() for a scenario refused.
EMSCRIPTEN_KEEPALIVE int velmora_start(const char* language, const char* demoScenario, double timeScale) {
    if (g_updater && g_updater->core->busy()) {
        // Its worker may be waiting for this thread, which would then wait for the worker.
        g_text = "an update is running";
        return -1;
    }
    if (g_updater) {
        g_updater->view.release();
        g_updater.reset();
    }
    i18n::useBuiltIn(std::strncmp(language, "ja", 2) == 0 ? i18n::Language::Japanese
                                                          : i18n::Language::English);
    auto updater = std::make_unique<Updater>();
    if (demoScenario != nullptr) {
        const auto scenario = scenarioOf(demoScenario);
        if (!scenario) {
            return -1;
        }
        updater->demo = std::make_unique<emulator::CLoopbackDevice>(*scenario, timeScale);
    }
    const Timing timing = timeScale < 1 ? Timing::scaled(timeScale) : Timing{};
    updater->core = std::make_unique<CUpdateCore>(updater->driver(), updater->view, timing);
    updater->core->startPolling();
    g_updater = std::move(updater);
    return 0;
}

EMSCRIPTEN_KEEPALIVE const char* velmora_text() {
    return g_text.c_str();
}

// The Web MIDI port lists, one port at a time, then commit: the lists the driver shows from now on.
EMSCRIPTEN_KEEPALIVE void velmora_port_add(int input, const char* id, const char* name) {
    g_pendingPorts[input != 0 ? 0 : 1].push_back({id, name});
}

EMSCRIPTEN_KEEPALIVE void velmora_ports_commit() {
    if (g_updater) {
        g_updater->webMidi.setPorts(std::move(g_pendingPorts[0]), std::move(g_pendingPorts[1]));
    }
    g_pendingPorts[0].clear();
    g_pendingPorts[1].clear();
}

// A message that arrived on Web MIDI input `id`: `size` bytes at `data`, nothing read past them.
EMSCRIPTEN_KEEPALIVE void velmora_receive(const char* id, const std::uint8_t* data, int size) {
    if (g_updater && size > 0) {
        g_updater->webMidi.receive(id, midi::Bytes(data, static_cast<std::size_t>(size)));
    }
}

EMSCRIPTEN_KEEPALIVE int velmora_port_count(int input) {
    if (!g_updater) {
        return 0;
    }
    return static_cast<int>(g_updater->driver().portCount(direction(input)));
}

EMSCRIPTEN_KEEPALIVE const char* velmora_port_name(int input, int index) {
    return keep(g_updater->driver().portName(direction(input), static_cast<unsigned>(index)));
}

// The entry the lists pre-select: the same rule as the dialog's, for the first copy of the program.
EMSCRIPTEN_KEEPALIVE int velmora_preselect(int input) {
    std::vector<std::string> names;
    for (int i = 0; i < velmora_port_count(input); ++i) {
        names.emplace_back(velmora_port_name(input, i));
    }
    return midi::preselect(names, 1);
}

EMSCRIPTEN_KEEPALIVE void velmora_execute() {
    g_updater->core->onExecute();
}

EMSCRIPTEN_KEEPALIVE int velmora_busy() {
    return g_updater && g_updater->core->busy() ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE void velmora_dismiss_error() {
    g_updater->view.dismissError();
}

// 1 completed, 2 failed, 3 aborted, 0 nothing yet (read when not busy).
EMSCRIPTEN_KEEPALIVE int velmora_last_result() {
    return static_cast<int>(g_updater->core->lastRun().result);
}

EMSCRIPTEN_KEEPALIVE const char* velmora_translate(const char* context, const char* source) {
    return keep(i18n::translate(context, source));
}

EMSCRIPTEN_KEEPALIVE int velmora_stand_in_images() {
    return carriesStandInImages() ? 1 : 0;
}

// The demo device's verdict on its flash, as JSON.
EMSCRIPTEN_KEEPALIVE const char* velmora_demo_verdict() {
    return keep(g_updater && g_updater->demo ? verdictJson(g_updater->demo->device()) : "null");
}

// A test-side emulated device: what the glue sends reaches it whole; its answers come back to
// Module.velmoraDevice.answer(bytes) on the main thread. 0, or -1 with the reason in velmora_text().
EMSCRIPTEN_KEEPALIVE int velmora_device_start(const char* scenarioText, double timeScale) {
    g_device.reset();
    const auto scenario = scenarioOf(scenarioText);
    if (!scenario) {
        return -1;
    }
    auto device = std::make_unique<Device>();
    device->unit = std::make_unique<emulator::CLoopbackDevice>(*scenario, timeScale);
    device->toDevice = device->unit->driver().openOutput(0, nullptr);
    device->fromDevice = device->unit->driver().openInput(
        0,
        [](midi::Bytes entry) {
            // On the device's thread: a copy goes to the main thread, which frees it.
            auto* copy = static_cast<std::uint8_t*>(std::malloc(entry.size()));
            std::memcpy(copy, entry.data(), entry.size());
            MAIN_THREAD_ASYNC_EM_ASM(
                {
                    const bytes = HEAPU8.slice($0, $0 + $1);
                    _free($0);
                    Module.velmoraDevice.answer(bytes);
                },
                copy, entry.size());
        },
        nullptr);
    g_device = std::move(device);
    return 0;
}

EMSCRIPTEN_KEEPALIVE int velmora_device_send(const std::uint8_t* data, int size) {
    if (!g_device || size <= 0) {
        return 0;
    }
    std::vector<std::uint8_t> copy(data, data + size);
    auto done = std::make_shared<midi::SendCompletion>();
    return g_device->toDevice->send(copy, done) ? 1 : 0;
}

EMSCRIPTEN_KEEPALIVE const char* velmora_device_verdict() {
    return keep(g_device ? verdictJson(g_device->unit->device()) : "null");
}

}  // extern "C"
