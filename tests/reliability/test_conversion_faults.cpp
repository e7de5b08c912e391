// Convert in the main dialog when things go wrong around it: marks that make no span, outputs
// that cannot be written, a disk that fills up, a source that changes under the conversion,
// Stop at the first and the last moment, Convert pressed twice, the window closed while it
// runs. Each ends with a clear message or a finished file, never "Done." for a failure, and
// with the dialog ready for the next conversion.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QLabel>
#include <QProgressBar>
#include <QThread>

#include <sys/stat.h>
#include <unistd.h>

#include <cmath>
#include <memory>

#include "app/converter_dialog.h"
#include "app/source_player.h"
#include "controls/hover_button.h"
#include "engine/conversion_engine.h"
#include "media/session/render_session.h"
#include "player/preview_player.h"
#include "support/avi_checks.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/scratch_mount.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::ChangeOutput;
using testing_support::DialogControl;
using testing_support::Press;

using testing_support::ClipSpec;
using testing_support::FinishedFrames;
using testing_support::MakeClip;
using testing_support::ScratchMount;
using testing_support::TestEnvironment;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

}  // namespace

class ConversionFaultTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<ConverterDialog> dialog;
    QString shortClip;  // 3 s
    QString longClip;   // 60 s

    QString scratch(const QString& name) const { return environment->scratchPath(name); }
    QString status() const {
        return DialogControl<QLabel>(*dialog, MainDialogIds::kStatusLine)->text();
    }
    bool done() const { return status().startsWith(QStringLiteral("Done.")); }
    QString messages() const { return environment->messages.texts().join('|'); }

    // Open Video on path, as the user does it; the output goes to output.
    void open(const QString& path, const QString& output) {
        environment->files.openAnswers.push_back(path);
        Press(*dialog, MainDialogIds::kOpenVideo);
        QVERIFY(QTest::qWaitFor([this] { return !dialog->isOpeningVideo(); }, 30000));
        QCOMPARE(dialog->videoClips().count, 1);
        ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.outputName = output; });
        environment->messages.clear();
    }

    bool waitUntilRunning() {
        return QTest::qWaitFor([this] { return dialog->isConverting(); }, 30000);
    }
    bool waitUntilPast(ReferenceTime position) {
        return QTest::qWaitFor(
            [=, this] {
                return dialog->conversion() &&
                       dialog->conversion()->Position().value_or(0) > position;
            },
            30000);
    }

    // Until the conversion is over one way or another: the dialog idle and nothing set up.
    bool waitUntilIdle(int timeoutMs = 60000) {
        return QTest::qWaitFor(
            [this] {
                return !dialog->isConverting() &&
                       DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert)->isEnabled() &&
                       !(dialog->conversion() && dialog->conversion()->SettingUp());
            },
            timeoutMs);
    }

    // Ready for the next conversion: idle, the caption back, no timer, and the pipeline of the
    // conversion that ended gone with every element and buffer it held.
    void verifyUsable() {
        QVERIFY(!dialog->isConverting());
        QCOMPARE(DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert)->text(),
                 QStringLiteral("Convert"));
        QVERIFY(DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert)->isEnabled());
        QVERIFY(!dialog->isCountingTime());
        QVERIFY2(QTest::qWaitFor([] { return media::LiveRenderPipelines() == 0; }, 10000),
                 qPrintable(QString::number(media::LiveRenderPipelines())));
    }

    // A failure said so in a box and in the status line, and nothing claims success.
    void verifyFailureReported(int boxesBefore) {
        QVERIFY2(environment->messages.boxes.size() > boxesBefore, qPrintable(messages()));
        QVERIFY2(!done(), qPrintable(status()));
        for (const QString& text : environment->messages.texts())
            QVERIFY2(!text.trimmed().isEmpty(), "an empty message box");
    }

    // A quick conversion that works, to show the dialog is not stuck after a fault.
    void verifyNextConversionWorks() {
        const QString output = scratch(QStringLiteral("afterwards.avi"));
        QFile::remove(output);
        ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.outputName = output; });
        dialog->SetMarks({0, kSecond});
        environment->messages.clear();
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitUntilIdle());
        QVERIFY2(done(), qPrintable(status()));
        QVERIFY2(environment->messages.boxes.isEmpty(), qPrintable(messages()));
        verifyUsable();
        QCOMPARE(FinishedFrames(output),
                 static_cast<int>(std::ceil(dialog->settings().outputFrameRate)));
    }

private slots:
    void initTestCase() {
        ClipSpec spec;
        spec.seconds = 3.0;
        shortClip = MakeClip(spec);
        spec.seconds = 60.0;
        longClip = MakeClip(spec);
        QVERIFY(!shortClip.isEmpty() && !longClip.isEmpty());
    }

    void init() {
        environment = std::make_unique<TestEnvironment>();
        dialog = std::make_unique<ConverterDialog>();
        dialog->show();
        QVERIFY2(dialog->settings().videoCompressionOn, "a video compressor is chosen");
    }

    void cleanup() {
        dialog.reset();
        environment.reset();
    }

    // An end before the start, or on it, converts nothing: one clear message, and no question
    // about the existing output, which stays as it was.
    void marksWithoutASpanAreRefused() {
        const QString existing = scratch(QStringLiteral("earlier.avi"));
        {
            QFile file(existing);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("an earlier conversion");
        }
        open(shortClip, existing);
        for (ReferenceTime end : {1 * kSecond, 2 * kSecond}) {
            dialog->SetMarks({2 * kSecond, end});
            environment->messages.clear();
            const QString summary = status();
            Press(*dialog, MainDialogIds::kConvert);
            QCOMPARE(environment->messages.boxes.size(), 1);
            const platform::BoxRequest& box = environment->messages.boxes.first();
            QVERIFY2(box.text.contains(QStringLiteral("End Time")) &&
                         box.text.contains(QStringLiteral("Start Time")),
                     qPrintable(box.text));
            QCOMPARE(box.caption, QStringLiteral("Error"));
            QVERIFY(box.owner == dialog.get());
            QVERIFY(!dialog->conversion());
            QCOMPARE(status(), summary);
            verifyUsable();
        }
        QFile file(existing);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("an earlier conversion"));
        // The marks themselves are the user's and stay as set.
        QCOMPARE(dialog->marks().start, 2 * kSecond);
    }

    // Outputs that cannot be written: a missing folder, a read-only folder, a folder in place
    // of the file. A clear message, no "Done.", nothing left behind, and the next conversion
    // works.
    void unwritableOutputsFailClearly() {
        open(shortClip, QString());
        dialog->SetMarks({0, kSecond});

        const QString readOnlyFolder = scratch(QStringLiteral("read-only"));
        std::unique_ptr<ScratchMount> readOnlyMount;
        if (::geteuid() == 0) {
            // Root writes into any folder whatever its mode; a read-only mount stops it.
            readOnlyMount = std::make_unique<ScratchMount>(readOnlyFolder, 1 << 20, true);
        } else {
            QDir().mkpath(readOnlyFolder);
            ::chmod(QFile::encodeName(readOnlyFolder).constData(), 0555);
        }
        const QString readOnlyFailure = readOnlyMount ? readOnlyMount->failure : QString();

        const QString folderAsOutput = scratch(QStringLiteral("a folder.avi"));
        const QString kept = folderAsOutput + QStringLiteral("/keep.txt");
        QVERIFY(QDir().mkpath(folderAsOutput) && QFile(kept).open(QIODevice::WriteOnly));

        QStringList outputs{scratch(QStringLiteral("no such folder/out.avi")), folderAsOutput};
        if (readOnlyFailure.isEmpty()) outputs << readOnlyFolder + QStringLiteral("/out.avi");
        for (const QString& output : outputs) {
            ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.outputName = output; });
            environment->messages.clear();
            Press(*dialog, MainDialogIds::kConvert);
            QVERIFY2(waitUntilIdle(), qPrintable(output));
            verifyFailureReported(0);
            verifyUsable();
            QVERIFY2(!QFileInfo(output).isFile(), qPrintable(output));
        }
        // The folder that stood where the file was to go is still there, with what it held.
        QVERIFY(QFileInfo::exists(kept));

        verifyNextConversionWorks();
        if (!readOnlyFailure.isEmpty())
            QSKIP(qPrintable(QStringLiteral("read-only folder not checked: ") + readOnlyFailure));
    }

    // The disk fills up during the conversion: the failure is reported, not "Done.".
    void fullDiskEndsInFailure() {
        ScratchMount disk(scratch(QStringLiteral("small disk")), 512 * 1024);
        if (!disk.failure.isEmpty()) QSKIP(qPrintable(disk.failure));
        open(shortClip, disk.folder + QStringLiteral("/full.avi"));
        // Raw video: a few frames fill half a megabyte.
        ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.videoCompressionOn = 0; });
        Press(*dialog, MainDialogIds::kConvert);  // the no-compressor warning is answered Yes
        QVERIFY(waitUntilIdle());
        verifyFailureReported(1);
        QVERIFY2(status().startsWith(QStringLiteral("Conversion failed.")), qPrintable(status()));
        // The progress goes with the failure.
        QVERIFY(!DialogControl<QProgressBar>(*dialog, MainDialogIds::kProgressBar)->isVisible());
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Framewell"));
        verifyUsable();
        ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.videoCompressionOn = 1; });
        verifyNextConversionWorks();
    }

    // The source is deleted, or cut short, while it is being converted. Either way the
    // conversion ends: with a finished file or with a failure said as such.
    void sourceChangingUnderTheConversion() {
        for (const bool truncate : {false, true}) {
            const QString source = scratch(QStringLiteral("changing source.avi"));
            QFile::remove(source);
            QVERIFY(QFile::copy(longClip, source));
            const QString output = scratch(QStringLiteral("from a changing source.avi"));
            QFile::remove(output);
            open(source, output);
            ChangeOutput(*dialog, [&](OutputSettings& settings) {
                settings.videoCompressionOn = 0;
            });  // slower, so it is caught running
            Press(*dialog, MainDialogIds::kConvert);
            QVERIFY(waitUntilRunning());
            const int boxes = environment->messages.boxes.size();
            QVERIFY(waitUntilPast(0));
            if (truncate)
                QVERIFY(QFile::resize(source, QFileInfo(source).size() / 5));
            else
                QVERIFY(QFile::remove(source));
            QVERIFY(waitUntilIdle(120000));
            verifyUsable();
            if (done()) {
                QVERIFY2(FinishedFrames(output) >= 0, qPrintable(output));
            } else {
                verifyFailureReported(boxes);
                QVERIFY2(status().startsWith(QStringLiteral("Conversion failed.")),
                         qPrintable(status()));
            }
            dialog.reset();
            dialog = std::make_unique<ConverterDialog>();
            dialog->show();
        }
    }

    // Stop at the first moment the button reads "Stop", and Stop when the last frame is
    // already written: both end with "Done." and a finished file, once.
    void stopAtOnceAndAtTheVeryEnd() {
        const QString atOnce = scratch(QStringLiteral("stopped at once.avi"));
        open(longClip, atOnce);
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitUntilRunning());
        Press(*dialog, MainDialogIds::kConvert);  // Stop
        QVERIFY(waitUntilIdle());
        QVERIFY2(done(), qPrintable(status()));
        verifyUsable();
        const int first = FinishedFrames(atOnce);
        QVERIFY2(first >= 0 && first < 1500, qPrintable(QString::number(first)));

        const QString atTheEnd = scratch(QStringLiteral("stopped at the end.avi"));
        ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.outputName = atTheEnd; });
        dialog->SetMarks({0, 2 * kSecond});
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitUntilRunning());
        // Without delivering events, so that the completion waits in the queue when Stop comes.
        QElapsedTimer clock;
        clock.start();
        while (dialog->conversion() && dialog->conversion()->Position().value_or(0) < 2 * kSecond &&
               clock.elapsed() < 30000)
            QThread::msleep(2);
        QThread::msleep(50);
        Press(*dialog, MainDialogIds::kConvert);  // Stop
        QVERIFY(waitUntilIdle());
        QVERIFY2(done(), qPrintable(status()));
        verifyUsable();
        const int last = FinishedFrames(atTheEnd);
        QVERIFY2(last >= 45 && last <= 50, qPrintable(QString::number(last)));
        QVERIFY2(environment->messages.boxes.isEmpty(), qPrintable(messages()));
    }

    // Two quick presses start one conversion; two quick presses of Stop stop it once; the
    // next conversion starts as usual.
    void convertPressedTwiceQuickly() {
        const QString output = scratch(QStringLiteral("pressed twice.avi"));
        open(longClip, output);
        QTest::mouseClick(DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert),
                          Qt::LeftButton);
        QTest::mouseClick(DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert),
                          Qt::LeftButton);
        QVERIFY(waitUntilRunning());
        QCOMPARE(DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert)->text(),
                 QStringLiteral("Stop"));
        QVERIFY(waitUntilPast(kSecond));
        QTest::mouseClick(DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert),
                          Qt::LeftButton);
        QTest::mouseClick(DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert),
                          Qt::LeftButton);
        QVERIFY(waitUntilIdle());
        QVERIFY2(done(), qPrintable(status()));
        verifyUsable();
        QVERIFY(FinishedFrames(output) >= 0);
        QVERIFY2(environment->messages.boxes.isEmpty(), qPrintable(messages()));
        verifyNextConversionWorks();
    }

    // The close box is refused while converting, and the conversion goes on to its end. Exit
    // while converting ends the dialog; the file written so far is finished, not left broken.
    void closingTheWindowDuringAConversion() {
        const QString output = scratch(QStringLiteral("closed during.avi"));
        open(shortClip, output);
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitUntilRunning());
        QVERIFY(!dialog->close());
        QCOMPARE(environment->messages.texts(),
                 QStringList{QStringLiteral("Please first stop Convert")});
        QVERIFY(dialog->isVisible());
        QVERIFY(waitUntilIdle());
        QVERIFY2(done(), qPrintable(status()));
        QCOMPARE(FinishedFrames(output),
                 static_cast<int>(std::ceil(3 * dialog->settings().outputFrameRate)));

        const QString exited = scratch(QStringLiteral("exit during.avi"));
        open(longClip, exited);
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitUntilRunning());
        QVERIFY(waitUntilPast(kSecond));
        DialogControl<HoverButton>(*dialog, MainDialogIds::kExit)
            ->click();  // Exit: the dialog ends at once
        QVERIFY(!dialog->isVisible());
        dialog.reset();
        const int frames = FinishedFrames(exited);
        QVERIFY2(frames >= 25, qPrintable(QString::number(frames)));
    }
};

FRAMEWELL_TEST_MAIN(ConversionFaultTest)
#include "test_conversion_faults.moc"
