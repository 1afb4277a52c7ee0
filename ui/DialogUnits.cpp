#include "ui/DialogUnits.h"

#include <QApplication>
#include <QFontMetrics>

namespace velmora::ui {

namespace {

constexpr int kTemplatePointSize = 9;

// Rounded like the platform's own conversion, so that a control ends where its neighbour's gap begins.
int scale(int units, int base, int divisor) {
    return (units * base + divisor / 2) / divisor;
}

}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
    const QFontMetrics metrics(font);
    // The average over the 52 Latin letters: what dialog units are defined on, and steadier across fonts than
    // a font's own average, which counts every glyph it has.
    const QString letters = QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    charWidth_ = (metrics.horizontalAdvance(letters) + 26) / 52;
    lineHeight_ = metrics.height();
}

int DialogUnits::x(int units) const {
    return scale(units, charWidth_, 4);
}

int DialogUnits::y(int units) const {
    return scale(units, lineHeight_, 8);
}

QRect DialogUnits::rect(int left, int top, int width, int height) const {
    return {x(left), y(top), x(width), y(height)};
}

QSize DialogUnits::size(int width, int height) const {
    return {x(width), y(height)};
}

QFont dialogFont() {
    QFont font = QApplication::font();
    font.setPointSize(kTemplatePointSize);
    return font;
}

}  // namespace velmora::ui
