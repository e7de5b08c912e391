// Open Video on files that cannot be converted: each one is refused in bounded time with a
// clear message, and the clip that was open before stays open, playing, with its marks. Valid
// files at awkward paths open as any other.

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QLabel>

#include <memory>
#include <optional>

#include "app/converter_dialog.h"
#include "bad_input_files.h"
#include "media/media_probe.h"
#include "media/playback_session.h"
#include "open_video_driver.h"
#include "platform/paths.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "source/source_player.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace reliability_tests;
using testing_support::TestEnvironment;

namespace {

const QString kNoDuration = QStringLiteral("Can not get the duration of the clip!");
const QString kCannotOpen = QStringLiteral(
    "Cannot open the file. You need to install appropriate decoders.\nOr the file is corrupt.");

constexpr ReferenceTime kSecond = 10'000'000;
// The probe and the player each give up after 5 s; anything near twice that is a hang.
constexpr qint64 kOpenBoundMs = 12000;

enum class Refusal {
    Decoders,   // the decoders' message, then the dialog's
    NoPicture,  // the dialog's message alone
    FileSystem  // one message naming the file and what is wrong with it
};

void Tick(ConverterDialog& dialog) {
    if (currentPlayer) currentPlayer->OnPositionTimer();
    QCoreApplication::sendPostedEvents(&dialog);
}

}  // namespace

Q_DECLARE_METATYPE(Refusal)

class BadInputOpenTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<BadInputFiles> files;
    std::unique_ptr<ConverterDialog> dialog;
    QString openClip;

    QString makeBadFile(const QString& kind) const {
        const BadInputFiles& f = *files;
        if (kind == QLatin1String("zero bytes")) return f.zeroBytes();
        if (kind == QLatin1String("noise named .mpg")) return f.randomBytes(QStringLiteral("mpg"));
        if (kind == QLatin1String("noise named .avi")) return f.randomBytes(QStringLiteral("avi"));
        if (kind == QLatin1String("noise named .wmv")) return f.randomBytes(QStringLiteral("wmv"));
        if (kind == QLatin1String("text named .avi")) return f.textRenamedAvi();
        if (kind == QLatin1String("mp4 without index")) return f.mp4WithoutIndex();
        if (kind == QLatin1String("avi without frames")) return f.headerOnlyAvi();
        if (kind == QLatin1String("sound only")) return f.audioOnlyAvi();
        if (kind == QLatin1String("folder")) return f.folderNamedAvi();
        if (kind == QLatin1String("missing")) return f.missing();
        if (kind == QLatin1String("named pipe")) return f.namedPipe();
        if (kind == QLatin1String("unreadable")) return f.unreadable();
        return {};
    }

private slots:
    void initTestCase() {
        environment = std::make_unique<TestEnvironment>();
        files = std::make_unique<BadInputFiles>(
            QFileInfo(environment->scratchPath(QStringLiteral("x"))).absolutePath());
        // Long enough to play on through every refused file below.
        testing_support::ClipSpec spec;
        spec.seconds = 120.0;
        spec.width = 96;
        spec.height = 64;
        openClip = testing_support::MakeClip(spec);
        QVERIFY(!openClip.isEmpty());
    }

    void cleanupTestCase() {
        dialog.reset();
        environment.reset();
    }

    // Before anything is open: a refused file leaves the dialog as it started.
    void refusedFileWithNothingOpenChangesNothing() {
        ConverterDialog fresh;
        const DialogSnapshot before = TakeSnapshot(fresh);
        for (const QString& path :
             {files->randomBytes(QStringLiteral("avi")), files->missing(), files->audioOnlyAvi()}) {
            environment->messages.clear();
            QVERIFY(OpenThroughDialog(fresh, *environment, path) >= 0);
            QVERIFY2(!environment->messages.boxes.isEmpty(), qPrintable(path));
            const DialogSnapshot after = TakeSnapshot(fresh);
            QVERIFY2(after == before, qPrintable(path + ": " + before.differences(after)));
            QVERIFY(!currentPlayer);
        }
        environment->messages.clear();
    }

    void refusedFileKeepsTheOpenClip_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<QString>("reason");  // part of a file-system message
        QTest::addColumn<bool>("asUnprivilegedUser");

        auto row = [](const char* kind, Refusal refusal, const QString& reason = {},
                      bool unprivileged = false) {
            QTest::newRow(kind) << QString::fromLatin1(kind) << refusal << reason << unprivileged;
        };
        row("zero bytes", Refusal::FileSystem, QStringLiteral("empty"));
        row("noise named .mpg", Refusal::Decoders);
        row("noise named .avi", Refusal::Decoders);
        row("noise named .wmv", Refusal::Decoders);
        row("text named .avi", Refusal::Decoders);
        row("mp4 without index", Refusal::Decoders);
        row("avi without frames", Refusal::Decoders);
        row("sound only", Refusal::NoPicture);
        row("folder", Refusal::FileSystem, QStringLiteral("folder"));
        row("missing", Refusal::FileSystem, QStringLiteral("does not exist"));
        row("named pipe", Refusal::FileSystem, QStringLiteral("not a regular file"));
        row("unreadable", Refusal::FileSystem, QStringLiteral("not allowed to read"), true);
    }

    // A refused file: bounded time, a clear message, and the open clip exactly as it was,
    // still playing.
    void refusedFileKeepsTheOpenClip() {
        QFETCH(QString, kind);
        QFETCH(Refusal, refusal);
        QFETCH(QString, reason);
        QFETCH(bool, asUnprivilegedUser);

        if (!dialog || dialog->clipList.count != 1) {
            dialog.reset();
            dialog = std::make_unique<ConverterDialog>();
            dialog->show();
            QVERIFY(OpenThroughDialog(*dialog, *environment, openClip) >= 0);
            QVERIFY(currentPlayer);
            QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(kSecond)));
            Tick(*dialog);
            dialog->OnStartTime();
            QVERIFY(SUCCEEDED(currentPlayer->SeekAbsolute(2 * kSecond)));
            Tick(*dialog);
            dialog->OnEndTime();
            dialog->OnPlay();
        }
        QCOMPARE(dialog->startMark, kSecond);
        QCOMPARE(dialog->endMark, 2 * kSecond);
        QCOMPARE(currentPlayer->playState, Running);

        const QString path = makeBadFile(kind);
        QVERIFY2(!path.isEmpty(), "the bad file could not be made");
        environment->messages.clear();
        const DialogSnapshot before = TakeSnapshot(*dialog);

        qint64 took = 0;
        {
            std::optional<AsUnprivilegedUser> nobody;
            if (asUnprivilegedUser) {
                nobody.emplace();
                if (!nobody->active() || CanRead(path))
                    QSKIP("The test cannot take away its own right to read a file.");
            }
            took = OpenThroughDialog(*dialog, *environment, path);
        }
        QVERIFY2(took >= 0, "Open Video did not finish");
        QVERIFY2(took < kOpenBoundMs, qPrintable(QString::number(took)));

        const QStringList texts = environment->messages.texts();
        switch (refusal) {
            case Refusal::Decoders:
                QCOMPARE(texts, (QStringList{kCannotOpen, kNoDuration}));
                QCOMPARE(environment->messages.boxes[0].caption, QStringLiteral("Framewell"));
                break;
            case Refusal::NoPicture:
                QCOMPARE(texts, QStringList{kNoDuration});
                break;
            case Refusal::FileSystem:
                QCOMPARE(texts.size(), 1);
                QVERIFY2(texts[0].contains(QDir::toNativeSeparators(path)), qPrintable(texts[0]));
                QVERIFY2(texts[0].contains(reason), qPrintable(texts[0]));
                QVERIFY(environment->messages.boxes[0].owner == dialog.get());
                break;
        }
        QCOMPARE(environment->messages.boxes.back().caption, QStringLiteral("Error"));

        const DialogSnapshot after = TakeSnapshot(*dialog);
        QVERIFY2(after == before, qPrintable(before.differences(after)));
        // The open clip's window still shows pictures and follows the transport.
        QVERIFY(currentPlayer->m_hWnd && currentPlayer->m_hWnd->isVisible());
        const ReferenceTime position = currentPlayer->currentPosition;
        QTest::qWait(300);
        Tick(*dialog);
        QVERIFY(currentPlayer->currentPosition > position);
    }

    // The clip that survived every refusal still converts what its marks say: Convert does
    // not answer "Please open a video file first!".
    void theSurvivingClipIsStillTheProject() {
        QVERIFY(dialog);
        QCOMPARE(dialog->clipList.count, 1);
        QCOMPARE(dialog->clipList[0].fileName, openClip);
        QCOMPARE(dialog->musicList.count, 1);
        dialog->OnPause();
        QCOMPARE(currentPlayer->playState, Paused);
        dialog->OnStop();
        QCOMPARE(currentPlayer->playState, Stopped);
    }

    // Valid clips at awkward paths open like any other; a path longer than a stored name
    // holds is refused without touching the open clip.
    void awkwardPathsOfValidClips() {
        ConverterDialog fresh;
        environment->messages.clear();

        const QString spaced = files->spacedNonAsciiClip();
        QVERIFY(!spaced.isEmpty());
        QVERIFY(OpenThroughDialog(fresh, *environment, spaced) >= 0);
        QVERIFY2(environment->messages.boxes.isEmpty(),
                 qPrintable(environment->messages.texts().join('|')));
        QCOMPARE(fresh.clipList.count, 1);
        QCOMPARE(fresh.clipList[0].fileName, spaced);
        QCOMPARE(fresh.clipList[0].duration, 3 * kSecond);
        QCOMPARE(fresh.outputSettings.sourceWidth, 160);
        QVERIFY(currentPlayer && currentPlayer->clipName == spaced);
        QVERIFY(currentPlayer->windowCaption().startsWith(platform::FileNameOf(spaced)));
        QCOMPARE(TakeSnapshot(fresh).lastFolder, QFileInfo(spaced).absolutePath() + '/');

        // Exactly as long as a stored name may be: opens.
        const QString longest = files->clipWithPathLength(platform::kMaxPathLength);
        QCOMPARE(longest.size(), platform::kMaxPathLength);
        QVERIFY(OpenThroughDialog(fresh, *environment, longest) >= 0);
        QVERIFY2(environment->messages.boxes.isEmpty(),
                 qPrintable(environment->messages.texts().join('|')));
        QCOMPARE(fresh.clipList[0].fileName, longest);
        QVERIFY(currentPlayer && currentPlayer->clipName == longest);

        // One character more, of a file that really exists: refused before anything changes.
        const QString tooLong = files->clipWithPathLength(platform::kMaxPathLength + 1);
        QCOMPARE(tooLong.size(), platform::kMaxPathLength + 1);
        const DialogSnapshot before = TakeSnapshot(fresh);
        QVERIFY(OpenThroughDialog(fresh, *environment, tooLong) >= 0);
        QCOMPARE(environment->messages.boxes.size(), 1);
        QVERIFY(environment->messages.boxes[0].text.contains(QStringLiteral("too long")));
        const DialogSnapshot after = TakeSnapshot(fresh);
        QVERIFY2(after == before, qPrintable(before.differences(after)));
    }

    // The media seam itself never hands GStreamer a pipe, a folder or nothing: its file source
    // would wait in open() beyond any time limit. Both the probe and the player answer at once.
    void mediaSeamRefusesWhatIsNotAFile() {
        for (const QString& path :
             {files->namedPipe(), files->folderNamedAvi(), files->missing()}) {
            QElapsedTimer clock;
            clock.start();
            const media::ProbeResult probe = media::ProbeMediaFile(path.toStdString());
            QVERIFY2(FAILED(probe.status), qPrintable(path));
            QVERIFY(!probe.errorText.empty());

            media::PlaybackSession session;
            QVERIFY(SUCCEEDED(session.Create()));
            QVERIFY2(FAILED(session.RenderFile(path.toStdString())), qPrintable(path));
            QVERIFY2(clock.elapsed() < 1000, qPrintable(QString::number(clock.elapsed())));
        }
    }

    // A file cut short opens with what it holds: its length is what can be played, and the
    // player stands at its first picture.
    void truncatedFilesOpenWithWhatTheyHold() {
        ConverterDialog fresh;
        for (const QString& path : {files->truncatedProgramStream(), files->truncatedAvi()}) {
            QVERIFY(!path.isEmpty());
            environment->messages.clear();
            const qint64 took = OpenThroughDialog(fresh, *environment, path);
            QVERIFY(took >= 0 && took < kOpenBoundMs);
            QVERIFY2(environment->messages.boxes.isEmpty(),
                     qPrintable(path + ": " + environment->messages.texts().join('|')));
            QCOMPARE(fresh.clipList.count, 1);
            QCOMPARE(fresh.clipList[0].fileName, path);
            // 40% of 4 s: one whole second at least, never more than the uncut file.
            QVERIFY2(
                fresh.clipList[0].duration >= kSecond && fresh.clipList[0].duration <= 4 * kSecond,
                qPrintable(QString::number(fresh.clipList[0].duration)));
            QCOMPARE(fresh.endMark, fresh.clipList[0].duration);
            QVERIFY(currentPlayer && currentPlayer->playState == Stopped);
        }
    }
};

FRAMEWELL_TEST_MAIN(BadInputOpenTest)
#include "test_bad_input_open.moc"
