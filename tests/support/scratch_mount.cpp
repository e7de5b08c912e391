#include "support/scratch_mount.h"

#include <QDir>
#include <QFile>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace testing_support {

ScratchMount::ScratchMount(const QString& folder, qint64 sizeBytes, bool readOnly)
    : folder(folder) {
    QDir().mkpath(folder);
    const QByteArray options = "size=" + QByteArray::number(sizeBytes) + ",mode=0755";
    const unsigned long flags = MS_NOSUID | MS_NODEV | MS_NOEXEC | (readOnly ? MS_RDONLY : 0);
    if (::mount("framewell-test", QFile::encodeName(folder).constData(), "tmpfs", flags,
                options.constData()) != 0)
        failure = QStringLiteral("mounting a tmpfs is not allowed here (%1)")
                      .arg(QString::fromLocal8Bit(std::strerror(errno)));
}

ScratchMount::~ScratchMount() {
    if (failure.isEmpty()) ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
}

}  // namespace testing_support
