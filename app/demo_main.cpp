// velmora-updater-demo: the dialog with one emulated device ("Velmora") on in-process ports, for trying the
// program without hardware. The one optional argument is the emulated device's scenario, handed over
// unchanged (see the emulator's scenario keys); a scenario it refuses ends the program with status 2 and the
// reason on standard error, before any window opens.

#include <cstdio>
#include <string>

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
    const QStringList args = QCoreApplication::arguments();
    const std::string program = app::CVeskUpdatorApp::programName().toStdString();
    if (args.size() > 2) {
        std::fprintf(stderr, "usage: %s [scenario]\n\n%s", program.c_str(),
                     std::string(emulator::scenarioHelp()).c_str());
        return kExitUsage;
    }
    const std::string text = args.size() == 2 ? args.at(1).toStdString() : std::string();
    const emulator::ScenarioParse parsed = emulator::parseScenario(text);
    if (!parsed.ok()) {
        std::fprintf(stderr, "%s: the scenario \"%s\" is not valid: %s\n\n%s", program.c_str(), text.c_str(),
                     parsed.error.c_str(), std::string(emulator::scenarioHelp()).c_str());
        return kExitUsage;
    }

    return application.run([&parsed](app::CVeskUpdatorApp& self) {
        midi::CLoopbackDriver driver;
        emulator::EmulatorConfig config;
        config.scenario = parsed.scenario;
        emulator::CEmulatedDevice device(driver, config);
        ui::CVeskUpdatorDlg dialog(driver, self.instanceNumber());
        dialog.exec();
    });
}
