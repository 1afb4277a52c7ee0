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
    instanceNumber_ = takeInstanceNumber(instanceLock_);
    if (instanceNumber_ == 0) {
        refuse();
        return kExitInstanceLimit;
    }
    runDialog(*this);
    return 0;
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
