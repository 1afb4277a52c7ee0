#include "app/CVeskUpdatorApp.h"

#include <QFileInfo>
#include <QMessageBox>

#include "ui/AppIcon.h"
#include "ui/DialogTexts.h"
#include "ui/Language.h"
#include "update/Texts.h"

namespace velmora::app {

CVeskUpdatorApp::CVeskUpdatorApp(int& argc, char** argv, std::string lockSuffix)
    : QApplication(argc, argv), lockSuffix_(std::move(lockSuffix)) {
    ui::useLanguage(i18n::languageFromEnvironment());
}

CVeskUpdatorApp::~CVeskUpdatorApp() = default;

int CVeskUpdatorApp::run(const DialogRunner& runDialog) {
    setWindowIcon(ui::appIcon());
    const InstanceNumber taken = takeInstanceNumber(instanceLock_, lockSuffix_);
    instanceNumber_ = taken.number;
    lockFailure_ = taken.failure;
    if (instanceNumber_ == 0) {
        refuse();
        return lockFailure_.empty() ? kExitInstanceLimit : kExitNoInstanceLock;
    }
    runDialog(*this);
    return 0;
}

void CVeskUpdatorApp::refuse() {
    if (!lockFailure_.empty()) {
        QMessageBox box(
            QMessageBox::Critical, programName(),
            QString::fromStdString(i18n::arg(ui::labels::shown(ui::labels::kCannotStart), {lockFailure_})),
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
