#include "platform/file_checks.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "media/render/output_file.h"

namespace platform {

QString InputFileProblem(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists()) {
        return info.isSymLink() ? QStringLiteral("It is a link to a file that does not exist.")
                                : QStringLiteral("The file does not exist.");
    }
    if (info.isDir()) return QStringLiteral("It is a folder, not a video file.");
    // Pipes and devices: opening one for reading can wait for ever.
    if (!info.isFile()) return QStringLiteral("It is not a regular file.");
    // Opening it is the only honest test: permission bits say nothing about the effective user,
    // access control lists or a read-only mount.
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (!info.isReadable()) return QStringLiteral("You are not allowed to read this file.");
        return QStringLiteral("It cannot be read: %1.").arg(file.errorString());
    }
    if (file.size() == 0) return QStringLiteral("The file is empty.");
    return {};
}

QString OutputFileProblem(const QString& path) {
    return QString::fromStdString(media::OutputTargetProblem(path.toStdString()));
}

QString QuotedPath(const QString& path) {
    return QLatin1Char('"') + QDir::toNativeSeparators(path) + QLatin1Char('"');
}

}  // namespace platform
