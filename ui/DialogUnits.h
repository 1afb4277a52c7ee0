#pragma once
// Dialog templates give positions in dialog units, which scale with the dialog's font: a horizontal unit is a
// quarter of the font's average character width, a vertical one an eighth of its line height.

#include <QFont>
#include <QRect>
#include <QSize>

namespace velmora::ui {

class DialogUnits {
  public:
    explicit DialogUnits(const QFont& font);

    int x(int units) const;
    int y(int units) const;
    QRect rect(int left, int top, int width, int height) const;
    QSize size(int width, int height) const;

    int charWidth() const { return charWidth_; }
    int lineHeight() const { return lineHeight_; }

  private:
    int charWidth_;
    int lineHeight_;
};

// The template's font: the application's at 9 points.
QFont dialogFont();

}  // namespace velmora::ui
