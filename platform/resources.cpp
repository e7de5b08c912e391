#include "platform/resources.h"

#include <QFile>
#include <QPainter>
#include <QSvgRenderer>

namespace platform {

QString ResourcePath(const char* folder, int id) {
    for (const char* extension : {"png", "svg", "wav"}) {
        const QString path = QStringLiteral(":/%1/%2.%3")
                                 .arg(QLatin1String(folder))
                                 .arg(id)
                                 .arg(QLatin1String(extension));
        if (QFile::exists(path)) return path;
    }
    return {};
}

QIcon LoadIconResource(int id) {
    const QString path = ResourcePath("icons", id);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

QPixmap LoadBitmapResource(int id) {
    const QString path = ResourcePath("bitmaps", id);
    if (path.isEmpty()) return {};
    if (path.endsWith(QLatin1String(".svg"))) {
        QSvgRenderer renderer(path);
        QPixmap pixmap(renderer.defaultSize());
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        return pixmap;
    }
    return QPixmap(path);
}

QCursor LoadCursorResource(int id, QPoint hotSpot) {
    const QString path = ResourcePath("cursors", id);
    if (path.isEmpty()) return QCursor(Qt::ArrowCursor);
    QPixmap pixmap;
    if (path.endsWith(QLatin1String(".svg"))) {
        QSvgRenderer renderer(path);
        pixmap = QPixmap(32, 32);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
    } else {
        pixmap = QPixmap(path);
    }
    return QCursor(pixmap, hotSpot.x(), hotSpot.y());
}

}  // namespace platform
