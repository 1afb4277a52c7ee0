#include "app/CVeskUpdatorApp.h"

#include <QFileInfo>
#include <QMessageBox>

#include "app/StartDecision.h"
#include "ui/AppIcon.h"
#include "ui/Language.h"

namespace velmora::app {

CVeskUpdatorApp::CVeskUpdatorApp(int& argc, char** argv, std::string lockSuffix)
    : QApplication(argc, argv), lockSuffix_(std::move(lockSuffix)) {
    ui::useLanguage(i18n::languageFromEnvironment());
}

CVeskUpdatorApp::~CVeskUpdatorApp() = default;

int CVeskUpdatorApp::run(const DialogRunner& runDialog) {
    setWindowIcon(ui::appIcon());
    const StartDecision start = decideStart(instanceLock_, lockSuffix_);
    instanceNumber_ = start.instanceNumber;
    if (instanceNumber_ == 0) {
        QMessageBox box(start.box == StartDecision::Box::Error ? QMessageBox::Critical : QMessageBox::Warning,
                        programName(), QString::fromStdString(start.message), QMessageBox::Ok);
        box.exec();
        return start.exitStatus;
    }
    runDialog(*this);
    return 0;
}

QString CVeskUpdatorApp::programName() {
    return QFileInfo(applicationFilePath()).fileName();
}

}  // namespace velmora::app
