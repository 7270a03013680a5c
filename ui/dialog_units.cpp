#include "ui/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>
#include <cstdint>
#include <cstdlib>

QFont DialogFont(double pointSize) {
    QFont font = QApplication::font();
    font.setPointSizeF(pointSize);
    return font;
}

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    static const QString kAlphabet =
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz");
    const QFontMetrics metrics(font);
    // The average over both cases, rounded: the width of the 52 letters / 26,
    // halved with rounding.
    const int width = (metrics.horizontalAdvance(kAlphabet) / 26 + 1) / 2;
    return {width, metrics.height()};
}

int MulDiv(int number, int numerator, int denominator) {
    if (denominator == 0) return -1;
    const std::int64_t product = static_cast<std::int64_t>(number) * numerator;
    const bool negative = (product < 0) != (denominator < 0);
    const std::int64_t magnitude = (std::llabs(product) + std::llabs(denominator) / 2) /
                                   std::llabs(denominator);
    return static_cast<int>(negative ? -magnitude : magnitude);
}

QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int cx, int cy) {
    const int left = MulDiv(x, units.cx, 4);
    const int top = MulDiv(y, units.cy, 8);
    const int right = MulDiv(x + cx, units.cx, 4);
    const int bottom = MulDiv(y + cy, units.cy, 8);
    return QRect(left, top, right - left, bottom - top);
}
