// The decisions every updater window leaves to its controller, seen through a window that writes down each
// call: which ports the lists show and pre-select, what Rescan may do, and closing while an update runs. The
// test's thread is the window's: it runs the worker's queued calls only when a row says so.
#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "midi/drivers/loopback/LoopbackDriver.h"
#include "support/DescribedRow.h"
#include "support/ScriptedDevice.h"
#include "ui/CDialogController.h"
#include "update/UpdateCore.h"

namespace velmora::ui {
namespace {

using velmora::testing::PrintTo;
using namespace std::chrono_literals;
using Events = std::vector<std::string>;

class RecordingWindow : public DialogWindow {
  public:
    void fillList(ControlId list, const std::vector<std::string>& names, int selected) override {
        std::string joined;
        for (const std::string& n : names) {
            joined += (joined.empty() ? "" : ",") + n;
        }
        events.push_back("fill:" + std::to_string(static_cast<int>(list)) + "=" + joined + "@" +
                         std::to_string(selected));
        selection[list == ControlId::MidiIn] = selected;
    }
    int selectedIndex(ControlId list) override { return selection[list == ControlId::MidiIn]; }
    void setFieldText(Field field, const std::string& text) override {
        events.push_back((field == Field::Status ? "status:" : "step:") + text);
    }
    void setProgressRange(int low, int high) override {
        events.push_back("range:" + std::to_string(low) + "-" + std::to_string(high));
    }
    void setProgressPos(int pos) override { events.push_back("pos:" + std::to_string(pos)); }
    void enableControl(ControlId id, bool enabled) override {
        events.push_back("enable:" + std::to_string(static_cast<int>(id)) + (enabled ? "=on" : "=off"));
    }
    void showErrorBox(const std::string& text) override { events.push_back("error:" + text); }
    void closeOwnedBoxes() override { events.push_back("close-boxes"); }

    Events events;  // only ever touched on the test's thread
    int selection[2] = {-1, -1};
};

// The window's thread's queue of the worker's calls.
struct Posted {
    std::mutex mutex;
    std::deque<std::function<void()>> tasks;
    void runAll() {
        for (;;) {
            std::function<void()> task;
            {
                std::lock_guard lock(mutex);
                if (tasks.empty()) {
                    return;
                }
                task = std::move(tasks.front());
                tasks.pop_front();
            }
            task();
        }
    }
};

struct Rig {
    midi::CLoopbackDriver driver;
    std::unique_ptr<testing::ScriptedDevice> device;
    RecordingWindow window;
    Posted posted;
    std::unique_ptr<CDialogController> controller;

    void open(int instanceNumber) {
        Timing patient;
        patient.pollPeriod = 1ms;
        controller = std::make_unique<CDialogController>(window, driver, instanceNumber, patient,
                                                         [this](std::function<void()> task) {
                                                             std::lock_guard lock(posted.mutex);
                                                             posted.tasks.push_back(std::move(task));
                                                         });
        controller->start();
    }
};

// A device that never answers: an update started on it runs until it is closed.
void silentDevice(Rig& rig) {
    rig.device = std::make_unique<testing::ScriptedDevice>(
        rig.driver, [](const testing::ScriptedDevice::Bytes&, int) { return std::nullopt; });
}

const Events kDisabled = {"enable:1000=off", "enable:1001=off", "enable:1=off", "enable:1004=off"};

Events joined(std::initializer_list<Events> parts) {
    Events all;
    for (const Events& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

struct DecisionRow {
    const char* what;
    std::vector<std::string> ports;  // both directions, besides a scripted device's "Velmora"
    bool device;                     // a silent scripted device is there too
    int instanceNumber;
    std::function<void(Rig&)> act;  // what the user does once the window is up
    Events expected;                // every window call from the start on
};

class ControllerDecisions : public ::testing::TestWithParam<DecisionRow> {};

TEST_P(ControllerDecisions, TheWindowIsToldExactlyThis) {
    const DecisionRow& row = GetParam();
    Rig rig;
    for (const std::string& name : row.ports) {
        rig.driver.addInput(name);
        rig.driver.addOutput(name);
    }
    if (row.device) {
        silentDevice(rig);
    }
    rig.open(row.instanceNumber);
    if (row.act) {
        row.act(rig);
    }
    const auto started = std::chrono::steady_clock::now();
    rig.controller.reset();  // closing, then the worker joined
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s) << "closing waited out the update's time-outs";
    EXPECT_EQ(rig.window.events, row.expected);
}

const Events kStarted = {"range:0-100", "pos:0"};

// Executes and waits until the worker has asked for the device's identity: it then waits for the answer.
void executeAndWait(Rig& rig) {
    rig.controller->onExecute();
    const auto limit = std::chrono::steady_clock::now() + 10s;
    while (rig.device->requests().empty() && std::chrono::steady_clock::now() < limit) {
        rig.posted.runAll();
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_FALSE(rig.device->requests().empty());
    rig.posted.runAll();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ControllerDecisions,
    ::testing::Values(
        DecisionRow{"the device's ports pre-selected, the last match of each list",
                    {"Other", "Velmora", "USB Audio Device"},
                    false,
                    1,
                    {},
                    joined({{"fill:1001=Other,Velmora,USB Audio Device@2",
                             "fill:1000=Other,Velmora,USB Audio Device@2"},
                            kStarted,
                            {"close-boxes"}})},
        DecisionRow{"without the device nothing is pre-selected",
                    {"Other", "Velmora (2)"},
                    false,
                    1,
                    {},
                    joined({{"fill:1001=Other,Velmora (2)@-1", "fill:1000=Other,Velmora (2)@-1"},
                            kStarted,
                            {"close-boxes"}})},
        DecisionRow{"copy 2 pre-selects only the ports carrying its number",
                    {"Velmora (2)", "Velmora"},
                    false,
                    2,
                    {},
                    joined({{"fill:1001=Velmora (2),Velmora@0", "fill:1000=Velmora (2),Velmora@0"},
                            kStarted,
                            {"close-boxes"}})},
        DecisionRow{"rescan while idle refills the lists and makes Execute usable",
                    {"Velmora"},
                    false,
                    1,
                    [](Rig& rig) { rig.controller->onRescan(); },
                    joined({{"fill:1001=Velmora@0", "fill:1000=Velmora@0"},
                            kStarted,
                            {"fill:1001=Velmora@0", "fill:1000=Velmora@0", "enable:1=on", "close-boxes"}})},
        DecisionRow{"rescan refused while an update runs on the listed ports",
                    {},
                    true,
                    1,
                    [](Rig& rig) {
                        executeAndWait(rig);
                        rig.controller->onRescan();
                    },
                    joined({{"fill:1001=Velmora@0", "fill:1000=Velmora@0"},
                            kStarted,
                            kDisabled,
                            {"step:0/9", "close-boxes"}})},
        DecisionRow{"closing while the worker waits for the device: no box, the worker released",
                    {},
                    true,
                    1,
                    [](Rig& rig) {
                        executeAndWait(rig);
                        rig.controller->beginClosing();
                        rig.controller->beginClosing();  // the window's end after Exit: once only
                    },
                    joined({{"fill:1001=Velmora@0", "fill:1000=Velmora@0"},
                            kStarted,
                            kDisabled,
                            {"step:0/9", "close-boxes"}})},
        DecisionRow{
            "closing while the worker waits for the window: released without it",
            {},
            true,
            1,
            [](Rig& rig) {
                rig.controller->onExecute();  // the worker's first call waits in the queue, never run
                std::this_thread::sleep_for(20ms);
            },
            joined({{"fill:1001=Velmora@0", "fill:1000=Velmora@0"}, kStarted, kDisabled, {"close-boxes"}})}),
    [](const auto& row) { return "Row" + std::to_string(row.index); });

}  // namespace
}  // namespace velmora::ui
