#include "platform/eliding_label.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace platform {

ElidingLabel::ElidingLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setWordWrap(false);
}

QRect ElidingLabel::textRoom() const {
    const int side = margin();
    QRect room = contentsRect().adjusted(side, side, -side, -side);
    int shift = indent();
    // QLabel's rule: a framed label without an indent of its own keeps half an x off the frame.
    if (shift < 0 && frameWidth() > 0)
        shift = fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - side;
    if (shift > 0) {
        if (alignment() & Qt::AlignLeft) room.setLeft(room.left() + shift);
        if (alignment() & Qt::AlignRight) room.setRight(room.right() - shift);
        if (alignment() & Qt::AlignTop) room.setTop(room.top() + shift);
        if (alignment() & Qt::AlignBottom) room.setBottom(room.bottom() - shift);
    }
    return room;
}

QString ElidingLabel::shownText() const {
    const QString whole = text();
    if (whole.isEmpty()) return whole;
    return fontMetrics().elidedText(whole, Qt::ElideMiddle, textRoom().width());
}

void ElidingLabel::paintEvent(QPaintEvent* event) {
    const QString shown = shownText();
    if (shown == text()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, textRoom(),
                          QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), shown, foregroundRole());
}

bool ElidingLabel::event(QEvent* event) {
    // A tooltip of its own wins; otherwise an elided text is shown whole on demand.
    if (event->type() == QEvent::ToolTip && toolTip().isEmpty()) {
        const auto* help = static_cast<QHelpEvent*>(event);
        if (isElided())
            QToolTip::showText(help->globalPos(), text(), this);
        else
            QToolTip::hideText();
        return true;
    }
    return QLabel::event(event);
}

}  // namespace platform
