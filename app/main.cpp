// velmora-updater: the dialog on the platform's own MIDI ports.

#include "app/CVeskUpdatorApp.h"
#include "midi/drivers/PlatformDriver.h"
#include "ui/CVeskUpdatorDlg.h"

int main(int argc, char** argv) {
    velmora::app::CVeskUpdatorApp app(argc, argv);
    return app.run([](velmora::app::CVeskUpdatorApp& self) {
        // Made only once the copy has its number: a refused start touches no MIDI device.
        const std::unique_ptr<velmora::midi::MidiDriver> driver = velmora::midi::createPlatformDriver();
        velmora::ui::CVeskUpdatorDlg dialog(*driver, self.instanceNumber());
        dialog.exec();
    });
}
