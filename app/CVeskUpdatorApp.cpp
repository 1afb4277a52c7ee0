#include "app/CVeskUpdatorApp.h"

#include <QFileInfo>
#include <QMessageBox>

#include "ui/AppIcon.h"
#include "update/Texts.h"

namespace velmora::app {

CVeskUpdatorApp::CVeskUpdatorApp(int& argc, char** argv) : QApplication(argc, argv) {}

CVeskUpdatorApp::~CVeskUpdatorApp() = default;

int CVeskUpdatorApp::run(const DialogRunner& runDialog) {
    setWindowIcon(ui::appIcon());
    if (!takeInstanceNumber()) {
        refuse();
        return kExitInstanceLimit;
    }
    runDialog(*this);
    return 0;
}

bool CVeskUpdatorApp::takeInstanceNumber() {
    // The lowest free number wins, so a number freed by a copy that ended is the next one handed out.
    for (int n = 1; n <= texts::kMaxInstances; ++n) {
        auto lock = std::make_unique<CInstanceLock>(texts::instanceTitle(n));
        if (lock->held()) {
            instanceLock_ = std::move(lock);
            instanceNumber_ = n;
            return true;
        }
    }
    return false;
}

void CVeskUpdatorApp::refuse() {
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
