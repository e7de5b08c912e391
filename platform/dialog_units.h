#pragma once

// Dialog units, the layout unit of the dialog templates: a quarter of the dialog font's
// average character width horizontally and an eighth of its height vertically.

#include <QFont>
#include <QRect>
#include <QSize>

namespace platform {

struct DialogBaseUnits {
    int averageCharWidth = 0;
    int charHeight = 0;
};

DialogBaseUnits BaseUnitsOf(const QFont& font);

// px_x = x * average width / 4, px_y = y * height / 8, as the original platform did
// (MulDiv rounding).
QRect DialogUnitsToPixels(const QRect& dialogUnits, const DialogBaseUnits& base);
QSize DialogUnitsToPixels(const QSize& dialogUnits, const DialogBaseUnits& base);

// The font named by a template, with a sans-serif fallback where that face is not installed.
QFont DialogFont(const QString& face, int points);

}  // namespace platform
