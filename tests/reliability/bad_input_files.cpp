#include "bad_input_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <random>

#include "support/media_fixtures.h"

namespace reliability_tests {
namespace {

using testing_support::ClipSpec;
using testing_support::MakeClip;

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The first part of a valid file, as a copy cut off by a full disk or an aborted download.
QString Truncated(const QString& source, const QString& target, double fraction) {
    if (source.isEmpty()) return {};
    const QByteArray bytes = ReadFile(source);
    if (bytes.isEmpty()) return {};
    return WriteFile(target, bytes.left(static_cast<qsizetype>(bytes.size() * fraction)))
               ? target
               : QString();
}

// Offset of a top-level box of an ISO media file; -1 when it has none.
qsizetype TopLevelBox(const QByteArray& bytes, const char* type) {
    qsizetype at = 0;
    while (at + 8 <= bytes.size()) {
        const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData() + at);
        quint64 size = (quint64(p[0]) << 24) | (quint64(p[1]) << 16) | (quint64(p[2]) << 8) | p[3];
        if (bytes.mid(at + 4, 4) == type) return at;
        if (size == 1 && at + 16 <= bytes.size()) {
            size = 0;
            for (int i = 8; i < 16; ++i) size = (size << 8) | p[i];
        }
        if (size < 8) return -1;
        at += static_cast<qsizetype>(size);
    }
    return -1;
}

}  // namespace

BadInputFiles::BadInputFiles(const QString& folder) : folder_(folder) {}

QString BadInputFiles::path(const QString& name) const {
    return QDir(folder_).filePath(name);
}

QString BadInputFiles::validClip() {
    ClipSpec spec;
    spec.seconds = 3.0;
    return MakeClip(spec);
}

QString BadInputFiles::zeroBytes() const {
    const QString file = path(QStringLiteral("empty.avi"));
    return WriteFile(file, {}) ? file : QString();
}

QString BadInputFiles::randomBytes(const QString& extension) const {
    const QString file = path(QStringLiteral("noise.") + extension);
    std::mt19937 generator(20240607u + static_cast<unsigned>(qHash(extension)));
    QByteArray bytes(64 * 1024, Qt::Uninitialized);
    for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
    return WriteFile(file, bytes) ? file : QString();
}

QString BadInputFiles::textRenamedAvi() const {
    const QString file = path(QStringLiteral("notes.avi"));
    QByteArray text;
    for (int i = 0; i < 200; ++i)
        text += "Shopping list: bread, milk, a new video converter. Line " + QByteArray::number(i) +
                "\n";
    return WriteFile(file, text) ? file : QString();
}

QString BadInputFiles::truncatedProgramStream() const {
    ClipSpec spec;
    spec.seconds = 4.0;
    spec.extension = QStringLiteral("mpg");
    spec.videoCodec = QStringLiteral("mpeg2video");
    spec.audioCodec = QStringLiteral("mp2");
    spec.extraArguments = {QStringLiteral("-f"), QStringLiteral("vob")};
    return Truncated(MakeClip(spec), path(QStringLiteral("cut short.mpg")), 0.4);
}

QString BadInputFiles::truncatedAvi() const {
    ClipSpec spec;
    spec.seconds = 4.0;
    return Truncated(MakeClip(spec), path(QStringLiteral("cut short.avi")), 0.4);
}

QString BadInputFiles::mp4WithoutIndex() const {
    ClipSpec spec;
    spec.seconds = 2.0;
    spec.extension = QStringLiteral("mp4");
    spec.audioCodec = QStringLiteral("aac");
    const QString source = MakeClip(spec);
    if (source.isEmpty()) return {};
    const QByteArray bytes = ReadFile(source);
    const qsizetype index = TopLevelBox(bytes, "moov");
    const qsizetype data = TopLevelBox(bytes, "mdat");
    // ffmpeg writes the index last unless told otherwise; cut it off there.
    if (index < 0 || data < 0 || index < data) return {};
    const QString file = path(QStringLiteral("no index.mp4"));
    return WriteFile(file, bytes.left(index)) ? file : QString();
}

QString BadInputFiles::headerOnlyAvi() const {
    ClipSpec spec;
    spec.seconds = 1.0;
    spec.audio = false;
    spec.extraArguments = {QStringLiteral("-frames:v"), QStringLiteral("0")};
    const QString made = MakeClip(spec);
    if (made.isEmpty()) return {};
    const QString file = path(QStringLiteral("no frames.avi"));
    QFile::remove(file);
    return QFile::copy(made, file) ? file : QString();
}

QString BadInputFiles::audioOnlyAvi() const {
    ClipSpec spec;
    spec.seconds = 2.0;
    spec.extraArguments = {QStringLiteral("-vn")};
    return MakeClip(spec);
}

QString BadInputFiles::folderNamedAvi() const {
    const QString folder = path(QStringLiteral("holiday.avi"));
    return QDir().mkpath(folder) ? folder : QString();
}

QString BadInputFiles::unreadable() const {
    const QString file = path(QStringLiteral("private.avi"));
    QFile::remove(file);
    if (!QFile::copy(validClip(), file)) return {};
    // The folder must be open to everybody, or the file would be missing rather than unreadable.
    ::chmod(QFile::encodeName(folder_).constData(), 0755);
    ::chmod(QFile::encodeName(file).constData(), 0);
    return file;
}

QString BadInputFiles::missing() const {
    return path(QStringLiteral("gone since chosen.avi"));
}

QString BadInputFiles::namedPipe() const {
    const QString file = path(QStringLiteral("pipe.avi"));
    QFile::remove(file);
    return ::mkfifo(QFile::encodeName(file).constData(), 0644) == 0 ? file : QString();
}

QString BadInputFiles::spacedNonAsciiClip() const {
    const QString folder = path(QStringLiteral("Mes vidéos d'été"));
    QDir().mkpath(folder);
    const QString file =
        QDir(folder).filePath(QStringLiteral("Zürich – Ærø straße ñandú 夏の日 ©.avi"));
    QFile::remove(file);
    return QFile::copy(validClip(), file) ? file : QString();
}

QString BadInputFiles::clipWithPathLength(int length) const {
    const QString base = QDir(folder_).absolutePath() + QStringLiteral("/long");
    const QString extension = QStringLiteral(".avi");
    // base + "/" + folders + name + ".avi"; no part longer than the file system's 255 bytes.
    int remaining = length - static_cast<int>(base.size()) - 1 - static_cast<int>(extension.size());
    if (remaining < 1) return {};
    QString relative;
    while (remaining > 200) {
        relative += QString(150, QLatin1Char('d')) + QLatin1Char('/');
        remaining -= 151;
    }
    relative += QString(remaining, QLatin1Char('n'));
    const QString file = base + QLatin1Char('/') + relative + extension;
    if (file.size() != length) return {};
    QDir().mkpath(QFileInfo(file).absolutePath());
    QFile::remove(file);
    return QFile::copy(validClip(), file) ? file : QString();
}

AsUnprivilegedUser::AsUnprivilegedUser() {
    if (::geteuid() != 0) return;
    // The group first: once the user is not root it may not change its group any more.
    constexpr gid_t kNobodyGroup = 65534;
    constexpr uid_t kNobody = 65534;
    // Real and effective both, as for a user who logged in as nobody; the saved identity stays
    // root so that the destructor can come back.
    if (::setresgid(kNobodyGroup, kNobodyGroup, 0) != 0 || ::setresuid(kNobody, kNobody, 0) != 0) {
        ::setresgid(0, 0, 0);
        ok_ = false;
        return;
    }
    switched_ = true;
}

AsUnprivilegedUser::~AsUnprivilegedUser() {
    if (!switched_) return;
    if (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0)
        qFatal("Could not take back the root identity");
}

bool CanRead(const QString& path) {
    // open(), not access(): access() asks about the real user, not the effective one. Not
    // blocking, so that a named pipe without a writer answers at once.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

}  // namespace reliability_tests
