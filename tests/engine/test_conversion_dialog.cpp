// Convert, Stop and the end of a conversion as the user sees them in the main dialog: the
// questions, the button's caption, the status line and the written file.

#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QtTest>

#include "app/converter_dialog.h"
#include "app/source_player.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "controls/hover_button.h"
#include "conversion_runner.h"
#include "platform/settings_store.h"
#include "settings/compressor_catalogue.h"
#include "settings/output_options_dialog.h"
#include "support/avi_checks.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/modal_driver.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;
using platform::BoxAnswer;
using platform::BoxButtons;

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

class ConversionDialogTest : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<ConverterDialog> dialog;
    QString shortClip;  // 3 s
    QString longClip;   // 60 s

    // Open Video, the marks and the output file.
    void open(const QString& path, ReferenceTime start, ReferenceTime end, const QString& output) {
        QVERIFY(OpenVideoAndWait(*dialog, path));
        QCOMPARE(dialog->videoClips().count, 1);
        dialog->SetMarks({start, end});
        ChangeOutput(*dialog, [&](OutputSettings& settings) {
            settings.outputName = output;
            settings.outputFrameRate = 25.0;  // the clips' own
        });
    }
    QString status() const {
        return DialogControl<QLabel>(*dialog, MainDialogIds::kStatusLine)->text();
    }
    QString caption() const {
        return DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert)->text();
    }
    // Ready for the next Convert; released: the graph and the timeline are let go too (a set-up
    // failure keeps them until the next Convert).
    bool idle(bool released = true) const {
        return !dialog->isConverting() && caption() == u"Convert"_s && !dialog->isCountingTime() &&
               (!released || !dialog->conversion());
    }
    bool waitUntilRunning() {
        return QTest::qWaitFor([this] { return dialog->isConverting(); }, 30000);
    }
    bool waitUntilConverted(ReferenceTime span) {
        return QTest::qWaitFor(
            [&] {
                return dialog->conversion() && dialog->conversion()->Position().value_or(0) >= span;
            },
            30000);
    }
    bool waitForStatus(const QString& start) {
        return QTest::qWaitFor([&] { return status().startsWith(start); }, 60000);
    }

private slots:
    void initTestCase() {
        ClipSpec spec;
        shortClip = MakeClip(spec);
        spec.seconds = 60.0;
        longClip = MakeClip(spec);
        QVERIFY(!shortClip.isEmpty() && !longClip.isEmpty());
    }

    void init() {
        environment = std::make_unique<TestEnvironment>();
        dialog = std::make_unique<ConverterDialog>();
        dialog->show();
        environment->messages.clear();
    }

    void cleanup() {
        dialog.reset();
        environment.reset();
    }

    void aRefusedConvertChangesNothing() {
        // Without a clip Convert cannot be pressed.
        QVERIFY(!DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert)->isEnabled());
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(environment->messages.boxes.isEmpty());
        QVERIFY(idle());

        // An existing output file, and the answer No: it stays, nothing is built.
        const QString output = environment->scratchPath(u"existing.avi"_s);
        QFile file(output);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep me") == 7);
        file.close();
        open(shortClip, 0, kSecond, output);
        environment->messages.clear();
        environment->messages.answers = {BoxAnswer::No};
        Press(*dialog, MainDialogIds::kConvert);
        QCOMPARE(environment->messages.boxes.size(), 1);
        const platform::BoxRequest question = environment->messages.boxes.first();
        QCOMPARE(question.text, output + u" exists. Do you want to replace it?"_s);
        QCOMPARE(question.buttons, BoxButtons::YesNo);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), QByteArray("keep me"));
        QVERIFY(idle());

        // No video compressor, and the answer No to the warning.
        environment->messages.clear();
        ChangeOutput(*dialog, [&](OutputSettings& settings) {
            settings.outputName = environment->scratchPath(u"new.avi"_s);
            settings.videoCompressionOn = 0;
        });
        environment->messages.answers = {BoxAnswer::No};
        Press(*dialog, MainDialogIds::kConvert);
        QCOMPARE(environment->messages.boxes.size(), 1);
        const platform::BoxRequest warning = environment->messages.boxes.first();
        QVERIFY(warning.text.startsWith(u"You do not select a video compressor in Options"_s));
        QVERIFY(warning.text.endsWith(u"\nDo you want to continue?"_s));
        QCOMPARE(warning.buttons, BoxButtons::YesNo);
        QVERIFY(idle() && !QFile::exists(dialog->settings().outputName));

        // The output is the video being converted: no question whether to replace it.
        environment->messages.clear();
        const QString copy = environment->scratchPath(u"source.avi"_s);
        QVERIFY(QFile::copy(shortClip, copy));
        open(copy, 0, kSecond, copy);
        Press(*dialog, MainDialogIds::kConvert);
        QCOMPARE(environment->messages.boxes.size(), 1);
        QVERIFY(environment->messages.texts().first().startsWith(
            u"The output file is the video being converted."_s));
        QCOMPARE(QFileInfo(copy).size(), QFileInfo(shortClip).size());
        QVERIFY(idle());
    }

    void aConversionRunsAndReportsDone() {
        const auto& compressor = dialog->settings().videoCompressor;
        QVERIFY2(compressor && compressor->factoryName == "avenc_mpeg4",
                 "the default search finds the DivX compatible encoder");
        const QString output = environment->scratchPath(u"done.avi"_s);
        open(shortClip, kSecond, 3 * kSecond, output);
        auto* convert = DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert);
        dialog->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(dialog.get()));
        convert->setFocus();
        QTest::keyClick(convert, Qt::Key_Space);
        Press(*dialog,
              MainDialogIds::kConvert);  // pressed again while the graph is being set up: ignored
        QVERIFY(!convert->isEnabled());
        QVERIFY(waitUntilRunning());
        QCOMPARE(caption(), u"Stop"_s);
        QVERIFY(convert->isEnabled() && dialog->isCountingTime());
        // The keys stay with the button that now reads Stop.
        QCOMPARE(QApplication::focusWidget(), convert);

        QVERIFY(waitForStatus(u"Done."_s));
        QVERIFY2(status().startsWith(u"Done. Output File: %1 ("_s.arg(output)) &&
                     status().endsWith(u"     Resolution: 160*120"_s),
                 qPrintable(status()));
        SaveScreenshot(dialog.get(), u"conversion_done"_s);
        QVERIFY(idle());
        QVERIFY(environment->messages.boxes.isEmpty());
        QVERIFY2(StreamSummary(output).startsWith(u"mpeg4 DIVX yuv420p 160x120 25/1 50 frames"_s),
                 qPrintable(StreamSummary(output)));
    }

    // Stop during a conversion, after the video window was closed: Stop stays enabled, the
    // file written so far comes out finished and is the one named, and Convert is disabled
    // afterwards, with no clip left to convert.
    void stopFinishesAPlayableFile() {
        const QString output = environment->scratchPath(u"stopped.avi"_s);
        open(longClip, 0, 60 * kSecond, output);
        ChangeOutput(*dialog, [&](OutputSettings& settings) {
            settings.videoCompressionOn = 0;
        });  // raw, and the warning answered Yes
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitUntilRunning());
        QVERIFY(waitUntilConverted(3 * kSecond));
        auto* convert = DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert);
        QVERIFY(!currentPlayer->m_hWnd->close());
        QCoreApplication::sendPostedEvents(dialog.get());
        QCOMPARE(dialog->videoClips().count, 0);
        QVERIFY(convert->isEnabled() && caption() == u"Stop"_s);
        dialog->close();  // refused: the user is told to press Stop, which is there
        QVERIFY(dialog->isVisible());
        Press(*dialog, MainDialogIds::kConvert);  // Stop
        QVERIFY(!dialog->isCountingTime());
        QVERIFY(waitForStatus(u"Done."_s));
        QVERIFY2(status().startsWith(u"Done. Output File: "_s + output + u" ("_s),
                 qPrintable(status()));
        QVERIFY(idle() && !convert->isEnabled());
        const int frames = CountVideoFrames(output);
        QVERIFY2(frames >= 75 && frames < 1500, qPrintable(QString::number(frames)));
        // The index was written, and the last frame decodes to the right picture.
        QCOMPARE(StreamOf(Probe(output), u"video"_s).value("nb_frames").toString(),
                 QString::number(frames));
        QCOMPARE(SourceFrameAt(output, frames - 1), std::optional<int>((frames - 1) % 256));
        // Only the compressor warning and the refused close.
        QCOMPARE(environment->messages.texts().last(), u"Please first stop Convert"_s);
        QCOMPARE(environment->messages.boxes.size(), 2);
        // The sound, rendered far ahead of the pictures, ends with them.
        QString why;
        QVERIFY2(SoundFitsPictures(output, &why), qPrintable(why));
    }

    // Options' OK names another file while a conversion runs: the running graph goes on
    // writing the file it was built with, and "Done." names that one, with its size.
    void doneNamesTheFileWritten() {
        const QString output = environment->scratchPath(u"written.avi"_s);
        open(shortClip, 0, 3 * kSecond, output);
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitUntilRunning());
        const QString next = environment->scratchPath(u"next.avi"_s);
        ModalDriver options([&](QDialog* box) {
            auto* optionsDialog = qobject_cast<OutputOptionsDialog*>(box);
            QVERIFY(optionsDialog);
            optionsDialog->outputFileBox->setText(next);
            platform::Control<QPushButton>(optionsDialog, OutputOptionsIds::kOk)->click();
        });
        Press(*dialog, MainDialogIds::kOptions);
        QVERIFY(options.ran());
        QCOMPARE(dialog->settings().outputName, next);
        QVERIFY(waitForStatus(u"Done."_s));
        const QString size = QLocale::system().formattedDataSize(QFileInfo(output).size(), 1,
                                                                QLocale::DataSizeSIFormat);
        QCOMPARE(status(),
                 u"Done. Output File: %1 (%2)     Resolution: 160*120"_s.arg(output, size));
        QVERIFY(!QFile::exists(next));
    }

    // Exit while converting: the dialog goes, the file written so far is finished, and its
    // sound ends with its pictures.
    void exitDuringAConversionFinishesTheFile() {
        const QString output = environment->scratchPath(u"exited.avi"_s);
        open(longClip, 0, 60 * kSecond, output);
        ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.videoCompressionOn = 0; });
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitUntilRunning());
        QVERIFY(waitUntilConverted(3 * kSecond));
        dialog.reset();
        const int frames = CountVideoFrames(output);
        QVERIFY2(frames >= 75 && frames < 1500, qPrintable(QString::number(frames)));
        QString why;
        QVERIFY2(SoundFitsPictures(output, &why), qPrintable(why));
    }

    void anUnwritableFolderIsNoSuccess() {
        open(shortClip, 0, kSecond, u"/proc/framewell-no-such-folder/out.avi"_s);
        const QString summary = status();
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(QTest::qWaitFor([this] { return environment->messages.boxes.size() >= 2; }, 30000));
        QCOMPARE(environment->messages.texts().value(0), u"can not pControl->Run()!!!"_s);
        QVERIFY(!environment->messages.texts().value(1).isEmpty());
        QVERIFY(idle(false) &&
                DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert)->isEnabled());
        QCOMPARE(status(), summary);
    }

    // Direct stream copy as the dialog runs it: exact from the marked picture on, the pictures
    // before the first key frame encoded again, and "Done." says so; what it cannot do is
    // refused with the reason.
    void aCopyIsExactRefusesAndNamesWhatItDid() {
        ClipSpec spec;
        spec.extraArguments = {u"-g"_s, u"25"_s, u"-sc_threshold"_s, u"1000000000"_s};
        const QString clip = MakeClip(spec);
        QVERIFY(!clip.isEmpty());
        const QString output = environment->scratchPath(u"copy.avi"_s);
        open(clip, 33 * kSecond / 25, 65 * kSecond / 25, output);  // pictures 33 to 64
        ChangeOutput(*dialog, [&](OutputSettings& settings) {
            settings.videoCompressor = StreamCopyCompressor(media::EncoderKind::Video);
            settings.audioCompressor = StreamCopyCompressor(media::EncoderKind::Audio);
            settings.videoCompressionOn = settings.audioCompressionOn = 1;
        });

        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(waitForStatus(u"Done."_s));
        QVERIFY(environment->messages.boxes.isEmpty());
        QVERIFY2(status().startsWith(u"Done. Output File: "_s + output + u" ("_s) &&
                     status().endsWith(u"     Resolution: 160*120     MPEG-4 Part 2 video and "
                                       "PCM sound copied, the 17 pictures before the first key "
                                       "frame encoded again"_s),
                 qPrintable(status()));
        QCOMPARE(StreamSummary(output),
                 u"mpeg4 DIVX yuv420p 160x120 25/1 32 frames | pcm_s16le "
                 "44100 Hz 2 ch"_s);
        QCOMPARE(SourceFrameAt(output, 0), std::optional<int>(33));
        QCOMPARE(SourceFrameAt(output, 17), std::optional<int>(50));  // the first copied one
        QCOMPARE(SourceFrameAt(output, 31), std::optional<int>(64));

        // A size the copy cannot make: refused, the file written before stays as it was.
        environment->messages.clear();
        const QByteArray before = ReadFile(output);
        ChangeOutput(*dialog, [&](OutputSettings& settings) {
            settings.outputWidth = 80;
            settings.outputHeight = 64;
        });
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(QTest::qWaitFor([this] { return environment->messages.boxes.size() >= 2; }, 30000));
        QCOMPARE(environment->messages.texts().last(),
                 u"Direct stream copy keeps the source's picture size, 160*120, and cannot make "
                 "it 80*64. Choose \"Original size\" or a video compressor."_s);
        QVERIFY(idle());
        QCOMPARE(ReadFile(output), before);
    }
};

FRAMEWELL_TEST_MAIN(ConversionDialogTest)
#include "test_conversion_dialog.moc"
