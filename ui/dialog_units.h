#pragma once
// Dialog units, converted to pixels the way the dialog manager does it: from
// the average character width and the height of the dialog's font.

#include <QFont>
#include <QRect>

struct DialogBaseUnits {
    int cx;  // average character width, pixels
    int cy;  // character height, pixels
};

// "MS Shell Dlg" at the template's point size: the system's UI font.
QFont DialogFont(double pointSize);

DialogBaseUnits BaseUnitsOf(const QFont& font);

// number * numerator / denominator, rounded half away from zero; -1 when the
// denominator is 0.
int MulDiv(int number, int numerator, int denominator);

QRect MapDialogRect(const DialogBaseUnits& units, int x, int y, int cx, int cy);
