#include "player/window_placement.h"

#include <QWidget>

#include <algorithm>
#include <array>

namespace {

QRect Grown(const QRect& client, const QMargins& frame) {
    return client.marginsAdded(frame);
}

qint64 Area(const QRect& rect) {
    return rect.isValid() ? qint64(rect.width()) * qint64(rect.height()) : 0;
}

// A frame rectangle moved inside the work area along both axes, as far as its size allows.
QRect ClampedFrame(QRect outer, const QRect& available) {
    outer.moveLeft(std::clamp(outer.left(), available.left(),
                              std::max(available.left(), available.right() + 1 - outer.width())));
    outer.moveTop(std::clamp(outer.top(), available.top(),
                             std::max(available.top(), available.bottom() + 1 - outer.height())));
    return outer;
}

}  // namespace

QSize ClientRoom(const QRect& available, const QMargins& frame) {
    return QSize(std::max(1, available.width() - frame.left() - frame.right()),
                 std::max(1, available.height() - frame.top() - frame.bottom()));
}

QRect KeepInside(const QRect& client, const QRect& available, const QMargins& frame) {
    return ClampedFrame(Grown(client, frame), available).marginsRemoved(frame);
}

QRect VideoWindowPlacement(QSize picture, const QRect& available, const QRect& owner,
                           const QMargins& frame) {
    const QSize room = ClientRoom(available, frame);
    QSize client = picture.isValid() && !picture.isEmpty() ? picture : QSize(320, 240);
    if (client.width() > room.width() || client.height() > room.height())
        client = client.scaled(room, Qt::KeepAspectRatio).expandedTo(QSize(1, 1));
    const QSize outer = Grown(QRect(QPoint(), client), frame).size();

    if (!owner.isValid()) {
        QRect centred(QPoint(), outer);
        centred.moveCenter(available.center());
        return ClampedFrame(centred, available).marginsRemoved(frame);
    }

    // Beside the owner, level with it: right, left, below, above.
    const std::array<QRect, 4> beside = {
        QRect(QPoint(owner.right() + 1, owner.top()), outer),
        QRect(QPoint(owner.left() - outer.width(), owner.top()), outer),
        QRect(QPoint(owner.left(), owner.bottom() + 1), outer),
        QRect(QPoint(owner.left(), owner.top() - outer.height()), outer),
    };
    for (const QRect& candidate : beside) {
        const QRect placed = ClampedFrame(candidate, available);
        if (!placed.intersects(owner)) return placed.marginsRemoved(frame);
    }

    // No room beside it: pushed against the work area's edge on each side in turn, the place
    // that covers the least of the owner.
    QRect best;
    qint64 bestCover = -1;
    for (std::size_t side = 0; side < beside.size(); ++side) {
        QRect pushed = beside[side];
        switch (side) {
            case 0:
                pushed.moveRight(available.right());
                break;
            case 1:
                pushed.moveLeft(available.left());
                break;
            case 2:
                pushed.moveBottom(available.bottom());
                break;
            default:
                pushed.moveTop(available.top());
                break;
        }
        pushed = ClampedFrame(pushed, available);
        const qint64 cover = Area(pushed.intersected(owner));
        if (bestCover < 0 || cover < bestCover) {
            best = pushed;
            bestCover = cover;
        }
    }
    return best.marginsRemoved(frame);
}

QRect WindowedPictureRect(QSize client, QSize picture) {
    const QRect area(QPoint(0, 0), client);
    if (!picture.isValid() || picture.isEmpty() || client.isEmpty()) return area;
    QRect fitted(QPoint(0, 0), picture.scaled(client, Qt::KeepAspectRatio));
    fitted.moveCenter(area.center());
    return fitted;
}

QMargins FrameMargins(const QWidget* window) {
    if (!window || !window->isVisible()) return {};
    const QRect outer = window->frameGeometry();
    const QRect inner = window->geometry();
    return QMargins(inner.left() - outer.left(), inner.top() - outer.top(),
                    outer.right() - inner.right(), outer.bottom() - inner.bottom());
}
