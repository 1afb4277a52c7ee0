// The Windows dialog, run for real (under Wine in CI): the worker's calls reach the controls on the dialog's
// thread before they return, none can hold up a closing dialog, the keyboard works as the template says, and
// the resources say what the program's texts say.

#include <gtest/gtest.h>
#include <windows.h>
// after windows.h, which it needs
#include <commctrl.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "i18n/Catalogue.h"
#include "i18n/WideText.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "tests/support/Watchdog.h"
#include "ui/DialogTexts.h"
#include "ui/win32/CVeskUpdatorDlg.h"
#include "ui/win32/ResourceIds.h"
#include "update/Texts.h"

namespace velmora::ui {
namespace {

using namespace std::chrono_literals;
using i18n::wide;

std::wstring itemText(HWND dialog, int id) {
    wchar_t buffer[256] = {};
    ::GetDlgItemTextW(dialog, id, buffer, 256);  // from another thread: a sent WM_GETTEXT
    return buffer;
}

// A dialog over ports named like the device's, run modally on a watchdog's thread while `drive` runs on
// another with the window; drive must end the dialog. `afterClose` runs once the modal run has returned,
// before the dialog object goes. The whole run must end within the limit.
struct DialogRun {
    midi::CLoopbackDriver driver;
    std::shared_ptr<midi::LoopbackOutputEnd> output = driver.addOutput("USB Audio Device");
    std::shared_ptr<midi::LoopbackInputEnd> input = driver.addInput("USB Audio Device");
    std::vector<std::wstring> boxes;  // caption and text of each error box, in order
    std::thread::id boxThread;
    std::thread::id dialogThread;
    int instanceNumber = 1;
    INT_PTR result = 0;

    void run(
        const std::function<void(CVeskUpdatorDlg&, HWND)>& drive,
        const std::function<void()>& afterClose = [] {}) {
        testing::expectFinishes(
            "the Windows dialog's run",
            [&] {
                dialogThread = std::this_thread::get_id();
                CVeskUpdatorDlg dialog(driver, instanceNumber);
                dialog.setBoxRunner(
                    [this](HWND owner, const std::wstring& text, const std::wstring& caption) {
                        boxes.push_back(caption + L": " + text);
                        boxThread = std::this_thread::get_id();
                        EXPECT_TRUE(::IsWindow(owner));
                    });
                std::thread driving;
                dialog.setOnInitialised(
                    [&](HWND window) { driving = std::thread([&, window] { drive(dialog, window); }); });
                result = dialog.doModal();
                driving.join();
                afterClose();
            },
            20s);
    }
};

void pressKey(HWND dialog, WPARAM key) {
    // As the system does: to the control that has the focus, and with no focus at all to the active window as
    // a system key, which the dialog manager ignores. The modal loop gives the dialog manager the first look.
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info);
    const bool focused = info.hwndFocus != nullptr;
    const HWND target = focused ? info.hwndFocus : dialog;
    ::PostMessageW(target, focused ? WM_KEYDOWN : WM_SYSKEYDOWN, key, 0);
    ::PostMessageW(target, focused ? WM_KEYUP : WM_SYSKEYUP, key, 0xC0000000);
}

int focusedId(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus != nullptr ? ::GetDlgCtrlID(info.hwndFocus) : 0;
}

void waitUntil(const std::function<bool()>& condition) {
    for (int i = 0; i < 400 && !condition(); ++i) {
        std::this_thread::sleep_for(5ms);
    }
}

struct WorkerCallCase {
    const char* fault;
    std::function<void(UpdateView&)> call;
    std::function<bool(HWND)> tookEffect;
};

TEST(Win32DialogTest, EachWorkerCallHasTakenEffectWhenItReturns) {
    const std::vector<WorkerCallCase> cases = {
        {"status text lost or late", [](UpdateView& v) { v.setStatusText(texts::kErasing); },
         [](HWND d) { return itemText(d, VELMORA_IDC_STATUS) == L"Erasing Flash memory."; }},
        {"step counter lost or late", [](UpdateView& v) { v.setStepText("3/9"); },
         [](HWND d) { return itemText(d, VELMORA_IDC_STEP) == L"3/9"; }},
        {"UTF-8 text garbled on its way to the control",
         [](UpdateView& v) {
             v.setStatusText("USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA");
         },
         [](HWND d) { return itemText(d, VELMORA_IDC_STATUS) == L"USB \u30AA\u30FC\u30C7\u30A3\u30AA"; }},
        {"progress range above 16 bits cut short",
         [](UpdateView& v) {
             v.setProgressRange(0, 462232);
             v.setProgressPos(151552);
         },
         [](HWND d) {
             const HWND bar = ::GetDlgItem(d, VELMORA_IDC_PROGRESS);
             return ::SendMessageW(bar, PBM_GETRANGE, FALSE, 0) == 462232 &&
                    ::SendMessageW(bar, PBM_GETPOS, 0, 0) == 151552;
         }},
        {"Execute not disabled", [](UpdateView& v) { v.enableControl(ControlId::Execute, false); },
         [](HWND d) { return !::IsWindowEnabled(::GetDlgItem(d, VELMORA_IDC_EXECUTE)); }},
        {"a list not enabled again",
         [](UpdateView& v) {
             v.enableControl(ControlId::MidiIn, false);
             v.enableControl(ControlId::MidiIn, true);
         },
         [](HWND d) { return ::IsWindowEnabled(::GetDlgItem(d, VELMORA_IDC_MIDI_IN)) != FALSE; }},
    };
    for (const WorkerCallCase& c : cases) {
        SCOPED_TRACE(c.fault);
        DialogRun run;
        bool effect = false;
        run.run([&](CVeskUpdatorDlg& dialog, HWND window) {
            std::thread worker([&] {
                c.call(dialog.controller());
                effect = c.tookEffect(window);
            });
            worker.join();
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_TRUE(effect);
    }
}

TEST(Win32DialogTest, ErrorBoxRunsOnTheDialogsThreadWithTheErrorCaption) {
    DialogRun run;
    run.run([&](CVeskUpdatorDlg& dialog, HWND window) {
        std::thread([&] { dialog.controller().showError(texts::kTransferError); }).join();
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    });
    ASSERT_EQ(run.boxes, std::vector<std::wstring>{L"Error: Transfer error occurred."});
    EXPECT_EQ(run.boxThread, run.dialogThread);
}

// The teardown trap: the window closes while a worker keeps calling the view, and the closing thread then
// waits for that worker. Every call after the close must return without the dialog's thread.
TEST(Win32DialogTest, ClosingReleasesAWorkerThatKeepsCallingTheView) {
    DialogRun run;
    std::atomic<bool> stop{false};
    std::atomic<int> callsAfterClose{0};
    std::thread worker;
    run.run(
        [&](CVeskUpdatorDlg& dialog, HWND window) {
            worker = std::thread([&] {
                while (!stop) {
                    dialog.controller().setStatusText(texts::kErasing);
                    dialog.controller().showError(texts::kTransferError);
                    if (!::IsWindow(window)) {
                        ++callsAfterClose;
                    }
                }
            });
            std::this_thread::sleep_for(50ms);
            ::PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);  // the close box
        },
        [&] {
            waitUntil([&] { return callsAfterClose > 100; });  // returning at once, not waiting for a window
            stop = true;
            worker.join();
        });
    EXPECT_GT(callsAfterClose.load(), 100);
    EXPECT_EQ(run.result, IDCANCEL);
}

// A real error box (owned by the dialog) is open when the window is closed: it goes with the window and
// releases the worker that asked for it.
TEST(Win32DialogTest, ClosingEndsAnOpenErrorBoxAndItsWorkersWait) {
    DialogRun run;
    std::thread worker;
    run.run(
        [&](CVeskUpdatorDlg& dialog, HWND window) {
            dialog.setBoxRunner([](HWND owner, const std::wstring& text, const std::wstring& caption) {
                ::MessageBoxW(owner, text.c_str(), caption.c_str(), MB_OK | MB_ICONERROR);
            });
            worker = std::thread([&] { dialog.controller().showError(texts::kTransferError); });
            waitUntil([&] { return ::FindWindowW(L"#32770", L"Error") != nullptr; });
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);  // Exit, as from a second user action
        },
        [&] { worker.join(); });
    EXPECT_EQ(::FindWindowW(L"#32770", L"Error"), nullptr);
}

TEST(Win32DialogTest, KeyboardFollowsTheTemplate) {
    struct KeyCase {
        const char* fault;
        std::vector<WPARAM> keys;
        std::vector<int> focusAfterEach;  // control ids; 0: not checked
        std::vector<std::wstring> boxes;
        bool portsOpen;  // false: the output port refuses, so Execute shows its first message and stops
    };
    const std::vector<KeyCase> cases = {
        {"tab order is not the template's, or a label takes the focus",
         {VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_ESCAPE},
         {VELMORA_IDC_EXIT, VELMORA_IDC_MIDI_IN, VELMORA_IDC_MIDI_OUT, VELMORA_IDC_STATUS, VELMORA_IDC_RESCAN,
          VELMORA_IDC_STEP, VELMORA_IDC_EXECUTE, 0},
         {},
         false},
        {"Return does not run Execute",
         {VK_RETURN, VK_ESCAPE},
         {0, 0},
         {L"Error: Can't open MIDI Out device."},
         false},
        {"Escape does not close the dialog like Exit", {VK_ESCAPE}, {0}, {}, false},
        // The update waits for a device that never answers; Execute, which had the focus, is disabled.
        {"Escape lost mid-update with the focus gone from the disabled Execute",
         {VK_RETURN, VK_ESCAPE},
         {0, 0},
         {},
         true},
    };
    for (const KeyCase& c : cases) {
        SCOPED_TRACE(c.fault);
        DialogRun run;
        run.output->setRefuseOpen(!c.portsOpen);
        std::vector<int> focus;
        bool endedByKeys = false;
        run.run([&](CVeskUpdatorDlg&, HWND window) {
            waitUntil([&] { return ::IsWindowVisible(window) && focusedId(window) == VELMORA_IDC_EXECUTE; });
            for (WPARAM key : c.keys) {
                pressKey(window, key);
                std::this_thread::sleep_for(100ms);
                focus.push_back(::IsWindow(window) ? focusedId(window) : 0);
            }
            waitUntil([&] { return !::IsWindow(window); });
            endedByKeys = !::IsWindow(window);
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);  // a dialog the keys left open ends all the same
        });
        EXPECT_TRUE(endedByKeys);
        for (std::size_t i = 0; i < c.focusAfterEach.size() && i < focus.size(); ++i) {
            if (c.focusAfterEach[i] != 0) {
                EXPECT_EQ(focus[i], c.focusAfterEach[i]) << "after key " << i + 1;
            }
        }
        EXPECT_EQ(run.boxes, c.boxes);
        EXPECT_EQ(run.result, IDCANCEL);
    }
}

// Windows names a control after the static text right before it in the template, and a screen reader says
// that name: each list must come right after its label (Wine's accessibility layer does not name controls
// this way, so the order itself is what is checked).
TEST(Win32DialogTest, EachListComesRightAfterTheLabelThatNamesIt) {
    DialogRun run;
    std::vector<std::wstring> names;
    run.run([&](CVeskUpdatorDlg&, HWND window) {
        for (const int id : {VELMORA_IDC_MIDI_IN, VELMORA_IDC_MIDI_OUT}) {
            const HWND before = ::GetWindow(::GetDlgItem(window, id), GW_HWNDPREV);
            names.push_back(itemText(window, ::GetDlgCtrlID(before)));
        }
        ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
    });
    EXPECT_EQ(names, (std::vector<std::wstring>{L"MIDI IN", L"MIDI OUT"}));
}

TEST(Win32DialogTest, StringTableHoldsTheProgramsTexts) {
    const std::vector<std::pair<UINT, std::string>> cases = {
        {VELMORA_IDS_ABOUT_MENU, texts::kAboutMenu},
        {VELMORA_IDS_TIME_OUT_1, texts::kTimeOut1},
        {VELMORA_IDS_TIME_OUT_2, texts::kTimeOut2},
        {VELMORA_IDS_TIME_OUT_3, texts::kTimeOut3},
        {VELMORA_IDS_ILLEGAL_DEVICE, texts::kIllegalDevice},
        {VELMORA_IDS_SET_UPDATE_MODE, texts::kSetUpdateMode},
        {VELMORA_IDS_TRANSFER_ERROR, texts::kTransferError},
        {VELMORA_IDS_COMPLETED, texts::kCompleted},
        {VELMORA_IDS_IN_PROGRESS, texts::kInProgress},
        {VELMORA_IDS_CANT_OPEN_IN, texts::kCantOpenIn},
        {VELMORA_IDS_ERROR_CAPTION, texts::kErrorCaption},
        {VELMORA_IDS_CANT_OPEN_OUT, texts::kCantOpenOut},
        {VELMORA_IDS_ERASING, texts::kErasing},
        {VELMORA_IDS_DATA_TRANSMIT, "Data transmit  %d / %d "},
    };
    for (const auto& [id, text] : cases) {
        wchar_t buffer[128] = {};
        ::LoadStringW(::GetModuleHandleW(nullptr), id, buffer, 128);
        EXPECT_EQ(std::wstring(buffer), wide(text)) << "string " << id << " differs from the program's text";
    }
}

TEST(Win32DialogTest, TitleCarriesTheCopyNumberAndTheWindowMenuEndsWithAbout) {
    for (int instance : {1, 2}) {
        SCOPED_TRACE(instance);
        DialogRun run;
        run.instanceNumber = instance;
        std::wstring title;
        UINT lastId = 0;
        UINT beforeLast = 0;
        run.run([&](CVeskUpdatorDlg&, HWND window) {
            wchar_t buffer[128] = {};
            ::GetWindowTextW(window, buffer, 128);
            title = buffer;
            const HMENU menu = ::GetSystemMenu(window, FALSE);
            const int count = ::GetMenuItemCount(menu);
            lastId = ::GetMenuItemID(menu, count - 1);
            MENUITEMINFOW item{};
            item.cbSize = sizeof(item);
            item.fMask = MIIM_FTYPE;
            ::GetMenuItemInfoW(menu, static_cast<UINT>(count - 2), TRUE, &item);
            beforeLast = item.fType;
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        });
        EXPECT_EQ(title, wide(texts::instanceTitle(instance)));
        EXPECT_EQ(lastId, static_cast<UINT>(VELMORA_IDM_ABOUT));
        EXPECT_TRUE(beforeLast & MFT_SEPARATOR);
    }
}

// The template holds the English labels; the dialog sets each again in the language chosen at start.
TEST(Win32DialogTest, LabelsAndTheWindowMenuAreInTheChosenLanguage) {
    for (const auto language : {i18n::Language::English, i18n::Language::Japanese}) {
        SCOPED_TRACE(language == i18n::Language::English ? "English" : "Japanese");
        i18n::useBuiltIn(language);
        DialogRun run;
        std::vector<std::wstring> shown;
        run.run([&](CVeskUpdatorDlg&, HWND window) {
            for (int id : {VELMORA_IDC_EXECUTE, VELMORA_IDC_EXIT, VELMORA_IDC_RESCAN,
                           VELMORA_IDC_MIDI_IN_LABEL, VELMORA_IDC_MIDI_OUT_LABEL}) {
                shown.push_back(itemText(window, id));
            }
            const HMENU menu = ::GetSystemMenu(window, FALSE);
            wchar_t about[128] = {};
            ::GetMenuStringW(menu, VELMORA_IDM_ABOUT, about, 128, MF_BYCOMMAND);
            shown.push_back(about);
            ::PostMessageW(window, WM_COMMAND, IDCANCEL, 0);
        });
        std::vector<std::wstring> expected;
        for (const char* label :
             {labels::kExecute, labels::kExit, labels::kRescan, labels::kMidiIn, labels::kMidiOut}) {
            expected.push_back(wide(labels::shown(label)));
        }
        expected.push_back(wide(texts::shown(texts::kAboutMenu)));
        i18n::useBuiltIn(i18n::Language::English);
        EXPECT_EQ(shown, expected);
        if (language == i18n::Language::Japanese) {
            EXPECT_NE(shown.front(), wide(labels::kExecute));
            EXPECT_EQ(i18n::untranslated(), std::vector<std::string>());
        }
    }
}

}  // namespace
}  // namespace velmora::ui
