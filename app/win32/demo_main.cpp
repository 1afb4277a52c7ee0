// velmora-updater-demo for Windows: the dialog with one emulated device ("Velmora") on in-process ports. The
// one optional argument is the emulated device's scenario, as for the Linux demo; a scenario it refuses ends
// the program with status 2 and the reason on standard error, before any window opens.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

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
    app::CVeskUpdatorApp application(" demo");  // first: it chooses the language of every text
    std::string usage;
    const std::optional<emulator::Scenario> scenario = emulator::demoScenario(
        std::vector<std::string>(argv + 1, argv + argc), app::CVeskUpdatorApp::programName(), usage);
    if (!scenario) {
        std::fputs(usage.c_str(), stderr);
        return kExitUsage;
    }

    return application.run([&scenario](app::CVeskUpdatorApp& self) {
        midi::CLoopbackDriver driver;
        emulator::EmulatorConfig config;
        config.scenario = *scenario;
        emulator::CEmulatedDevice device(driver, config);
        ui::CVeskUpdatorDlg dialog(driver, self.instanceNumber());
        dialog.doModal();
    });
}
