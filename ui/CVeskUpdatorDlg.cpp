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

#include "midi/PortPreselect.h"
#include "ui/AppIcon.h"
#include "ui/CAboutDlg.h"
#include "ui/DialogTexts.h"
#include "ui/DialogUnits.h"
#include "ui/Language.h"
#include "update/Texts.h"
#include "update/UpdateCore.h"

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace velmora::ui {

namespace {

// The window-menu command that opens the About box; the platform keeps the lowest four bits for itself.
[[maybe_unused]] constexpr unsigned kAboutCommandId = 0x0010;

QString fromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void fillList(QComboBox& list, const std::vector<std::string>& names, int instanceNumber) {
    list.clear();
    for (const std::string& name : names) {
        list.addItem(fromUtf8(name));
    }
    // Adding to an empty list selects its first entry; a list without a match must show no selection.
    list.setCurrentIndex(midi::preselect(names, instanceNumber));
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
      instanceNumber_(instanceNumber),
      boxRunner_([](QMessageBox& box) { box.exec(); }),
      gate_([this](std::function<void()> task) {
          // Dropped by Qt if the dialog is gone by the time it would run; the gate has released the caller.
          QMetaObject::invokeMethod(this, std::move(task), Qt::QueuedConnection);
      }) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint);
    setFont(dialogFont());
    buildControls();
    addAboutEntry();
    setWindowIcon(appIcon());

    core_ = std::make_unique<CUpdateCore>(driver, *this, timing);
    populateDeviceLists();
    core_->startPolling();
    progress_->setRange(0, 100);
    progress_->setValue(0);
    setWindowTitle(fromUtf8(texts::instanceTitle(instanceNumber_)));
}

CVeskUpdatorDlg::~CVeskUpdatorDlg() {
    beginClosing();
    core_.reset();  // timer stopped, worker joined, ports released
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

    for (QPushButton* button : {exit_, rescan_}) {
        button->setAutoDefault(false);  // Enter stays with Execute wherever the focus is
    }

    connect(execute_, &QPushButton::clicked, this, [this] { onExecute(); });
    connect(exit_, &QPushButton::clicked, this, &QDialog::reject);
    connect(rescan_, &QPushButton::clicked, this, [this] { onRescan(); });
}

void CVeskUpdatorDlg::addAboutEntry() {
    aboutAction_ = new QAction(shownText(texts::kAboutMenu), this);
    aboutAction_->setObjectName(QStringLiteral("aboutAction"));
    connect(aboutAction_, &QAction::triggered, this, [this] { showAbout(); });
#ifndef Q_OS_WIN
    // Only Windows lets a program add to its window menu; elsewhere the entry lives on the context menu.
    addAction(aboutAction_);
    setContextMenuPolicy(Qt::ActionsContextMenu);
#endif
}

#ifdef Q_OS_WIN
void CVeskUpdatorDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (systemMenuExtended_) {
        return;
    }
    // The native window exists once shown; the entry goes after the platform's own, behind a separator.
    HMENU menu = ::GetSystemMenu(reinterpret_cast<HWND>(winId()), FALSE);
    if (menu != nullptr) {
        const std::wstring text = aboutAction_->text().toStdWString();
        ::AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        ::AppendMenuW(menu, MF_STRING, kAboutCommandId, text.c_str());
        systemMenuExtended_ = true;
    }
}

bool CVeskUpdatorDlg::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    const MSG* msg = static_cast<const MSG*>(message);
    if (msg->message == WM_SYSCOMMAND && (msg->wParam & 0xFFF0) == kAboutCommandId) {
        aboutAction_->trigger();
        *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
#endif

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

void CVeskUpdatorDlg::populateDeviceLists() {
    fillList(*midiOut_, midi::portNames(core_->outPort()), instanceNumber_);
    fillList(*midiIn_, midi::portNames(core_->inPort()), instanceNumber_);
}

void CVeskUpdatorDlg::onRescan() {
    populateDeviceLists();
    core_->enableExecute(true);
}

void CVeskUpdatorDlg::onExecute() {
    core_->onExecute();
}

void CVeskUpdatorDlg::showAbout() {
    CAboutDlg about(this);
    about.exec();
}

void CVeskUpdatorDlg::done(int result) {
    beginClosing();
    QDialog::done(result);
}

void CVeskUpdatorDlg::beginClosing() {
    if (closing_) {
        return;
    }
    closing_ = true;
    // First release the worker from waiting for this thread, which will soon wait for the worker.
    gate_.close();
    if (activeBox_) {
        activeBox_->reject();  // a box the closing interrupted goes with the window
    }
    core_->abort();
}

void CVeskUpdatorDlg::setStatusText(const std::string& text) {
    gate_.call([this, value = fromUtf8(texts::shownStatus(text))] {
        status_->setText(value);
        status_->setCursorPosition(0);  // a long line shows its beginning
    });
}

void CVeskUpdatorDlg::setStepText(const std::string& text) {
    gate_.call([this, value = fromUtf8(text)] {
        step_->setText(value);
        step_->setCursorPosition(0);
    });
}

void CVeskUpdatorDlg::setProgressRange(int low, int high) {
    gate_.call([this, low, high] { progress_->setRange(low, high); });
}

void CVeskUpdatorDlg::setProgressPos(int pos) {
    gate_.call([this, pos] { progress_->setValue(pos); });
}

void CVeskUpdatorDlg::enableControl(ControlId id, bool enabled) {
    gate_.call([this, id, enabled] {
        if (QWidget* widget = control(static_cast<int>(id))) {
            widget->setEnabled(enabled);
        }
    });
}

void CVeskUpdatorDlg::showError(const std::string& text) {
    gate_.call([this, value = fromUtf8(text)] { runErrorBox(value); });
}

void CVeskUpdatorDlg::runErrorBox(const QString& text) {
    QMessageBox box(QMessageBox::Critical, shownText(texts::kErrorCaption), text, QMessageBox::Ok, this);
    box.setWindowModality(Qt::WindowModal);  // the dialog takes no input until the box is answered
    activeBox_ = &box;
    boxRunner_(box);
}

int CVeskUpdatorDlg::selectedInput() {
    return midiIn_->currentIndex();
}

int CVeskUpdatorDlg::selectedOutput() {
    return midiOut_->currentIndex();
}

}  // namespace velmora::ui
