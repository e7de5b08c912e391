#include "scratch_mount.h"

#include <QDir>
#include <QFile>

#include <sys/mount.h>

#include <cerrno>
#include <cstring>

namespace reliability_tests {

ScratchMount::ScratchMount(const QString& folder, qint64 sizeBytes, bool readOnly)
    : folder_(folder) {
    QDir().mkpath(folder);
    const QByteArray target = QFile::encodeName(folder);
    const QByteArray options = "size=" + QByteArray::number(sizeBytes) + ",mode=0755";
    unsigned long flags = MS_NOSUID | MS_NODEV | MS_NOEXEC;
    if (readOnly) flags |= MS_RDONLY;
    if (::mount("framewell-test", target.constData(), "tmpfs", flags, options.constData()) != 0) {
        failure_ = QStringLiteral("mounting a tmpfs is not allowed here (%1)")
                       .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return;
    }
    mounted_ = true;
}

ScratchMount::~ScratchMount() {
    // Lazily: a file the code under test still holds open must not keep the mount alive.
    if (mounted_) ::umount2(QFile::encodeName(folder_).constData(), MNT_DETACH);
}

}  // namespace reliability_tests
