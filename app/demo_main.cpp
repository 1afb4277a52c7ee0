// velmora-updater-demo: the dialog with one emulated device ("Velmora") on in-process ports, for trying the
// program without hardware. The one optional argument is the emulated device's scenario, handed over
// unchanged (see the emulator's scenario keys); a scenario it refuses ends the program with status 2 and the
// reason on standard error, before any window opens.

#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/CVeskUpdatorApp.h"
#include "emulator/CEmulatedDevice.h"
#include "emulator/Scenario.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "ui/CVeskUpdatorDlg.h"

namespace {

constexpr int kExitUsage = 2;

}  // namespace

int main(int argc, char** argv) {
    using namespace velmora;
    // Its own instance numbers: a running demo must not push the real updater to copy 2, which looks for
    // other port names. Takes Qt's own options out of the arguments.
    app::CVeskUpdatorApp application(argc, argv, " demo");
    std::vector<std::string> args;
    for (const QString& arg : QCoreApplication::arguments().mid(1)) {
        args.push_back(arg.toStdString());
    }
    std::string usage;
    const std::optional<emulator::Scenario> scenario =
        emulator::demoScenario(args, app::CVeskUpdatorApp::programName().toStdString(), usage);
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
        dialog.exec();
    });
}
