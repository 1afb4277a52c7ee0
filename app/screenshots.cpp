// velmora-screenshots: renders the dialog at four moments (start, mid-update, completed, an error box up),
// and the About box, to PNG files for the documentation, against the emulated device; then the same in
// Japanese, into files whose names end in "-ja". Run on the offscreen platform by scripts/screenshots; the
// one argument is the output directory.
//
// The offscreen platform draws no window frames, so each picture gets a plain caption bar drawn here with the
// window's own title and icon; everything inside it is the widget as Qt renders it.

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

#include "emulator/CEmulatedDevice.h"
#include "midi/drivers/loopback/LoopbackDriver.h"
#include "ui/CAboutDlg.h"
#include "ui/CVeskUpdatorDlg.h"
#include "ui/Language.h"
#include "update/Texts.h"

namespace {

using namespace velmora;
namespace controls = velmora::ui::controls;

constexpr int kCaptionHeight = 26;

// The widget as shown, under a caption bar with its title and icon.
QImage framed(QWidget& window) {
    const QPixmap content = window.grab();
    QImage image(content.width() + 2, content.height() + kCaptionHeight + 1, QImage::Format_ARGB32);
    image.fill(QColor(0x3c, 0x3f, 0x41));
    QPainter painter(&image);
    const QIcon icon = window.windowIcon();
    int textLeft = 8;
    if (!icon.isNull()) {
        painter.drawPixmap(6, (kCaptionHeight - 16) / 2, icon.pixmap(16, 16));
        textLeft = 28;
    }
    QFont font = window.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(textLeft, 0, image.width() - textLeft - 8, kCaptionHeight),
                     Qt::AlignVCenter | Qt::AlignLeft, window.windowTitle());
    painter.drawPixmap(1, kCaptionHeight, content);
    return image;
}

// The dialog with a box over its middle, the way a modal box sits on its owner.
QImage withBox(QWidget& dialog, QWidget& box) {
    QImage image = framed(dialog);
    const QImage top = framed(box);
    QPainter painter(&image);
    const QPoint at((image.width() - top.width()) / 2,
                    (image.height() - top.height()) / 2 + kCaptionHeight / 2);
    painter.fillRect(QRect(at + QPoint(4, 4), top.size()), QColor(0, 0, 0, 70));  // a little shadow
    painter.drawImage(at, top);
    return image;
}

// "-ja" for the pictures in Japanese.
QString suffix;

bool save(const QImage& image, const QDir& dir, const char* name) {
    const QString path = dir.filePath(QString::fromLatin1(name) + suffix + QStringLiteral(".png"));
    if (!image.save(path)) {
        std::fprintf(stderr, "velmora-screenshots: cannot write %s\n", qPrintable(path));
        return false;
    }
    std::printf("%s\n", qPrintable(path));
    return true;
}

// Runs the event loop until `done` holds; false after `limitMs`.
bool waitFor(const std::function<bool()>& done, int limitMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > limitMs) {
            return false;
        }
        QTest::qWait(5);
    }
    return true;
}

QString text(ui::CVeskUpdatorDlg& dialog, int id) {
    return qobject_cast<QLineEdit*>(dialog.control(id))->text();
}

// A port that is not the device, so that the lists show a choice and the pre-selection is visible.
void addOtherPorts(midi::CLoopbackDriver& driver) {
    driver.addInput("Midi Through Port-0");
    driver.addOutput("Midi Through Port-0");
}

emulator::EmulatorConfig deviceConfig(const char* scenario, double timeScale) {
    emulator::EmulatorConfig config;
    config.scenario = emulator::parseScenario(scenario).scenario;
    config.timeScale = timeScale;
    return config;
}

bool updatePictures(const QDir& dir) {
    constexpr double kScale = 0.1;  // a tenth of the real times: the run is short but has a middle to show
    midi::CLoopbackDriver driver;
    addOtherPorts(driver);
    emulator::CEmulatedDevice device(driver, deviceConfig("", kScale));
    ui::CVeskUpdatorDlg dialog(driver, 1, Timing::scaled(kScale));
    dialog.show();
    QTest::qWait(50);
    if (!save(framed(dialog), dir, "updater-start")) {
        return false;
    }

    QTest::mouseClick(qobject_cast<QPushButton*>(dialog.control(controls::kExecute)), Qt::LeftButton);
    auto* progress = qobject_cast<QProgressBar*>(dialog.control(controls::kProgress));
    const bool middle = waitFor(
        [&] {
            // Step 7 writes once its erase is done: the status line then says how far the data is.
            return text(dialog, controls::kStep) == QStringLiteral("7/9") &&
                   text(dialog, controls::kStatus) != ui::shownText(texts::kErasing) &&
                   progress->value() * 5 >= progress->maximum() * 2;
        },
        120000);
    if (!middle || !save(framed(dialog), dir, "updater-progress")) {
        std::fprintf(stderr, "velmora-screenshots: the update never reached the middle of step 7\n");
        return false;
    }

    const QString completed = ui::shownText(texts::kCompleted);
    if (!waitFor([&] { return text(dialog, controls::kStatus) == completed; }, 120000)) {
        std::fprintf(stderr, "velmora-screenshots: the update did not complete\n");
        return false;
    }
    QTest::qWait(50);
    return save(framed(dialog), dir, "updater-completed");
}

bool errorPicture(const QDir& dir) {
    midi::CLoopbackDriver driver;
    addOtherPorts(driver);
    emulator::CEmulatedDevice device(driver, deviceConfig("mode=off", 0.0));
    ui::CVeskUpdatorDlg dialog(driver, 1, Timing::scaled(0.1));
    bool saved = false;
    dialog.setBoxRunner([&](QMessageBox& box) {
        box.show();
        QTest::qWait(50);
        saved = save(withBox(dialog, box), dir, "updater-error");
    });
    dialog.show();
    QTest::qWait(50);
    QTest::mouseClick(qobject_cast<QPushButton*>(dialog.control(controls::kExecute)), Qt::LeftButton);
    if (!waitFor([&] { return saved; }, 30000)) {
        std::fprintf(stderr, "velmora-screenshots: no error box appeared\n");
        return false;
    }
    return true;
}

bool aboutPicture(const QDir& dir) {
    midi::CLoopbackDriver driver;
    ui::CVeskUpdatorDlg dialog(driver, 1);
    ui::CAboutDlg about(&dialog);
    about.show();
    QTest::qWait(50);
    return save(framed(about), dir, "updater-about");
}

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: velmora-screenshots <output directory>\n");
        return 2;
    }
    const QDir dir(args.at(1));
    if (!QDir().mkpath(dir.path())) {
        std::fprintf(stderr, "velmora-screenshots: cannot make %s\n", qPrintable(dir.path()));
        return 1;
    }
    for (const auto language : {i18n::Language::English, i18n::Language::Japanese}) {
        ui::useLanguage(language);
        suffix = language == i18n::Language::Japanese ? QStringLiteral("-ja") : QString();
        if (!updatePictures(dir) || !errorPicture(dir) || !aboutPicture(dir)) {
            return 1;
        }
    }
    return 0;
}
