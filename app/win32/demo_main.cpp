// velmora-updater-demo for Windows: the dialog with one emulated device ("Velmora") on in-process ports. The
// one optional argument is the emulated device's scenario, as for the Linux demo; a scenario it refuses ends
// the program with status 2 and the reason on standard error, before any window opens.

#include <string>
#include <vector>

#include "app/DemoDevice.h"
#include "app/win32/CVeskUpdatorApp.h"
#include "emulator/LoopbackDevice.h"
#include "ui/win32/CVeskUpdatorDlg.h"

int main(int argc, char** argv) {
    using namespace velmora;
    app::CVeskUpdatorApp application(" demo");  // first: it chooses the language of every text
    const auto scenario = app::demoScenarioOrUsage(std::vector<std::string>(argv + 1, argv + argc),
                                                   app::CVeskUpdatorApp::programName());
    if (!scenario) {
        return app::kExitUsage;
    }
    return application.run([&scenario](app::CVeskUpdatorApp& self) {
        emulator::CLoopbackDevice device(*scenario);
        ui::CVeskUpdatorDlg dialog(device.driver(), self.instanceNumber());
        dialog.doModal();
    });
}
