// velmora-updater-demo for Windows: the dialog with one emulated device ("Velmora") on in-process ports. The
// one optional argument is the emulated device's scenario, as for the Linux demo; a scenario it refuses ends
// the program with status 2 and the reason on standard error, before any window opens.

#include <cstdio>
#include <string>

#include "app/win32/CVeskUpdatorApp.h"
#include "emulator/CEmulatedDevice.h"
#include "emulator/Scenario.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "ui/win32/CVeskUpdatorDlg.h"

namespace {

constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora;
    const std::string program = app::CVeskUpdatorApp::programName();
    const std::string text = argc == 2 ? argv[1] : std::string();
    const emulator::ScenarioParse parsed = emulator::parseScenario(text);
    if (argc > 2 || !parsed.ok()) {
        std::fprintf(stderr, "usage: %s [scenario]\n%s\n\n%s", program.c_str(), parsed.error.c_str(),
                     std::string(emulator::scenarioHelp()).c_str());
        return kExitUsage;
    }

    app::CVeskUpdatorApp application(" demo");
    return application.run([&parsed](app::CVeskUpdatorApp& self) {
        midi::CLoopbackDriver driver;
        emulator::EmulatorConfig config;
        config.scenario = parsed.scenario;
        emulator::CEmulatedDevice device(driver, config);
        ui::CVeskUpdatorDlg dialog(driver, self.instanceNumber());
        dialog.doModal();
    });
}
