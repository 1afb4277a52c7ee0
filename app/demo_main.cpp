// velmora-updater-demo: the dialog with one emulated device ("Velmora") on in-process ports, for trying the
// program without hardware. The one optional argument is the emulated device's scenario (see the emulator's
// scenario keys); a scenario it refuses ends the program with status 2 and the reason on standard error,
// before any window opens.

#include <string>
#include <vector>

#include "app/CVeskUpdatorApp.h"
#include "app/DemoDevice.h"
#include "emulator/LoopbackDevice.h"
#include "ui/CVeskUpdatorDlg.h"

int main(int argc, char** argv) {
    using namespace velmora;
    // Its own instance numbers: a running demo must not push the real updater to copy 2, which looks for
    // other port names. Takes Qt's own options out of the arguments.
    app::CVeskUpdatorApp application(argc, argv, " demo");
    std::vector<std::string> args;
    for (const QString& arg : QCoreApplication::arguments().mid(1)) {
        args.push_back(arg.toStdString());
    }
    const auto scenario = app::demoScenarioOrUsage(args, app::CVeskUpdatorApp::programName().toStdString());
    if (!scenario) {
        return app::kExitUsage;
    }
    return application.run([&scenario](app::CVeskUpdatorApp& self) {
        emulator::CLoopbackDevice device(*scenario);
        ui::CVeskUpdatorDlg dialog(device.driver(), self.instanceNumber());
        dialog.exec();
    });
}
