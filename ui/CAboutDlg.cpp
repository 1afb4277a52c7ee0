#include "ui/CAboutDlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>

#include "firmware/FirmwareImages.h"
#include "ui/AppIcon.h"
#include "ui/DialogTexts.h"
#include "ui/DialogUnits.h"
#include "ui/Language.h"
#include "update/Texts.h"
#include "velmora/Version.h"

namespace velmora::ui {

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setWindowTitle(shownLabel(labels::kAboutCaption));
    setWindowIcon(appIcon());
    setFont(dialogFont());
    const DialogUnits du(font());
    const bool standIns = carriesStandInImages();
    setFixedSize(du.size(235, standIns ? 70 : 60));

    // An icon control takes the icon's own size, not dialog units.
    const int iconSize = style()->pixelMetric(QStyle::PM_LargeIconSize, nullptr, this);
    icon_ = new QLabel(this);
    icon_->setObjectName(QStringLiteral("iconLabel"));
    icon_->setPixmap(appIcon().pixmap(iconSize, iconSize));
    icon_->setGeometry(du.x(11), du.y(17), iconSize, iconSize);

    title_ = new QLineEdit(this);
    title_->setObjectName(QStringLiteral("titleField"));
    title_->setProperty("controlId", kTitleId);
    title_->setReadOnly(true);
    title_->setFrame(false);
    QPalette palette = title_->palette();
    palette.setColor(QPalette::Base, this->palette().color(QPalette::Window));
    title_->setPalette(palette);
    title_->setGeometry(du.rect(39, 19, 134, 14));

    // Under OK, on the title's row: the title field keeps its own width.
    version_ = new QLabel(shownLabel(labels::kAboutVersion) + QString::fromLatin1(kVersion), this);
    version_->setObjectName(QStringLiteral("versionLabel"));
    version_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    version_->setGeometry(du.rect(178, 24, 50, 8));

    line_ = new QLabel(shownLabel(labels::kAboutLine), this);
    line_->setObjectName(QStringLiteral("aboutLine"));
    line_->setGeometry(du.rect(40, 45, 188, 8));

    if (standIns) {
        standIns_ = new QLabel(shownLabel(labels::kAboutStandIns), this);
        standIns_->setObjectName(QStringLiteral("standInLine"));
        standIns_->setGeometry(du.rect(40, 56, 188, 8));
    }

    ok_ = new QPushButton(shownLabel(labels::kOk), this);
    ok_->setObjectName(QStringLiteral("okButton"));
    ok_->setProperty("controlId", kOkId);
    ok_->setDefault(true);
    ok_->setGeometry(du.rect(178, 6, 50, 16));
    connect(ok_, &QPushButton::clicked, this, &QDialog::accept);

    // Without a copy number: the box speaks of the product, not of this copy.
    title_->setText(QString::fromLatin1(texts::kProductTitle));
    title_->setCursorPosition(0);
}

}  // namespace velmora::ui
