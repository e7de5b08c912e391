#include "controls/hover_button.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionButton>

#include "platform/resources.h"

namespace {
constexpr int kIconMargin = 3;
}

HoverButton::HoverButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFlat(true);
}

void HoverButton::SetIcon(int iconId) {
    icon_ = platform::LoadIconResource(iconId);
    update();
}

void HoverButton::SetTooltipText(const QString& text, bool activate) {
    setToolTip(activate ? text : QString());
}

void HoverButton::SetCursorResource(int cursorId) {
    if (cursorId == 0) {
        unsetCursor();
    } else {
        setCursor(platform::LoadCursorResource(cursorId, QPoint(10, 1)));
    }
}

void HoverButton::DrawTransparent(bool repaint) {
    transparent_ = true;
    setAttribute(Qt::WA_TranslucentBackground, true);
    setAutoFillBackground(false);
    if (repaint) update();
}

void HoverButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect area = rect();
    if (!transparent_) painter.fillRect(area, palette().button());

    const QIcon::Mode mode = isEnabled() ? QIcon::Normal : QIcon::Disabled;
    const int iconSide = std::min(32, std::max(16, height() / 2));
    const QString caption = text();
    if (!icon_.isNull()) {
        QRect iconRect(0, 0, iconSide, iconSide);
        if (caption.isEmpty()) {
            iconRect.moveCenter(area.center());
        } else {
            iconRect.moveTopLeft(QPoint(area.left() + kIconMargin,
                                        area.top() + (area.height() - iconSide) / 2));
            area.setLeft(iconRect.right() + 1 + kIconMargin);
        }
        icon_.paint(&painter, iconRect, Qt::AlignCenter, mode);
    }
    if (!caption.isEmpty()) {
        painter.setPen(palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled,
                                       QPalette::ButtonText));
        style()->drawItemText(&painter, area, Qt::AlignCenter | Qt::TextWordWrap |
                                                  Qt::TextShowMnemonic,
                              palette(), isEnabled(), caption);
    }
}
