#include "ui/CVeskUpdatorDlg.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMetaObject>
#include <QProgressBar>
#include <QPushButton>
#include <algorithm>
#include <tuple>
#include <utility>
#include <vector>

#include "ui/AppIcon.h"
#include "ui/CAboutDlg.h"
#include "ui/DialogTexts.h"
#include "ui/DialogUnits.h"
#include "ui/Language.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

namespace velmora::ui {

namespace {

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

template <typename Widget>
Widget* place(Widget* widget, const char* name, int id, const QRect& geometry) {
    widget->setObjectName(QString::fromLatin1(name));
    if (id != 0) {
        widget->setProperty("controlId", id);
    }
    widget->setGeometry(geometry);
    return widget;
}

// A read-only edit field without a border that reads like text on the dialog.
QLineEdit* textField(QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setReadOnly(true);
    field->setFrame(false);
    QPalette palette = field->palette();
    palette.setColor(QPalette::Base, parent->palette().color(QPalette::Window));
    field->setPalette(palette);
    return field;
}

}  // namespace

CVeskUpdatorDlg::CVeskUpdatorDlg(midi::MidiDriver& driver, int instanceNumber, Timing timing, QWidget* parent)
    : QDialog(parent),
      boxRunner_([](QMessageBox& box) { box.exec(); }),
      controller_(*this, driver, instanceNumber, timing, [this](std::function<void()> task) {
          // Dropped by Qt if the dialog is gone by the time it would run; the gate has released the caller.
          QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
      }) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(dialogFont());
    buildControls();
    addAboutEntry();
    setWindowIcon(appIcon());
    controller_.start();
    setWindowTitle(fromUtf8(controller_.title()));
}

CVeskUpdatorDlg::~CVeskUpdatorDlg() {
    controller_.beginClosing();
}

void CVeskUpdatorDlg::buildControls() {
    const DialogUnits du(font());
    setFixedSize(du.size(239, 161));

    // Created in template order, which Qt also takes as the tab order.
    execute_ = place(new QPushButton(shownLabel(labels::kExecute), this), "executeButton", controls::kExecute,
                     du.rect(119, 138, 50, 16));
    execute_->setDefault(true);
    exit_ = place(new QPushButton(shownLabel(labels::kExit), this), "exitButton", controls::kExit,
                  du.rect(182, 138, 50, 16));
    midiInLabel_ =
        place(new QLabel(shownLabel(labels::kMidiIn), this), "midiInLabel", 0, du.rect(7, 7, 225, 8));
    midiOutLabel_ =
        place(new QLabel(shownLabel(labels::kMidiOut), this), "midiOutLabel", 0, du.rect(7, 37, 225, 8));

    // The template's height of a list is that of the list opened; closed it is as tall as the style makes it.
    const int openHeight = du.y(115);
    for (auto [list, name, id, top] : {std::tuple{&midiIn_, "midiInList", controls::kMidiIn, 15},
                                       std::tuple{&midiOut_, "midiOutList", controls::kMidiOut, 45}}) {
        auto* combo = new QComboBox(this);
        const int closedHeight = combo->sizeHint().height();
        *list = place(combo, name, id, QRect(du.x(7), du.y(top), du.x(225), closedHeight));
        combo->setMaxVisibleItems(std::max(1, (openHeight - closedHeight) / std::max(1, du.lineHeight())));
    }

    progress_ = place(new QProgressBar(this), "progressBar", controls::kProgress, du.rect(7, 107, 225, 14));
    progress_->setTextVisible(false);
    status_ = place(textField(this), "statusLine", controls::kStatus, du.rect(12, 91, 220, 12));
    rescan_ = place(new QPushButton(shownLabel(labels::kRescan), this), "rescanButton", controls::kRescan,
                    du.rect(145, 65, 87, 16));
    step_ = place(textField(this), "stepCounter", controls::kStep, du.rect(12, 78, 29, 12));

    // Names a screen reader reads: each list is labelled by its label; the fields without one are named.
    midiInLabel_->setBuddy(midiIn_);
    midiOutLabel_->setBuddy(midiOut_);
    step_->setAccessibleName(shownLabel(labels::kStep));
    status_->setAccessibleName(shownLabel(labels::kStatus));
    progress_->setAccessibleName(shownLabel(labels::kProgress));

    for (QPushButton* button : {exit_, rescan_}) {
        button->setAutoDefault(false);  // Enter stays with Execute wherever the focus is
    }

    connect(execute_, &QPushButton::clicked, this, [this] { controller_.onExecute(); });
    connect(exit_, &QPushButton::clicked, this, &QDialog::reject);
    connect(rescan_, &QPushButton::clicked, this, [this] { controller_.onRescan(); });
}

void CVeskUpdatorDlg::addAboutEntry() {
    aboutAction_ = new QAction(shownText(texts::kAboutMenu), this);
    aboutAction_->setObjectName(QStringLiteral("aboutAction"));
    connect(aboutAction_, &QAction::triggered, this, [this] { showAbout(); });
    // Only Windows lets a program add to its window menu; here the entry lives on the context menu.
    addAction(aboutAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
}

void CVeskUpdatorDlg::setBoxRunner(BoxRunner runner) {
    boxRunner_ = std::move(runner);
}

QWidget* CVeskUpdatorDlg::control(int id) const {
    for (QWidget* widget : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (widget->property("controlId").toInt() == id) {
            return widget;
        }
    }
    return nullptr;
}

void CVeskUpdatorDlg::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CVeskUpdatorDlg::done(int result) {
    controller_.beginClosing();
    QDialog::done(result);
}

QComboBox* CVeskUpdatorDlg::list(ControlId id) const {
    return id == ControlId::MidiIn ? midiIn_ : midiOut_;
}

void CVeskUpdatorDlg::fillList(ControlId id, const std::vector<std::string>& names, int selected) {
    QComboBox* const combo = list(id);
    combo->clear();
    for (const std::string& name : names) {
        combo->addItem(fromUtf8(name));
    }
    // Adding to an empty list selects its first entry; a list without a match must show no selection.
    combo->setCurrentIndex(selected);
}

int CVeskUpdatorDlg::selectedIndex(ControlId id) {
    return list(id)->currentIndex();
}

void CVeskUpdatorDlg::setFieldText(Field field, const std::string& text) {
    QLineEdit* const line = field == Field::Status ? status_ : step_;
    line->setText(fromUtf8(text));
    line->setCursorPosition(0);  // a long line shows its beginning
}

void CVeskUpdatorDlg::setProgressRange(int low, int high) {
    progress_->setRange(low, high);
}

void CVeskUpdatorDlg::setProgressPos(int pos) {
    progress_->setValue(pos);
}

void CVeskUpdatorDlg::enableControl(ControlId id, bool enabled) {
    if (QWidget* widget = control(static_cast<int>(id))) {
        widget->setEnabled(enabled);
    }
}

void CVeskUpdatorDlg::showErrorBox(const std::string& text) {
    QMessageBox box(QMessageBox::Critical, shownText(texts::kErrorCaption), fromUtf8(text), QMessageBox::Ok,
                    this);
    box.setWindowModality(Qt::WindowModal);  // the dialog takes no input until the box is answered
    activeBox_ = &box;
    boxRunner_(box);
}

void CVeskUpdatorDlg::closeOwnedBoxes() {
    if (activeBox_) {
        activeBox_->reject();
    }
}

}  // namespace velmora::ui
