// The updater dialog on the offscreen platform, against in-process ports and the emulated device: its state
// and controls, the enabled states through an update, the error boxes, discovery, the About box, and closing
// at any moment without a hang or a late message box.

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFontDatabase>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "emulator/CEmulatedDevice.h"
#include "emulator/Scenario.h"
#include "firmware/FirmwareImages.h"
#include "i18n/Catalogue.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "ui/CAboutDlg.h"
#include "ui/CVeskUpdatorDlg.h"
#include "ui/DialogTexts.h"
#include "ui/Language.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

#include "support/TestTiming.h"

Q_DECLARE_METATYPE(velmora::i18n::Language)

using namespace velmora;
using namespace std::chrono_literals;
namespace controls = velmora::ui::controls;

namespace {

// "USB オーディオ デバイス", as ports report it inside the program.
const char* const kJapanese =
    "USB \xE3\x82\xAA\xE3\x83\xBC\xE3\x83\x87\xE3\x82\xA3\xE3\x82\xAA "
    "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9";

constexpr int kUpdateLimitMs = 120000;  // a whole update against the instant device, with room for sanitizers

using velmora::testing::fastTiming;

// Ends the test run when a step that must return does not: a deadlock should fail, not hang.
class Watchdog {
  public:
    Watchdog(const char* what, std::chrono::seconds limit = 30s)
        : thread_([this, what, limit] {
              std::unique_lock lock(mutex_);
              if (!done_.wait_for(lock, limit, [this] { return finished_; })) {
                  std::fprintf(stderr, "FAIL: hung: %s\n", what);
                  std::_Exit(1);
              }
          }) {}
    ~Watchdog() {
        {
            std::lock_guard lock(mutex_);
            finished_ = true;
        }
        done_.notify_all();
        thread_.join();
    }

  private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool finished_ = false;
    std::thread thread_;
};

// What an error box showed, and what the dialog showed at that moment.
struct BoxSeen {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget* parent = nullptr;
    Qt::WindowModality modality = Qt::NonModal;
    QString status;
    QString step;
    bool executeEnabled = false;
};

// The ports, an optional emulated device on them, and the dialog; torn down dialog first.
struct Bench {
    midi::CLoopbackDriver driver;
    std::unique_ptr<emulator::CEmulatedDevice> device;
    std::unique_ptr<ui::CVeskUpdatorDlg> dialog;
    std::vector<BoxSeen> boxes;

    ~Bench() {
        Watchdog watchdog("dialog teardown");
        dialog.reset();
    }

    // A device named "Velmora" on both ports, answering at once (or at `timeScale` of its real speed).
    void addDevice(const std::string& scenario = {}, double timeScale = 0.0) {
        const emulator::ScenarioParse parsed = emulator::parseScenario(scenario);
        QVERIFY2(parsed.ok(), parsed.error.c_str());
        emulator::EmulatorConfig config;
        config.scenario = parsed.scenario;
        if (timeScale == 0.0) {
            config.scenario.link = emulator::Link::None;
        }
        config.timeScale = timeScale;
        device = std::make_unique<emulator::CEmulatedDevice>(driver, config);
    }

    ui::CVeskUpdatorDlg& open(int instanceNumber = 1, Timing timing = fastTiming()) {
        dialog = std::make_unique<ui::CVeskUpdatorDlg>(driver, instanceNumber, timing);
        // By default every box is answered at once, like a user pressing OK straight away.
        dialog->setBoxRunner([this](QMessageBox& box) { record(box); });
        dialog->show();
        return *dialog;
    }

    void record(QMessageBox& box) {
        boxes.push_back({box.text(), box.windowTitle(), box.icon(), box.standardButtons(), box.parentWidget(),
                         box.windowModality(), line(controls::kStatus)->text(), line(controls::kStep)->text(),
                         button(controls::kExecute)->isEnabled()});
    }

    QWidget* control(int id) const { return dialog->control(id); }
    QComboBox* list(int id) const { return qobject_cast<QComboBox*>(control(id)); }
    QPushButton* button(int id) const { return qobject_cast<QPushButton*>(control(id)); }
    QLineEdit* line(int id) const { return qobject_cast<QLineEdit*>(control(id)); }
    QProgressBar* progress() const { return qobject_cast<QProgressBar*>(control(controls::kProgress)); }

    // Enabled states as "in out execute rescan exit", 1 for enabled.
    QString enabled() const {
        QString s;
        for (int id : {controls::kMidiIn, controls::kMidiOut, controls::kExecute, controls::kRescan,
                       controls::kExit}) {
            s += control(id)->isEnabled() ? QLatin1Char('1') : QLatin1Char('0');
        }
        return s;
    }

    QStringList boxTexts() const {
        QStringList texts;
        for (const BoxSeen& box : boxes) {
            texts << box.text;
        }
        return texts;
    }

    void click(int id) const { QTest::mouseClick(button(id), Qt::LeftButton); }
};

const QString kAllEnabled = QStringLiteral("11111");
const QString kRunning = QStringLiteral("00001");    // only Exit usable
const QString kCompleted = QStringLiteral("11011");  // Execute waits for Rescan Device
QString q(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The dialogs in one language for one test case, English again after it.
struct InLanguage {
    explicit InLanguage(i18n::Language language) {
        ui::useLanguage(language);
        if (language == i18n::Language::Japanese) {
            // Without a Japanese font every character would be drawn as a box of one width, and fit.
            QVERIFY2(!QFontDatabase::families(QFontDatabase::Japanese).isEmpty(),
                     "no Japanese font: scripts/install-deps installs one");
        }
    }
    ~InLanguage() { ui::useLanguage(i18n::Language::English); }
};

void addLanguageColumn() {
    QTest::addColumn<i18n::Language>("language");
}

}  // namespace

class TestUpdaterDialog : public QObject {
    Q_OBJECT

  private Q_SLOTS:
    void rightAfterStartEverythingIsEnabledAndEmpty_data();
    void rightAfterStartEverythingIsEnabledAndEmpty();
    void titleCarriesTheCopyNumberFromCopyTwoOn_data();
    void titleCarriesTheCopyNumberFromCopyTwoOn();
    void controlsFitTheFixedSizeDialogWithoutOverlapping_data();
    void controlsFitTheFixedSizeDialogWithoutOverlapping();
    void japaneseComesFromTheSameCatalogueAsTheProgramsWithoutQt();
    void completeUpdateLeavesExecuteDisabledUntilRescan();
    void executeWhileBusySaysInProgressAndChangesNothing();
    void portFailingToOpenDisablesNothing_data();
    void portFailingToOpenDisablesNothing();
    void errorBoxIsAModalStopBoxShownAfterTheWorkersEarlierChanges();
    void errorBoxHoldsTheWorkerUntilAnswered();
    void closingMidUpdateEndsAtOnceWithoutABox_data();
    void closingMidUpdateEndsAtOnceWithoutABox();
    void closingWhileTheWorkerWaitsForTheUiThreadDoesNotDeadlock();
    void closingWhileAnErrorBoxIsUpTakesTheBoxAlongAndShowsNoOther();
    void listsShowThePortsInEnumerationOrderAndPreselectTheLastMatch();
    void aListWithoutAMatchShowsNoSelection();
    void copyTwoPreselectsOnlyPortsCarryingItsNumber();
    void rescanRefillsTheListsAndDropsAManualChoice();
    void everyControlHasTheNameAScreenReaderReads_data();
    void everyControlHasTheNameAScreenReaderReads();
    void aboutEntryOpensTheAboutBoxWithTheProductTitle_data();
    void aboutEntryOpensTheAboutBoxWithTheProductTitle();
};

void TestUpdaterDialog::rightAfterStartEverythingIsEnabledAndEmpty_data() {
    QTest::addColumn<bool>("devicePresent");
    QTest::newRow("a device port pre-selected") << true;
    QTest::newRow("no port pre-selected") << false;
}

void TestUpdaterDialog::rightAfterStartEverythingIsEnabledAndEmpty() {
    QFETCH(bool, devicePresent);
    Bench bench;
    bench.driver.addInput("Midi Through Port-0");
    bench.driver.addOutput("Midi Through Port-0");
    if (devicePresent) {
        bench.addDevice();
    }
    bench.open();
    QCOMPARE(bench.enabled(), kAllEnabled);
    QCOMPARE(bench.line(controls::kStatus)->text(), QString());
    QCOMPARE(bench.line(controls::kStep)->text(), QString());
    QCOMPARE(bench.progress()->minimum(), 0);
    QCOMPARE(bench.progress()->maximum(), 100);
    QCOMPARE(bench.progress()->value(), 0);
    QVERIFY(bench.line(controls::kStatus)->isReadOnly());
    QVERIFY(bench.line(controls::kStep)->isReadOnly());
    QCOMPARE(bench.list(controls::kMidiOut)->currentIndex(), devicePresent ? 1 : -1);
    QVERIFY(bench.button(controls::kExecute)->isDefault());
    QVERIFY(!bench.dialog->windowIcon().isNull());
    QCOMPARE(bench.button(controls::kExecute)->text(), QStringLiteral("Execute"));
    QCOMPARE(bench.button(controls::kExit)->text(), QStringLiteral("Exit"));
    QCOMPARE(bench.button(controls::kRescan)->text(), QStringLiteral("Rescan Device"));
    QCOMPARE(bench.dialog->findChild<QLabel*>(QStringLiteral("midiInLabel"))->text(),
             QStringLiteral("MIDI IN"));
    QCOMPARE(bench.dialog->findChild<QLabel*>(QStringLiteral("midiOutLabel"))->text(),
             QStringLiteral("MIDI OUT"));
    QVERIFY(!bench.dialog->core().busy());
}

void TestUpdaterDialog::titleCarriesTheCopyNumberFromCopyTwoOn_data() {
    QTest::addColumn<int>("copy");
    QTest::addColumn<QString>("title");
    QTest::newRow("copy 1: the title alone") << 1 << QStringLiteral("Kivo R3ex System v1.21 Updater");
    QTest::newRow("copy 2") << 2 << QStringLiteral("Kivo R3ex System v1.21 Updater (2)");
    QTest::newRow("copy 20") << 20 << QStringLiteral("Kivo R3ex System v1.21 Updater (20)");
}

void TestUpdaterDialog::titleCarriesTheCopyNumberFromCopyTwoOn() {
    QFETCH(int, copy);
    QFETCH(QString, title);
    Bench bench;
    bench.open(copy);
    QCOMPARE(bench.dialog->windowTitle(), title);
}

void TestUpdaterDialog::controlsFitTheFixedSizeDialogWithoutOverlapping_data() {
    addLanguageColumn();
    QTest::newRow("English") << i18n::Language::English;
    QTest::newRow("Japanese") << i18n::Language::Japanese;
}

void TestUpdaterDialog::controlsFitTheFixedSizeDialogWithoutOverlapping() {
    QFETCH(i18n::Language, language);
    const InLanguage chosen(language);
    Bench bench;
    ui::CVeskUpdatorDlg& dialog = bench.open();
    QCOMPARE(dialog.minimumSize(), dialog.maximumSize());  // not resizable
    const QRect client = dialog.rect();
    const std::vector<int> ids = {controls::kExecute, controls::kExit,     controls::kMidiIn,
                                  controls::kMidiOut, controls::kProgress, controls::kStatus,
                                  controls::kRescan,  controls::kStep};
    for (int id : ids) {
        QWidget* widget = bench.control(id);
        QVERIFY2(widget != nullptr, qPrintable(QString::number(id)));
        QVERIFY2(client.contains(widget->geometry()), qPrintable(widget->objectName() + " reaches outside"));
        for (int other : ids) {
            if (other != id) {
                QVERIFY2(
                    !widget->geometry().intersects(bench.control(other)->geometry()),
                    qPrintable(widget->objectName() + " overlaps " + bench.control(other)->objectName()));
            }
        }
    }
    // A wrong unit conversion shows first as text that no longer fits its control.
    for (int id : {controls::kExecute, controls::kExit, controls::kRescan}) {
        QPushButton* button = bench.button(id);
        QVERIFY2(button->fontMetrics().horizontalAdvance(button->text()) < button->width(),
                 qPrintable(button->text()));
    }
    for (QLabel* label : dialog.findChildren<QLabel*>()) {
        QVERIFY2(label->fontMetrics().horizontalAdvance(label->text()) <= label->width(),
                 qPrintable(label->text()));
        QVERIFY2(label->fontMetrics().height() <= label->height() + 2, qPrintable(label->text()));
    }
    // The longest lines the status shows; the step counter's longest is "9/9".
    for (const std::string& text : {texts::shown(texts::kCompleted), texts::shown(texts::kErasing),
                                    texts::dataTransmit(3231744, 3231744)}) {
        QLineEdit* status = bench.line(controls::kStatus);
        QVERIFY2(status->fontMetrics().horizontalAdvance(QString::fromStdString(text)) < status->width(),
                 text.c_str());
    }
    QVERIFY(bench.line(controls::kStep)->fontMetrics().horizontalAdvance(QStringLiteral("9/9")) <
            bench.line(controls::kStep)->width());

    // Tab order follows the template; labels and the progress bar take no focus.
    QStringList chain;
    QWidget* w = bench.button(controls::kExecute);
    do {
        if (w->focusPolicy() & Qt::TabFocus) {
            chain << w->objectName();
        }
        w = w->nextInFocusChain();
    } while (w != bench.button(controls::kExecute));
    QCOMPARE(chain, QStringList({"executeButton", "exitButton", "midiInList", "midiOutList", "statusLine",
                                 "rescanButton", "stepCounter"}));
}

void TestUpdaterDialog::completeUpdateLeavesExecuteDisabledUntilRescan() {
    Bench bench;
    bench.addDevice();
    bench.open();
    QCOMPARE(bench.enabled(), kAllEnabled);

    bench.click(controls::kExecute);
    QCOMPARE(bench.enabled(), kRunning);  // disabled by Execute itself, before the worker runs
    QVERIFY(bench.dialog->core().busy());

    QTRY_VERIFY_WITH_TIMEOUT(
        bench.line(controls::kStatus)->text().startsWith(QStringLiteral("Data transmit")), kUpdateLimitMs);
    QCOMPARE(bench.enabled(), kRunning);

    QTRY_COMPARE_WITH_TIMEOUT(bench.line(controls::kStatus)->text(), QString::fromLatin1(texts::kCompleted),
                              kUpdateLimitMs);
    // busy clears after the worker's last change to the controls: the final state is then in place.
    QTRY_VERIFY(!bench.dialog->core().busy());
    QCOMPARE(bench.boxTexts(), QStringList());
    QCOMPARE(bench.line(controls::kStep)->text(), QStringLiteral("9/9"));
    QCOMPARE(bench.enabled(), kCompleted);
    const emulator::FlashVerdict verdict = bench.device->verdict(emulator::builtInImages());
    QVERIFY2(verdict.ok, verdict.summary.c_str());

    bench.click(controls::kRescan);
    QCOMPARE(bench.enabled(), kAllEnabled);
    QCOMPARE(bench.list(controls::kMidiOut)->currentIndex(), 0);
    QCOMPARE(bench.line(controls::kStatus)->text(),
             QString::fromLatin1(texts::kCompleted));  // left as it was
}

void TestUpdaterDialog::executeWhileBusySaysInProgressAndChangesNothing() {
    Bench bench;
    bench.addDevice("silent");  // the worker waits for an identity that never comes
    bench.open();
    bench.click(controls::kExecute);
    QTRY_COMPARE(bench.line(controls::kStep)->text(), QStringLiteral("0/9"));
    const int opens = bench.device->outputEnd()->openCount();

    bench.dialog->controller().onExecute();  // the button is disabled; the handler itself must refuse too
    QCOMPARE(bench.boxTexts(), QStringList({q(texts::kInProgress)}));
    QCOMPARE(bench.enabled(), kRunning);
    QCOMPARE(bench.device->outputEnd()->openCount(), opens);  // no port closed and reopened
    QVERIFY(bench.device->outputEnd()->isOpen());
    QVERIFY(bench.dialog->core().busy());
}

void TestUpdaterDialog::portFailingToOpenDisablesNothing_data() {
    QTest::addColumn<bool>("inputRefuses");
    QTest::addColumn<bool>("outputRefuses");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("outputOpenAfter");
    QTest::newRow("input refuses: the output stays open") << true << false << q(texts::kCantOpenIn) << true;
    QTest::newRow("output refuses: the input is not tried")
        << false << true << q(texts::kCantOpenOut) << false;
}

void TestUpdaterDialog::portFailingToOpenDisablesNothing() {
    QFETCH(bool, inputRefuses);
    QFETCH(bool, outputRefuses);
    QFETCH(QString, message);
    QFETCH(bool, outputOpenAfter);
    Bench bench;
    bench.addDevice();
    bench.device->inputEnd()->setRefuseOpen(inputRefuses);
    bench.device->outputEnd()->setRefuseOpen(outputRefuses);
    bench.open();
    bench.click(controls::kExecute);
    QCOMPARE(bench.boxTexts(), QStringList({message}));
    QCOMPARE(bench.boxes.front().executeEnabled, true);  // nothing was disabled before the box
    QCOMPARE(bench.enabled(), kAllEnabled);
    QVERIFY(!bench.dialog->core().busy());
    QCOMPARE(bench.device->outputEnd()->isOpen(), outputOpenAfter);
    QVERIFY(!bench.device->inputEnd()->isOpen());
    QTest::qWait(100);
    QCOMPARE(bench.device->counters().messagesReceived, 0);  // no worker started
}

void TestUpdaterDialog::errorBoxIsAModalStopBoxShownAfterTheWorkersEarlierChanges() {
    Bench bench;
    bench.addDevice("mode=off");
    bench.open();
    bench.click(controls::kExecute);
    QTRY_COMPARE_WITH_TIMEOUT(bench.boxes.size(), std::size_t{1}, 10000);
    const BoxSeen& box = bench.boxes.front();
    QCOMPARE(box.text, q(texts::kSetUpdateMode));
    QCOMPARE(box.caption, QStringLiteral("Error"));
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent, static_cast<QWidget*>(bench.dialog.get()));
    QVERIFY(box.modality != Qt::NonModal);
    // The worker cleared the status line and set the step counter before it failed: both had taken effect.
    QCOMPARE(box.status, QString());
    QCOMPARE(box.step, QStringLiteral("0/9"));
    QVERIFY(!box.executeEnabled);  // the controls come back only after the box
    QTRY_COMPARE(bench.enabled(), kAllEnabled);
    QTRY_VERIFY(!bench.dialog->core().busy());
    QTest::qWait(50);
    QCOMPARE(bench.boxes.size(), std::size_t{1});
}

void TestUpdaterDialog::errorBoxHoldsTheWorkerUntilAnswered() {
    Bench bench;
    bench.addDevice("mode=off");
    bench.open();
    QString stateWhileShown;
    bool answered = false;
    bench.dialog->setBoxRunner([&](QMessageBox& box) {
        // A real box with its own event loop; the worker must still be waiting when it is answered.
        QTimer::singleShot(300, &box, [&] {
            stateWhileShown = bench.enabled();
            answered = true;
            box.button(QMessageBox::Ok)->click();
        });
        box.exec();
    });
    bench.click(controls::kExecute);
    QTRY_VERIFY_WITH_TIMEOUT(answered, 10000);
    QCOMPARE(stateWhileShown, kRunning);
    QTRY_COMPARE(bench.enabled(), kAllEnabled);
}

void TestUpdaterDialog::closingMidUpdateEndsAtOnceWithoutABox_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Exit button") << QStringLiteral("exit");
    QTest::newRow("Escape key") << QStringLiteral("escape");
    QTest::newRow("window close") << QStringLiteral("close");
}

void TestUpdaterDialog::closingMidUpdateEndsAtOnceWithoutABox() {
    QFETCH(QString, how);
    Bench bench;
    bench.addDevice({},
                    0.1);  // a device at a tenth of its real times: the update lasts long enough to interrupt
    Timing timing = Timing::scaled(0.1);
    ui::CVeskUpdatorDlg& dialog = bench.open(1, timing);
    QSignalSpy finished(&dialog, &QDialog::finished);
    bench.click(controls::kExecute);
    QTRY_VERIFY_WITH_TIMEOUT(
        bench.line(controls::kStatus)->text().startsWith(QStringLiteral("Data transmit")), kUpdateLimitMs);

    if (how == QLatin1String("exit")) {
        bench.click(controls::kExit);
    } else if (how == QLatin1String("escape")) {
        QTest::keyClick(&dialog, Qt::Key_Escape);
    } else {
        dialog.close();
    }
    // At once: no event loop has run since.
    QVERIFY(!dialog.isVisible());
    QCOMPARE(finished.count(), 1);
    {
        Watchdog watchdog("worker after closing mid-update");
        bench.dialog->core().waitForWorker();
    }
    // Closed by the abort; a send under way when it came lets its port go as it returns.
    QVERIFY(!bench.device->outputEnd()->isOpen());
    QVERIFY(!bench.device->inputEnd()->isOpen());
    QTest::qWait(50);
    const int received = bench.device->counters().messagesReceived;
    QTest::qWait(150);
    QCOMPARE(bench.device->counters().messagesReceived, received);  // nothing sent after the worker ended
    QCOMPARE(bench.boxTexts(), QStringList());
}

void TestUpdaterDialog::closingWhileTheWorkerWaitsForTheUiThreadDoesNotDeadlock() {
    Bench bench;
    bench.addDevice();
    bench.open();
    bench.click(controls::kExecute);
    // The UI thread handles no events now: the worker's first view call is left waiting for it.
    std::this_thread::sleep_for(200ms);
    bench.dialog->reject();
    {
        Watchdog watchdog("teardown while the worker waited for the UI thread");
        bench.dialog.reset();  // stops the timer, joins the worker, releases the ports
    }
    QCoreApplication::processEvents();  // calls still queued for the dialog must not run anywhere
    QCOMPARE(bench.boxTexts(), QStringList());
}

void TestUpdaterDialog::closingWhileAnErrorBoxIsUpTakesTheBoxAlongAndShowsNoOther() {
    Bench bench;
    bench.addDevice("mode=off");
    bench.open();
    int shown = 0;
    bool stillVisibleAfter = true;
    bool leftOpen = false;
    bench.dialog->setBoxRunner([&](QMessageBox& box) {
        ++shown;
        QTimer::singleShot(50, bench.dialog.get(), [&] { bench.dialog->reject(); });
        // Should the closing leave the box up, end it here so that the test fails instead of waiting.
        QTimer::singleShot(5000, &box, [&] {
            leftOpen = true;
            box.done(QMessageBox::Ok);
        });
        box.exec();  // ends because the dialog closes, not because anyone pressed OK
        stillVisibleAfter = box.isVisible();
    });
    bench.click(controls::kExecute);
    QTRY_VERIFY_WITH_TIMEOUT(!bench.dialog->isVisible(), 10000);
    {
        Watchdog watchdog("worker after closing with a box up");
        bench.dialog->core().waitForWorker();
    }
    QTest::qWait(50);
    QCOMPARE(shown, 1);
    QVERIFY2(!leftOpen, "the box stayed up after the dialog had closed");
    QVERIFY(!stillVisibleAfter);
}

void TestUpdaterDialog::listsShowThePortsInEnumerationOrderAndPreselectTheLastMatch() {
    Bench bench;
    for (const char* name : {"Midi Through Port-0", "USB Audio Device", "Synth", "Velmora"}) {
        bench.driver.addOutput(name);
    }
    for (const char* name : {"Velmora", kJapanese, "Keyboard"}) {
        bench.driver.addInput(name);
    }
    bench.open();
    QComboBox* out = bench.list(controls::kMidiOut);
    QComboBox* in = bench.list(controls::kMidiIn);
    QCOMPARE(out->count(), 4);
    QCOMPARE(out->itemText(0), QStringLiteral("Midi Through Port-0"));
    QCOMPARE(out->itemText(3), QStringLiteral("Velmora"));
    QCOMPARE(out->currentIndex(), 3);  // the last match, not the first accepted name found
    QCOMPARE(in->itemText(1), QString::fromUtf8(kJapanese));
    QCOMPARE(in->currentIndex(), 1);  // the lists are matched independently
    QCOMPARE(bench.dialog->controller().selectedOutput(), 3);
    QCOMPARE(bench.dialog->controller().selectedInput(), 1);
}

void TestUpdaterDialog::aListWithoutAMatchShowsNoSelection() {
    Bench bench;
    bench.driver.addOutput("Synth");
    bench.driver.addOutput("USB Audio Device ");
    bench.driver.addInput("usb audio device");
    bench.open();
    QCOMPARE(bench.list(controls::kMidiOut)->currentIndex(), -1);
    QCOMPARE(bench.list(controls::kMidiIn)->currentIndex(), -1);
    // Execute hands the -1 on unchanged; no such port opens.
    bench.click(controls::kExecute);
    QCOMPARE(bench.boxTexts(), QStringList({q(texts::kCantOpenOut)}));
}

void TestUpdaterDialog::copyTwoPreselectsOnlyPortsCarryingItsNumber() {
    Bench bench;
    bench.driver.addOutput("USB Audio Device");
    bench.driver.addOutput("USB Audio Device (2)");
    bench.driver.addOutput("Velmora (3)");
    bench.driver.addInput("Velmora (2)");
    bench.driver.addInput("Velmora");
    bench.open(2);
    QCOMPARE(bench.list(controls::kMidiOut)->currentIndex(), 1);
    QCOMPARE(bench.list(controls::kMidiIn)->currentIndex(), 0);
}

void TestUpdaterDialog::rescanRefillsTheListsAndDropsAManualChoice() {
    Bench bench;
    bench.driver.addOutput("Synth");
    bench.driver.addOutput("Velmora");
    bench.driver.addInput("Velmora");
    bench.open();
    QComboBox* out = bench.list(controls::kMidiOut);
    out->setCurrentIndex(0);  // the user picks another port
    bench.driver.addOutput("Late Device");
    bench.driver.addOutput("USB Audio Device");
    QCOMPARE(out->count(), 2);  // attached after start: not listed until Rescan Device
    bench.click(controls::kRescan);
    QCOMPARE(out->count(), 4);
    QCOMPARE(out->itemText(3), QStringLiteral("USB Audio Device"));
    QCOMPARE(out->currentIndex(), 3);
    QCOMPARE(bench.list(controls::kMidiIn)->currentIndex(), 0);
    QCOMPARE(bench.enabled(), kAllEnabled);
}

void TestUpdaterDialog::everyControlHasTheNameAScreenReaderReads_data() {
    addLanguageColumn();
    QTest::addColumn<int>("id");
    QTest::addColumn<QString>("english");
    QTest::addColumn<QString>("japanese");
    const struct {
        const char* row;
        int id;
        const char* english;
        const char* japanese;
    } rows[] = {
        {"MIDI IN list, named by its label", controls::kMidiIn, "MIDI IN", "MIDI IN"},
        {"MIDI OUT list, named by its label", controls::kMidiOut, "MIDI OUT", "MIDI OUT"},
        {"Execute", controls::kExecute, "Execute", "\xE5\xAE\x9F\xE8\xA1\x8C"},
        {"Exit", controls::kExit, "Exit", "\xE7\xB5\x82\xE4\xBA\x86"},
        {"Rescan Device", controls::kRescan, "Rescan Device",
         "\xE3\x83\x87\xE3\x83\x90\xE3\x82\xA4\xE3\x82\xB9\xE5\x86\x8D\xE6\xA4\x9C\xE7\xB4\xA2"},
        {"step counter", controls::kStep, "Step", "\xE3\x82\xB9\xE3\x83\x86\xE3\x83\x83\xE3\x83\x97"},
        {"status line", controls::kStatus, "Status", "\xE7\x8A\xB6\xE6\x85\x8B"},
        {"progress bar", controls::kProgress, "Progress", "\xE9\x80\xB2\xE8\xA1\x8C\xE7\x8A\xB6\xE6\xB3\x81"},
    };
    for (const auto& r : rows) {
        for (const i18n::Language language : {i18n::Language::English, i18n::Language::Japanese}) {
            QTest::addRow("%s, %s", r.row, language == i18n::Language::English ? "en" : "ja")
                << language << r.id << q(r.english) << q(r.japanese);
        }
    }
}

// A screen reader says what the accessibility interface gives: a list is named by the label it is labelled by
// (Qt's relation), a button by its text, the three fields without a label by their own name; the fields and
// the bar still read as what they show.
void TestUpdaterDialog::everyControlHasTheNameAScreenReaderReads() {
    QFETCH(i18n::Language, language);
    QFETCH(int, id);
    QFETCH(QString, english);
    QFETCH(QString, japanese);
    InLanguage inLanguage(language);
    Bench bench;
    bench.addDevice();
    bench.open();
    bench.dialog->controller().setStatusText(texts::kErasing);
    bench.dialog->controller().setProgressPos(40);
    QAccessibleInterface* control = QAccessible::queryAccessibleInterface(bench.control(id));
    QVERIFY(control != nullptr);
    const QList<QPair<QAccessibleInterface*, QAccessible::Relation>> labels =
        control->relations(QAccessible::Label);
    const QString name =
        labels.isEmpty() ? control->text(QAccessible::Name) : labels.first().first->text(QAccessible::Name);
    QCOMPARE(name, language == i18n::Language::English ? english : japanese);
    if (id == controls::kStatus) {
        QCOMPARE(control->text(QAccessible::Value), bench.line(controls::kStatus)->text());
    } else if (id == controls::kProgress) {
        QVERIFY(control->valueInterface() != nullptr);
        QCOMPARE(control->valueInterface()->currentValue().toInt(), 40);
    }
}

void TestUpdaterDialog::aboutEntryOpensTheAboutBoxWithTheProductTitle_data() {
    QTest::addColumn<int>("copy");
    addLanguageColumn();
    QTest::newRow("copy 1") << 1 << i18n::Language::English;
    QTest::newRow("copy 2: still the title without a number") << 2 << i18n::Language::English;
    QTest::newRow("copy 1 in Japanese") << 1 << i18n::Language::Japanese;
}

void TestUpdaterDialog::aboutEntryOpensTheAboutBoxWithTheProductTitle() {
    QFETCH(int, copy);
    QFETCH(i18n::Language, language);
    const InLanguage chosen(language);
    Bench bench;
    ui::CVeskUpdatorDlg& dialog = bench.open(copy);
    QAction* about = dialog.aboutAction();
    QVERIFY(about != nullptr);
    QCOMPARE(about->text(), language == i18n::Language::English
                                ? QStringLiteral("About Velmora Updater(&A)...")
                                : ui::shownText(texts::kAboutMenu));
    QCOMPARE(QKeySequence::mnemonic(about->text()), QKeySequence(Qt::ALT | Qt::Key_A));  // "&A" is no literal
#ifndef Q_OS_WIN
    // No window menu to add to here: the entry is on the dialog's context menu.
    QCOMPARE(dialog.contextMenuPolicy(), Qt::ActionsContextMenu);
    QVERIFY(dialog.actions().contains(about));
#endif

    bool seen = false;
    QTimer::singleShot(0, &dialog, [&] {
        auto* box = qobject_cast<ui::CAboutDlg*>(QApplication::activeModalWidget());
        QVERIFY(box != nullptr);
        const auto closed = qScopeGuard([box] { box->reject(); });  // a failed check must not leave it open
        seen = true;
        QCOMPARE(box->windowTitle(), ui::shownLabel(ui::labels::kAboutCaption));
        QCOMPARE(box->titleField()->text(), QStringLiteral("Kivo R3ex System v1.21 Updater"));
        QCOMPARE(box->titleField()->property("controlId").toInt(), 1003);
        QVERIFY(box->titleField()->isReadOnly());
        QVERIFY(!box->iconLabel()->pixmap().isNull());
        QVERIFY(!box->aboutLine()->text().isEmpty());
        QVERIFY(box->aboutLine()->fontMetrics().horizontalAdvance(box->aboutLine()->text()) <=
                box->aboutLine()->width());
        // The version sits beside the title, whole, and covers neither the title nor OK.
        const QLabel* version = box->versionLabel();
        QVERIFY(version->text().startsWith(ui::shownLabel(ui::labels::kAboutVersion)));
        QVERIFY(version->text().size() > ui::shownLabel(ui::labels::kAboutVersion).size());
        QVERIFY(version->fontMetrics().horizontalAdvance(version->text()) <= version->width());
        QVERIFY(!version->geometry().intersects(box->titleField()->geometry()));
        QVERIFY(!version->geometry().intersects(box->okButton()->geometry()));
        QVERIFY(version->geometry().top() < box->titleField()->geometry().bottom());
        // A build with filler images says so, so that nobody takes it for one that can update hardware.
        QCOMPARE(box->standInLine() != nullptr, carriesStandInImages());
        if (box->standInLine() != nullptr) {
            QCOMPARE(box->standInLine()->text(), ui::shownLabel(ui::labels::kAboutStandIns));
            QVERIFY(box->standInLine()->fontMetrics().horizontalAdvance(box->standInLine()->text()) <=
                    box->standInLine()->width());
            QVERIFY(box->standInLine()->geometry().bottom() < box->height());
        }
        QVERIFY(box->okButton()->isDefault());
        QCOMPARE(box->minimumSize(), box->maximumSize());
        QTest::mouseClick(box->okButton(), Qt::LeftButton);
    });
    about->trigger();  // returns when the box is closed
    QVERIFY(seen);
    QVERIFY(QApplication::activeModalWidget() == nullptr);
    QVERIFY(dialog.isVisible());
}

// The dialog reads Japanese through Qt's translator (the .qm built from the TS file); velmora-flash and the
// Windows dialog read the TS file carried in the program. Both must show the same texts.
void TestUpdaterDialog::japaneseComesFromTheSameCatalogueAsTheProgramsWithoutQt() {
    const InLanguage chosen(i18n::Language::Japanese);
    const std::vector<i18n::Message>& catalogue = i18n::builtInJapanese();
    QVERIFY(!catalogue.empty());
    for (const i18n::Message& m : catalogue) {
        QCOMPARE(i18n::translate(m.context.c_str(), m.source.c_str()), m.translation);
        QCOMPARE(QCoreApplication::translate(m.context.c_str(), m.source.c_str()),
                 QString::fromStdString(m.translation));
    }
    Bench bench;
    bench.open();
    for (auto [id, english] : {std::pair{controls::kExecute, ui::labels::kExecute},
                               {controls::kExit, ui::labels::kExit},
                               {controls::kRescan, ui::labels::kRescan}}) {
        QVERIFY2(bench.button(id)->text() != QString::fromLatin1(english), english);
    }
    QCOMPARE(i18n::untranslated(), std::vector<std::string>());
}

QTEST_MAIN(TestUpdaterDialog)
#include "test_ui_dialog.moc"
