#pragma once
// The About box: the icon, the product's title in a read-only field with the program's version beside it,
// one line about the program, OK.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace velmora::ui {

class CAboutDlg : public QDialog {
    Q_OBJECT

  public:
    // Control ids, also the "controlId" property of each control.
    static constexpr int kOkId = 1;
    static constexpr int kTitleId = 1003;

    explicit CAboutDlg(QWidget* parent = nullptr);

    QLineEdit* titleField() const { return title_; }
    QLabel* aboutLine() const { return line_; }
    // The program's version, beside the title.
    QLabel* versionLabel() const { return version_; }
    // The note that the build carries stand-in images; nullptr when it does not.
    QLabel* standInLine() const { return standIns_; }
    QPushButton* okButton() const { return ok_; }
    QLabel* iconLabel() const { return icon_; }

  private:
    QLabel* icon_ = nullptr;
    QLineEdit* title_ = nullptr;
    QLabel* line_ = nullptr;
    QLabel* version_ = nullptr;
    QLabel* standIns_ = nullptr;
    QPushButton* ok_ = nullptr;
};

}  // namespace velmora::ui
