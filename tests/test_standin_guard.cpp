// A build whose firmware images are generated filler may update only the emulated device: Execute on any
// other driver is refused before a port opens, so not one byte reaches what may be real hardware.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "firmware/FirmwareImages.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/RecordingView.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora {
namespace {

using namespace std::chrono_literals;

// Loopback ports that claim, or not, to end at an emulated device.
class CClaimingDriver : public midi::CLoopbackDriver {
  public:
    explicit CClaimingDriver(bool emulatedOnly) : emulatedOnly_(emulatedOnly) {}
    bool reachesOnlyEmulatedDevices() const override { return emulatedOnly_; }

  private:
    const bool emulatedOnly_;
};

struct GuardCase {
    const char* what;
    bool emulatedOnly;
};

TEST(StandInGuard, StandInsNeverLeaveForPortsThatMayReachHardware) {
    const GuardCase cases[] = {
        {"the emulated device is updated whatever the images are", true},
        {"ports that may reach hardware get nothing from a stand-in build", false},
    };
    for (const GuardCase& c : cases) {
        SCOPED_TRACE(c.what);
        CClaimingDriver driver(c.emulatedOnly);
        const auto out = driver.addOutput("Velmora");
        driver.addInput("Velmora");
        testing::RecordingView view;
        CUpdateCore core(driver, view, Timing::scaled(0.01));
        core.startPolling();
        core.onExecute();
        const bool refused = carriesStandInImages() && !c.emulatedOnly;
        if (refused) {
            EXPECT_EQ(view.events(),
                      std::vector<std::string>{std::string("error:") + texts::kStandInRefused});
            EXPECT_EQ(out->openCount(), 0) << "the port was opened";
            EXPECT_FALSE(out->receive(50ms).has_value()) << "a message left";
            EXPECT_FALSE(core.busy());
        } else {
            EXPECT_TRUE(out->receive(2s).has_value()) << "the update never asked for the identity";
            EXPECT_TRUE(view.only("error:" + std::string(texts::kStandInRefused)).empty());
        }
        core.abort();
        core.waitForWorker();
    }
}

}  // namespace
}  // namespace velmora
