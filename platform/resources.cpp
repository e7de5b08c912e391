#include "platform/resources.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QSvgRenderer>

namespace platform {
namespace {

// A drawing rendered for the screen with the highest pixel density, at size (device
// independent pixels): crisp there, and scaled down cleanly elsewhere.
QPixmap RenderSvg(const QString& path, QSize size) {
    QSvgRenderer renderer(path);
    if (!size.isValid()) size = renderer.defaultSize();
    const qreal ratio = qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(size * ratio);
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    return pixmap;
}

}  // namespace

QString ResourcePath(const char* folder, int id) {
    const QDir resources(QStringLiteral(":/%1").arg(QLatin1String(folder)));
    for (const char* extension : {"svg", "png", "wav", "json"}) {
        const QStringList found = resources.entryList(
            {QStringLiteral("*_%1.%2").arg(id).arg(QLatin1String(extension))}, QDir::Files);
        if (!found.isEmpty()) return resources.filePath(found.first());
    }
    return {};
}

QIcon LoadIconResource(int id) {
    // An icon made from its drawing renders at whatever size and pixel density it is painted
    // at (Qt's SVG icon engine), never a small image scaled up.
    const QString path = ResourcePath("icons", id);
    return path.isEmpty() ? QIcon() : QIcon(path);
}

QPixmap LoadBitmapResource(int id) {
    const QString path = ResourcePath("bitmaps", id);
    if (path.isEmpty()) return {};
    if (path.endsWith(QLatin1String(".svg"))) return RenderSvg(path, QSize());
    return QPixmap(path);
}

QCursor LoadCursorResource(int id, QPoint hotSpot) {
    const QString path = ResourcePath("cursors", id);
    if (path.isEmpty()) return QCursor(Qt::ArrowCursor);
    const QPixmap pixmap =
        path.endsWith(QLatin1String(".svg")) ? RenderSvg(path, QSize(32, 32)) : QPixmap(path);
    return QCursor(pixmap, hotSpot.x(), hotSpot.y());
}

}  // namespace platform
