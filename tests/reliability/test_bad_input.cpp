// Files a converter must not trust, made by the test, through Open Video and through
// framewell-convert. Each one is refused in bounded time with a clear message that names the
// file and what is wrong with it; the clip open before stays open, playing, with its marks; the
// command line writes nothing and leaves an existing output alone even when told to overwrite.
// Valid files at awkward paths, and files cut short, are handled as a user would expect.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <optional>
#include <random>

#include "app/converter_dialog.h"
#include "app/position_slider.h"
#include "app/source_player.h"
#include "controls/hover_button.h"
#include "media/playback/playback_session.h"
#include "media/source/media_probe.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::DialogControl;
using testing_support::Press;

using testing_support::ClipSpec;
using testing_support::MakeClip;
using testing_support::ProcessResult;

namespace {

const QString kNoDuration = QStringLiteral("Can not get the duration of the clip!");
const QString kCannotOpen = QStringLiteral(
    "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt.");
constexpr ReferenceTime kSecond = 10'000'000;
// The probe and the player each give up after 5 s; anything near twice that is a hang, and a
// command-line run several times that is stuck.
constexpr qint64 kOpenBoundMs = 12000;
constexpr int kRunBoundMs = 20000;

QString Write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                   file.write(bytes) == bytes.size()
               ? path
               : QString();
}

QByteArray Read(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString Clip(double seconds, const QString& extension = QStringLiteral("avi"),
             const QStringList& codecs = {"mpeg4", "pcm_s16le"}, const QStringList& extra = {}) {
    ClipSpec spec;
    spec.seconds = seconds;
    spec.extension = extension;
    spec.videoCodec = codecs[0];
    spec.audioCodec = codecs[1];
    spec.extraArguments = extra;
    return MakeClip(spec);
}

// A valid clip (3 s, 160 x 120, 25 fps, sound) copied to path, its folders made.
QString CopyValidClip(const QString& path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile::remove(path);
    return QFile::copy(Clip(3.0), path) ? path : QString();
}

// A path of exactly length characters under folder, in nested folders so that no part passes
// the file system's 255 bytes.
QString PathOfLength(const QString& folder, int length) {
    QString path = QDir(folder).absolutePath() + QStringLiteral("/long/");
    while (length - path.size() > 204) path += QString(150, QLatin1Char('d')) + QLatin1Char('/');
    const int rest = length - static_cast<int>(path.size()) - 4;
    return rest < 1 ? QString() : path + QString(rest, QLatin1Char('n')) + QStringLiteral(".avi");
}

// The bad input named kind, made in folder; empty when it could not be made.
QString MakeBadInput(const QString& folder, const QString& kind) {
    const QDir dir(folder);
    const QString extension = kind.mid(kind.lastIndexOf('.'));
    if (kind == QLatin1String("zero bytes")) return Write(dir.filePath("empty.avi"), {});
    if (kind.startsWith(QLatin1String("noise named"))) {
        std::mt19937 generator(20240607u);
        QByteArray bytes(64 * 1024, Qt::Uninitialized);
        for (char& byte : bytes) byte = static_cast<char>(generator() & 0xFF);
        return Write(dir.filePath("noise" + extension), bytes);
    }
    if (kind == QLatin1String("text named .avi")) {
        QByteArray text;
        for (int i = 0; i < 200; ++i)
            text += "Shopping list: bread, milk, a new video converter.\n";
        return Write(dir.filePath("notes.avi"), text);
    }
    if (kind.startsWith(QLatin1String("cut short"))) {
        // 40% of a valid file, as a copy cut off by a full disk or an aborted download.
        const QByteArray bytes =
            Read(extension == ".mpg" ? Clip(4.0, "mpg", {"mpeg2video", "mp2"}, {"-f", "vob"})
                                     : Clip(4.0));
        if (bytes.isEmpty()) return {};
        return Write(dir.filePath("cut short" + extension), bytes.left(bytes.size() * 2 / 5));
    }
    if (kind == QLatin1String("mp4 without index")) {
        // ffmpeg writes the index box after the data unless told otherwise; cut it off there.
        const QByteArray bytes = Read(Clip(2.0, "mp4", {"mpeg4", "aac"}));
        const qsizetype index = bytes.lastIndexOf("moov") - 4;
        if (index < 0 || index < bytes.indexOf("mdat")) return {};
        return Write(dir.filePath("no index.mp4"), bytes.left(index));
    }
    if (kind == QLatin1String("avi without frames")) {
        ClipSpec spec;
        spec.audio = false;
        spec.extraArguments = {QStringLiteral("-frames:v"), QStringLiteral("0")};
        const QByteArray bytes = Read(MakeClip(spec));
        return bytes.isEmpty() ? QString() : Write(dir.filePath("no frames.avi"), bytes);
    }
    if (kind == QLatin1String("sound only"))
        return Clip(2.0, "avi", {"mpeg4", "pcm_s16le"}, {"-vn"});
    if (kind == QLatin1String("folder"))
        return dir.mkpath("holiday.avi") ? dir.filePath("holiday.avi") : QString();
    if (kind == QLatin1String("missing")) return dir.filePath("gone since chosen.avi");
    if (kind == QLatin1String("named pipe")) {
        const QString path = dir.filePath("pipe.avi");
        QFile::remove(path);
        return ::mkfifo(QFile::encodeName(path).constData(), 0644) == 0 ? path : QString();
    }
    if (kind == QLatin1String("unreadable")) {
        const QString path = CopyValidClip(dir.filePath("private.avi"));
        // The folder must be open to everybody, or the file would be missing, not unreadable.
        ::chmod(QFile::encodeName(folder).constData(), 0755);
        ::chmod(QFile::encodeName(path).constData(), 0);
        return path;
    }
    return {};
}

// Root reads every file whatever its mode: while this lives the whole process is the user
// "nobody", so that mode 000 means what it says. Does nothing when not root.
class AsUnprivilegedUser {
public:
    AsUnprivilegedUser() {
        if (::geteuid() != 0) return;
        // The group first: once not root the process may not change its group. The saved
        // identity stays root so that the destructor can come back.
        constexpr uid_t kNobody = 65534;
        switched_ = ::setresgid(kNobody, kNobody, 0) == 0 && ::setresuid(kNobody, kNobody, 0) == 0;
        if (!switched_) ::setresgid(0, 0, 0);
    }
    ~AsUnprivilegedUser() {
        if (switched_ && (::setresuid(0, 0, 0) != 0 || ::setresgid(0, 0, 0) != 0))
            qFatal("Could not take back the root identity");
    }
    AsUnprivilegedUser(const AsUnprivilegedUser&) = delete;
    AsUnprivilegedUser& operator=(const AsUnprivilegedUser&) = delete;

    // False when path can still be read (the caller skips its check).
    bool cannotRead(const QString& path) const {
        // open(), not access(), which asks about the real user; not blocking, for a pipe.
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        if (fd >= 0) ::close(fd);
        return fd < 0;
    }
    // Whether this user may start the program: every folder above it must let them in.
    static bool canRun(const QString& program) {
        return ::access(QFile::encodeName(program).constData(), X_OK) == 0;
    }

private:
    bool switched_ = false;
};

// One "name=value" line per thing the user would notice of the project and the transport, so
// that a failed comparison names what changed.
QStringList Snapshot(const ConverterDialog& d) {
    auto n = [](qint64 value) { return QString::number(value); };
    auto r = [](double value) { return QString::number(value, 'g', 17); };
    const OutputSettings& o = d.settings();
    const PreviewPlayer* p = currentPlayer;
    const bool transport =
        DialogControl<HoverButton>(d, MainDialogIds::kConvert)->isEnabled() &&
        DialogControl<QPushButton>(d, MainDialogIds::kPlay)->isEnabled() &&
        DialogControl<PositionSlider>(d, MainDialogIds::kPositionSlider)->isEnabled();
    const QList<QStringList> lines{
        {"clips", n(d.videoClips().count), d.videoClips()[0].fileName,
         n(d.videoClips()[0].duration)},
        {"music", n(d.soundClips().count), d.soundClips()[0].fileName,
         n(d.soundClips()[0].duration)},
        {"marks", n(d.marks().start), n(d.marks().end),
         DialogControl<QLabel>(d, MainDialogIds::kStartMarkDisplay)->text(),
         DialogControl<QLabel>(d, MainDialogIds::kEndMarkDisplay)->text()},
        {"status", DialogControl<QLabel>(d, MainDialogIds::kStatusLine)->text()},
        {"sizes", n(o.sourceWidth), n(o.sourceHeight), n(o.outputWidth), n(o.outputHeight)},
        {"rates", r(o.sourceFrameRate), r(o.outputFrameRate)},
        {"player", n(qint64(quintptr(p))), n(p ? p->playState : -1), p ? p->clipName : QString()},
        {"transport", n(transport)},
        {"lastFolder", platform::SettingsStore().readString(
                           QStringLiteral("Option"), QStringLiteral("LastPhotoFolder"), QString())},
    };
    QStringList snapshot;
    for (const QStringList& line : lines) snapshot << line.first() + '=' + line.mid(1).join('|');
    return snapshot;
}

void Tick(ConverterDialog& dialog) {
    if (currentPlayer) currentPlayer->OnPositionTimer();
    QCoreApplication::sendPostedEvents(&dialog);
}

// A named encoder and no audio encoder: the catalogue's trials are not what is tested here.
ProcessResult Convert(const QStringList& arguments, int timeoutMs = 60000,
                      const QString& program = QStringLiteral(FRAMEWELL_CONVERT_PATH)) {
    const QStringList fixed{"--video-compressor", "avenc_mpeg4", "--audio-compressor", "none",
                            "--quiet"};
    return testing_support::RunProcess(program, fixed + arguments, timeoutMs);
}

constexpr const char* kNoConverterToRun =
    "The unprivileged user can neither start the built converter nor a copy of it in the "
    "scratch folder.";

// The converter to run for a kind of bad input. The unreadable file is read as the
// unprivileged user, who gets the built converter, or a copy of it in folder when the build
// lies where that user may not enter (a build in root's home, say); empty when neither works.
// Called as root.
QString ConverterFor(const QString& kind, const QString& folder) {
    const QString built = QStringLiteral(FRAMEWELL_CONVERT_PATH);
    if (kind != QLatin1String("unreadable") || ::geteuid() != 0) return built;
    auto runnable = [](const QString& program) {
        AsUnprivilegedUser nobody;
        return AsUnprivilegedUser::canRun(program);
    };
    if (runnable(built)) return built;
    const QString copy = QDir(folder).filePath(QFileInfo(built).fileName());
    QFile::remove(copy);
    if (!QFile::copy(built, copy) ||
        !QFile::setPermissions(copy,
                               QFile::permissions(built) | QFile::ExeOther | QFile::ReadOther))
        return {};
    return runnable(copy) ? copy : QString();
}

}  // namespace

class BadInputTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestEnvironment> environment;
    std::unique_ptr<ConverterDialog> dialog;
    QString folder;
    QString openClip;

    QString messages() const { return environment->messages.texts().join('|'); }

    // Picks path in the scripted file dialog and waits for the open to finish; the
    // milliseconds it took, or -1 when it did not finish.
    qint64 open(ConverterDialog& target, const QString& path) {
        QElapsedTimer clock;
        clock.start();
        environment->messages.clear();
        environment->files.openAnswers.push_back(path);
        Press(target, MainDialogIds::kOpenVideo);
        return QTest::qWaitFor([&] { return !target.isOpeningVideo(); }, 30000) ? clock.elapsed()
                                                                                : -1;
    }

private slots:
    void initTestCase() {
        environment = std::make_unique<testing_support::TestEnvironment>();
        // The converter reads the dialog's settings branch: the test's own, not a user's.
        qputenv("XDG_CONFIG_HOME", environment->settingsFolder().toLocal8Bit());
        folder = QFileInfo(environment->scratchPath(QStringLiteral("x"))).absolutePath();
        // Long enough to play on through every refused file below.
        ClipSpec spec;
        spec.seconds = 120.0;
        spec.width = 96;
        spec.height = 64;
        openClip = MakeClip(spec);
        QVERIFY(!openClip.isEmpty());
    }

    void cleanupTestCase() {
        dialog.reset();
        environment.reset();
    }

    void refusedEverywhere_data() {
        QTest::addColumn<QString>("kind");
        // What the message says besides the name; empty when the decoders refuse the file.
        QTest::addColumn<QString>("reason");
        for (const auto& [kind, reason] : {std::pair{"zero bytes", "empty"},
                                           {"noise named .mpg", ""},
                                           {"noise named .avi", ""},
                                           {"noise named .wmv", ""},
                                           {"text named .avi", ""},
                                           {"mp4 without index", ""},
                                           {"avi without frames", ""},
                                           {"sound only", "no video"},
                                           {"folder", "folder"},
                                           {"missing", "does not exist"},
                                           {"named pipe", "not a regular file"},
                                           {"unreadable", "not allowed to read"}})
            QTest::newRow(kind) << QString::fromLatin1(kind) << QString::fromLatin1(reason);
    }

    void refusedEverywhere() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);

        if (!dialog || dialog->videoClips().count != 1) {
            dialog.reset();
            dialog = std::make_unique<ConverterDialog>();
            dialog->show();
            QVERIFY(open(*dialog, openClip) >= 0);
            QVERIFY(currentPlayer && SUCCEEDED(currentPlayer->SeekAbsolute(kSecond)));
            Tick(*dialog);
            Press(*dialog, MainDialogIds::kStartTime);
            QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(2 * kSecond)));
            Tick(*dialog);
            Press(*dialog, MainDialogIds::kEndTime);
            Press(*dialog, MainDialogIds::kPlay);
        }
        QCOMPARE(dialog->videoClips()[0].fileName, openClip);
        QCOMPARE(dialog->marks().start, kSecond);
        QCOMPARE(dialog->marks().end, 2 * kSecond);
        QCOMPARE(currentPlayer->playState, Running);

        const QString path = MakeBadInput(folder, kind);
        QVERIFY2(!path.isEmpty(), "the bad file could not be made");
        const QString fresh = QDir(folder).filePath(QStringLiteral("fresh.avi"));
        const QString precious = QDir(folder).filePath(QStringLiteral("precious.avi"));
        QFile::remove(fresh);
        QVERIFY(!Write(precious, "an earlier conversion").isEmpty());
        const QStringList before = Snapshot(*dialog);

        const QString converter = ConverterFor(kind, folder);
        if (converter.isEmpty()) QSKIP(kNoConverterToRun);
        qint64 took = 0;
        ProcessResult runs[2];
        {
            std::optional<AsUnprivilegedUser> nobody;
            if (kind == QLatin1String("unreadable") && !nobody.emplace().cannotRead(path))
                QSKIP("The test cannot take away its own right to read a file.");
            took = open(*dialog, path);
            runs[0] = Convert({path, fresh}, kRunBoundMs, converter);
            runs[1] =
                Convert({QStringLiteral("--overwrite"), path, precious}, kRunBoundMs, converter);
        }

        // Open Video: bounded, one clear refusal, and the open clip exactly as it was.
        QVERIFY2(took >= 0 && took < kOpenBoundMs, qPrintable(QString::number(took)));
        const QStringList texts = environment->messages.texts();
        if (kind == QLatin1String("sound only")) {
            QCOMPARE(texts, QStringList{kNoDuration});
        } else if (reason.isEmpty()) {
            QCOMPARE(texts, (QStringList{kCannotOpen, kNoDuration}));
            QCOMPARE(environment->messages.boxes[0].caption, QStringLiteral("Framewell"));
        } else {
            QCOMPARE(texts.size(), 1);
            QVERIFY2(texts[0].contains(QDir::toNativeSeparators(path)), qPrintable(texts[0]));
            QVERIFY2(texts[0].contains(reason), qPrintable(texts[0]));
            QVERIFY(environment->messages.boxes[0].owner == dialog.get());
        }
        QCOMPARE(environment->messages.boxes.back().caption, QStringLiteral("Error"));
        QCOMPARE(Snapshot(*dialog), before);
        // The open clip's window still shows pictures and follows the transport.
        QVERIFY(currentPlayer->m_hWnd && currentPlayer->m_hWnd->isVisible());
        const ReferenceTime position = currentPlayer->currentPosition;
        QTest::qWait(300);
        Tick(*dialog);
        QVERIFY(currentPlayer->currentPosition > position);

        // framewell-convert: exit code 1, the input and the reason named, no output written.
        for (const testing_support::ProcessResult& run : runs) {
            const QString errors = QString::fromUtf8(run.standardError);
            QVERIFY2(!run.timedOut, "framewell-convert did not end in time");
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(errors.contains(path) && errors.contains(reason), qPrintable(errors));
        }
        QVERIFY(!QFile::exists(fresh));
        QCOMPARE(Read(precious), QByteArray("an earlier conversion"));
    }

    // Blanks, letters beyond ASCII and a name as long as a stored one may be open like any
    // other file; one character more is refused by the dialog before anything changes, while
    // to the command line it is just a file name.
    void awkwardPathsOfValidClips() {
        ConverterDialog fresh;
        const QString spaced = CopyValidClip(
            folder + QStringLiteral("/Mes vidéos d'été/Zürich – Ærø straße ñandú 夏の日 ©.avi"));
        const QString longest = CopyValidClip(PathOfLength(folder, platform::kMaxPathLength));
        QCOMPARE(longest.size(), platform::kMaxPathLength);
        for (const QString& path : {spaced, longest}) {
            QVERIFY(open(fresh, path) >= 0);
            QVERIFY2(environment->messages.boxes.isEmpty(), qPrintable(messages()));
            QCOMPARE(fresh.videoClips().count, 1);
            QCOMPARE(fresh.videoClips()[0].fileName, path);
            QCOMPARE(fresh.videoClips()[0].duration, 3 * kSecond);
            QCOMPARE(fresh.settings().sourceWidth, 160);
            QVERIFY(currentPlayer && currentPlayer->clipName == path);
            QVERIFY(currentPlayer->windowCaption().startsWith(platform::FileNameOf(path)));
            QVERIFY(Snapshot(fresh).contains("lastFolder=" + QFileInfo(path).absolutePath() + '/'));
        }

        const QString tooLong = CopyValidClip(PathOfLength(folder, platform::kMaxPathLength + 1));
        QCOMPARE(tooLong.size(), platform::kMaxPathLength + 1);
        const QStringList before = Snapshot(fresh);
        QVERIFY(open(fresh, tooLong) >= 0);
        QCOMPARE(environment->messages.boxes.size(), 1);
        QVERIFY(environment->messages.boxes[0].text.contains(QStringLiteral("too long")));
        QCOMPARE(Snapshot(fresh), before);

        for (const auto& [input, output] :
             {std::pair{spaced,
                        QFileInfo(spaced).absolutePath() + QStringLiteral("/Sortie é 夏.avi")},
              std::pair{tooLong, QString(tooLong).replace(".avi", " out.avi")}}) {
            const ProcessResult run = Convert({input, output});
            QVERIFY2(run.exitCode == 0, run.standardError.constData());
            QCOMPARE(testing_support::CountVideoFrames(output), 75);
        }
    }

    // Marks that make no span are refused before any file is touched.
    void marksWithoutASpanWriteNothing() {
        const QString output = QDir(folder).filePath(QStringLiteral("no span.avi"));
        for (const auto& [start, end] : {std::pair{"2", "1"}, {"1.5", "1.5"}}) {
            const ProcessResult run = Convert({"--start", start, "--end", end, Clip(3.0), output});
            QCOMPARE(run.exitCode, 2);
            QVERIFY2(run.standardError.contains("--end must come after --start"),
                     run.standardError.constData());
            QVERIFY(!QFile::exists(output));
        }
    }

    // The media seam itself never hands GStreamer a pipe, a folder or nothing: its file source
    // would wait in open() beyond any time limit. Both the probe and the player answer at once.
    void mediaSeamRefusesWhatIsNotAFile() {
        for (const char* kind : {"named pipe", "folder", "missing"}) {
            const std::string path = MakeBadInput(folder, kind).toStdString();
            QElapsedTimer clock;
            clock.start();
            const media::ProbeResult probe = media::ProbeMediaFile(path);
            QVERIFY2(FAILED(probe.status) && !probe.errorText.empty(), kind);
            media::PlaybackSession session;
            QVERIFY(SUCCEEDED(session.Create()));
            QVERIFY2(FAILED(session.RenderFile(path)), kind);
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        }
    }

    // A file cut short opens with what it holds: its length is what can be played, and the
    // player stands at its first picture.
    void truncatedFilesOpenWithWhatTheyHold() {
        ConverterDialog fresh;
        for (const char* kind : {"cut short .mpg", "cut short .avi"}) {
            const QString path = MakeBadInput(folder, kind);
            QVERIFY(!path.isEmpty());
            const qint64 took = open(fresh, path);
            QVERIFY(took >= 0 && took < kOpenBoundMs);
            QVERIFY2(environment->messages.boxes.isEmpty(), qPrintable(messages()));
            QCOMPARE(fresh.videoClips()[0].fileName, path);
            // 40% of 4 s: one whole second at least, never more than the uncut file.
            const ReferenceTime duration = fresh.videoClips()[0].duration;
            QVERIFY2(duration >= kSecond && duration <= 4 * kSecond,
                     qPrintable(QString::number(duration)));
            QVERIFY(fresh.marks().end >= duration && fresh.marks().end < duration + kSecond);
            QVERIFY(currentPlayer && currentPlayer->playState == Stopped);
        }
    }
};

FRAMEWELL_TEST_MAIN(BadInputTest)
#include "test_bad_input.moc"
