#include "platform/paths.h"

#include <QDir>

namespace platform {
namespace {

qsizetype lastSeparator(const QString& path, PathStyle style) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    if (style == PathStyle::Posix) return slash;
    return std::max(slash, path.lastIndexOf(QLatin1Char('\\')));
}

}  // namespace

QString FolderOf(const QString& path, PathStyle style) {
    const qsizetype at = lastSeparator(path, style);
    return at < 0 ? QString() : path.left(at + 1);
}

QString FileNameOf(const QString& path, PathStyle style) {
    const qsizetype at = lastSeparator(path, style);
    return at < 0 ? path : path.mid(at + 1);
}

QString DefaultOutputName() {
#if defined(_WIN32)
    return QStringLiteral("c:\\output.avi");
#else
    return QDir::homePath() + QStringLiteral("/output.avi");
#endif
}

}  // namespace platform
