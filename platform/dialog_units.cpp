#include "platform/dialog_units.h"

#include <QFontMetrics>
#include <QGuiApplication>

#include <cmath>

namespace platform {
namespace {

int mulDiv(int value, int numerator, int denominator) {
    return static_cast<int>(std::lround(static_cast<double>(value) * numerator / denominator));
}

}  // namespace

DialogBaseUnits BaseUnitsOf(const QFont& font) {
    const QFontMetrics metrics(font);
    const int sample = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return {(sample / 26 + 1) / 2, metrics.height()};
}

QRect DialogUnitsToPixels(const QRect& du, const DialogBaseUnits& base) {
    const int left = mulDiv(du.x(), base.averageCharWidth, 4);
    const int top = mulDiv(du.y(), base.charHeight, 8);
    const int right = mulDiv(du.x() + du.width(), base.averageCharWidth, 4);
    const int bottom = mulDiv(du.y() + du.height(), base.charHeight, 8);
    return QRect(left, top, right - left, bottom - top);
}

QSize DialogUnitsToPixels(const QSize& du, const DialogBaseUnits& base) {
    return QSize(mulDiv(du.width(), base.averageCharWidth, 4),
                 mulDiv(du.height(), base.charHeight, 8));
}

QFont DialogFont(const QString& face, int points) {
    // A template's point size is meant for the desktop's usual text size. Where the user chose
    // larger text for the desktop, the dialog's text grows by as much, and with it the dialog,
    // whose units follow its font.
    const double desktopPoints = QGuiApplication::font().pointSizeF();
    const double scale =
        desktopPoints > kUsualDesktopFontPoints ? desktopPoints / kUsualDesktopFontPoints : 1.0;
    QFont font(face);
    font.setPointSizeF(points * scale);
    font.setStyleHint(QFont::SansSerif);
    return font;
}

}  // namespace platform
