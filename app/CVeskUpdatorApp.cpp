#include "app/CVeskUpdatorApp.h"

#include <QFileInfo>
#include <QMessageBox>

#include "ui/AppIcon.h"
#include "update/Texts.h"

namespace velmora::app {

CVeskUpdatorApp::CVeskUpdatorApp(int& argc, char** argv, std::string lockSuffix)
    : QApplication(argc, argv), lockSuffix_(std::move(lockSuffix)) {}

CVeskUpdatorApp::~CVeskUpdatorApp() = default;

int CVeskUpdatorApp::run(const DialogRunner& runDialog) {
    setWindowIcon(ui::appIcon());
    if (!takeInstanceNumber()) {
        refuse();
        return lockFailure_.empty() ? kExitInstanceLimit : kExitNoInstanceLock;
    }
    runDialog(*this);
    return 0;
}

bool CVeskUpdatorApp::takeInstanceNumber() {
    // The lowest free number wins, so a number freed by a copy that ended is the next one handed out.
    for (int n = 1; n <= texts::kMaxInstances; ++n) {
        auto lock = std::make_unique<CInstanceLock>(texts::instanceTitle(n) + lockSuffix_);
        if (lock->held()) {
            instanceLock_ = std::move(lock);
            instanceNumber_ = n;
            return true;
        }
        if (!lock->failure().empty()) {
            // Not a number in use: no number can be had at all, and trying the others would say the same.
            lockFailure_ = lock->failure();
            return false;
        }
    }
    return false;
}

void CVeskUpdatorApp::refuse() {
    if (!lockFailure_.empty()) {
        QMessageBox box(
            QMessageBox::Critical, programName(),
            QStringLiteral("Cannot start: ") + QString::fromStdString(lockFailure_) + QLatin1Char('.'),
            QMessageBox::Ok);
        box.exec();
        return;
    }
    QMessageBox box(QMessageBox::Warning, programName(),
                    QString::fromStdString(texts::instanceLimit(texts::kMaxInstances)), QMessageBox::Ok);
    box.exec();
}

QString CVeskUpdatorApp::programName() {
    QString name = QFileInfo(applicationFilePath()).fileName();
#ifdef Q_OS_WIN
    if (name.endsWith(QStringLiteral(".exe"), Qt::CaseInsensitive)) {
        name.chop(4);
    }
#endif
    return name;
}

}  // namespace velmora::app
