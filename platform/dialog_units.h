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

// px_x = x * average width / 4, px_y = y * height / 8, rounded to the nearest pixel: a
// template keeps its proportions with whatever font the desktop uses.
QRect DialogUnitsToPixels(const QRect& dialogUnits, const DialogBaseUnits& base);
QSize DialogUnitsToPixels(const QSize& dialogUnits, const DialogBaseUnits& base);

// The point size of the desktop's text that templates are made for.
inline constexpr double kUsualDesktopFontPoints = 9.0;

// The font named by a template, with a sans-serif fallback where that face is not installed,
// larger by as much as the desktop's text is larger than usual.
QFont DialogFont(const QString& face, int points);

}  // namespace platform
