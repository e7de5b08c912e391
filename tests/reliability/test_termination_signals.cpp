// SIGINT, SIGTERM and SIGHUP end a conversion the way Stop does. framewell-convert finishes
// the file written so far, says that it stopped and where, and exits 130, 143 or 129; a signal
// while it starts up ends it before anything is written (an earlier file stays as it was) or
// stops the conversion as soon as it runs. In the main dialog a SIGTERM (a logout) ends the
// dialog as Exit does, the file finished. A second signal of the same kind ends a program at
// once.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include "app/converter_dialog.h"
#include "engine/conversion_engine.h"
#include "media/render/output_file.h"
#include "platform/termination_signals.h"
#include "support/avi_checks.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kEarlier = QByteArrayLiteral("an earlier conversion");
bool HiddenFilesIn(const QString& folder) {
    return !QDir(folder).entryList({u".*.part"_s}, QDir::Files | QDir::Hidden).isEmpty();
}

// Whether a process has its own handler for a signal (the kernel's SigCgt mask).
bool CatchesSignal(pid_t pid, int signalNumber) {
    QFile status(u"/proc/%1/status"_s.arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (!line.startsWith("SigCgt:")) continue;
        bool ok = false;
        const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
        return ok && (mask >> (signalNumber - 1)) & 1;
    }
    return false;
}

// A finished file of the stop: an index that counts every frame, pictures, and sound that
// ends with the picture, within a frame.
void VerifyFinishedAndTogether(const QString& path, double framesPerSecond) {
    const int frames = FinishedFrames(path);
    QVERIFY2(frames > 0, qPrintable(path));
    const double picture = frames / framesPerSecond;
    const double sound = DecodedAudioSeconds(path);
    const double frame = 1.0 / framesPerSecond;
    QVERIFY2(sound >= picture - frame - 0.05 && sound <= picture + frame + 0.05,
             qPrintable(u"picture %1 s, sound %2 s"_s.arg(picture).arg(sound)));
}

}  // namespace

class TerminationSignalsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> environment;
    QString clip;  // 60 s, 160x120, 25 fps; converted to 1080p it takes many seconds

    // framewell-convert over an earlier output, given the signal while it starts up (once it
    // catches the signal: before that the signal's default would end it, as any program) or
    // once it writes (its hidden output file is there). Anchored to what the program shows,
    // not to a delay, so that a slow machine or a sanitizer build hits the same moment.
    QProcess* startConversion(const QString& output, bool whileWriting, int signalNumber) {
        auto* process = new QProcess(this);
        // Compressors named outright: no trial of the catalogue speaks up on standard error.
        process->start(
            QStringLiteral(FRAMEWELL_CONVERT_PATH),
            {u"--quiet"_s, u"--overwrite"_s, u"--size"_s, u"1920x1080"_s, u"--video-compressor"_s,
             u"avenc_mpeg4"_s, u"--audio-compressor"_s, u"none"_s, clip, output});
        if (!process->waitForStarted()) return process;
        const auto pid = static_cast<pid_t>(process->processId());
        if (!QTest::qWaitFor([&] { return CatchesSignal(pid, signalNumber); }, 30000))
            return process;
        if (whileWriting &&
            !QTest::qWaitFor([&] { return HiddenFilesIn(QFileInfo(output).absolutePath()); },
                             60000))
            return process;
        QTest::qWait(100);
        ::kill(pid, signalNumber);
        return process;
    }

private slots:
    void initTestCase() {
        environment = std::make_unique<TestEnvironment>();
        qputenv("XDG_CONFIG_HOME", environment->settingsFolder().toLocal8Bit());
        ClipSpec spec;
        spec.seconds = 60.0;
        clip = MakeClip(spec);
        QVERIFY(!clip.isEmpty());
        // For the dialog's test: this process hears its own signal as the program does.
        platform::InstallTerminationHandlers();
    }

    void cleanupTestCase() { environment.reset(); }

    void eachSignalStopsLikeStop_data() {
        QTest::addColumn<int>("signalNumber");
        QTest::addColumn<bool>("whileWriting");
        for (const auto& [name, number] :
             {std::pair{"SIGINT", SIGINT}, {"SIGTERM", SIGTERM}, {"SIGHUP", SIGHUP}}) {
            for (bool whileWriting : {false, true})
                QTest::addRow("%s while %s", name, whileWriting ? "writing" : "starting")
                    << number << whileWriting;
        }
    }

    void eachSignalStopsLikeStop() {
        QFETCH(int, signalNumber);
        QFETCH(bool, whileWriting);
        const QString output =
            environment->scratchPath(u"stopped by %1 %2.avi"_s.arg(signalNumber).arg(whileWriting));
        QVERIFY(WriteFile(output, kEarlier));
        QProcess* process = startConversion(output, whileWriting, signalNumber);
        QVERIFY(process->waitForFinished(30000));
        const QString errors = QString::fromUtf8(process->readAllStandardError());
        QCOMPARE(process->exitStatus(), QProcess::NormalExit);
        QCOMPARE(process->exitCode(), 128 + signalNumber);
        const QString name = platform::SignalName(signalNumber);

        if (errors.contains(u"before the conversion began"_s)) {
            // Still looking at its input: nothing written, the earlier file as it was.
            QVERIFY2(!whileWriting, qPrintable(errors));
            QCOMPARE(errors,
                     u"framewell-convert: stopped by %1 before the conversion began; %2 "
                     "is as it was\n"_s.arg(name, output));
            QCOMPARE(ReadFile(output), kEarlier);
        } else {
            static const QRegularExpression stopped(
                u"^Stopping...\nframewell-convert: stopped by (\\w+) at (\\d\\d:\\d\\d:[0-9.]+) of "
                "00:01:00.000; (.+) holds what was converted up to there\n$"_s);
            const QRegularExpressionMatch match = stopped.match(errors);
            QVERIFY2(match.hasMatch(), qPrintable(errors));
            QCOMPARE(match.captured(1), name);
            QCOMPARE(match.captured(3), output);
            VerifyFinishedAndTogether(output, 25.0);
            // Stopped, not run to its end: fewer frames than the whole minute.
            QVERIFY(FinishedFrames(output) < 1500);
        }
        QVERIFY(!HiddenFilesIn(QFileInfo(output).absolutePath()));
    }

    // A logout sends SIGTERM: the dialog ends as Exit ends it, and the conversion's file is
    // finished and in place of the earlier one.
    void theDialogFinishesTheFileOnSigterm() {
        const QString output = environment->scratchPath(u"dialog logout.avi"_s);
        QVERIFY(WriteFile(output, kEarlier));
        auto dialog = std::make_unique<ConverterDialog>();
        dialog->show();
        environment->files.openAnswers.push_back(clip);
        Press(*dialog, MainDialogIds::kOpenVideo);
        QVERIFY(QTest::qWaitFor([&] { return !dialog->isOpeningVideo(); }, 30000));
        ChangeOutput(*dialog, [&](OutputSettings& settings) {
            settings.outputName = output;
            settings.outputWidth = 1280;
            settings.outputHeight = 720;
            settings.frameRateIndex = 3;
            settings.outputFrameRate = 25.0;
        });
        Press(*dialog, MainDialogIds::kConvert);  // the replace question is answered Yes
        QVERIFY(QTest::qWaitFor(
            [&] {
                return dialog->conversion() && dialog->conversion()->Position().value_or(0) > 0;
            },
            30000));
        ::kill(::getpid(), SIGTERM);
        QVERIFY(QTest::qWaitFor([&] { return !dialog->isVisible(); }, 5000));
        dialog.reset();
        VerifyFinishedAndTogether(output, 25.0);
        QVERIFY(!HiddenFilesIn(QFileInfo(output).absolutePath()));
    }

    // Asked twice, a program ends at once, by the signal itself, and leaves no hidden file of
    // an unfinished output. In a child of this process, whose handlers it inherits, so that
    // both signals surely arrive while it runs. Last: the child's first signal leaves its
    // byte for this process's next listener.
    void aSecondSignalEndsAtOnce() {
        const QString output = environment->scratchPath(u"asked twice.avi"_s);
        QVERIFY(WriteFile(output, kEarlier));
        const pid_t child = ::fork();
        if (child == 0) {
            media::UnfinishedOutput unfinished;
            std::string problem;
            if (!unfinished.Reserve(QFile::encodeName(output).toStdString(), &problem)) ::_exit(3);
            ::raise(SIGINT);  // remembered, to be acted on by the event loop
            ::raise(SIGINT);  // ends the program here
            ::_exit(0);
        }
        int status = 0;
        QCOMPARE(::waitpid(child, &status, 0), child);
        QVERIFY2(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT,
                 qPrintable(QString::number(status)));
        QCOMPARE(ReadFile(output), kEarlier);
        QVERIFY(!HiddenFilesIn(QFileInfo(output).absolutePath()));
    }
};

FRAMEWELL_TEST_MAIN(TerminationSignalsTest)
#include "test_termination_signals.moc"
