// velmora-updater for Windows: the dialog on the system's MIDI ports.

#include "app/win32/CVeskUpdatorApp.h"
#include "midi/drivers/PlatformDriver.h"
#include "ui/win32/CVeskUpdatorDlg.h"

int main() {
    velmora::app::CVeskUpdatorApp app;
    return app.run([](velmora::app::CVeskUpdatorApp& self) {
        // Made only once the copy has its number: a refused start touches no MIDI device.
        const std::unique_ptr<velmora::midi::MidiDriver> driver = velmora::midi::createPlatformDriver();
        velmora::ui::CVeskUpdatorDlg dialog(*driver, self.instanceNumber());
        dialog.doModal();
    });
}
