// What a user does from start to finish: open a real clip, play, pause, stop and scrub it,
// mark a span, convert, and find exactly that span in the AVI; and a codec setting chosen in
// the options changing the file a conversion writes.

#include <QFileInfo>
#include <QLabel>
#include <QJsonObject>

#include "app/converter_dialog.h"
#include "app/position_slider.h"
#include "app/source_player.h"
#include "controls/hover_button.h"
#include "media/encoders/encoder_registry.h"
#include "platform/settings_store.h"
#include "player/player_test_support.h"
#include "player/preview_player.h"
#include "settings/codec_settings.h"
#include "settings/compressor_catalogue.h"
#include "support/avi_checks.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using player_tests::OpenVideo;
using player_tests::Tick;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

// A 320x240 clip at 25 fps with the frame number in the picture; sound unless told otherwise.
QString Clip(double seconds, bool audio = true, QStringList extra = {}) {
    ClipSpec spec;
    spec.seconds = seconds;
    spec.width = 320;
    spec.height = 240;
    spec.audio = audio;
    spec.extraArguments = std::move(extra);
    return MakeClip(spec);
}

// Waits until a conversion has ended one way or the other; the status line's first word.
QString ConvertToTheEnd(ConverterDialog& dialog, TestEnvironment& environment) {
    const int boxes = environment.messages.boxes.size();
    DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)
        ->setText(QString());  // the last conversion's line must not count
    DialogControl<HoverButton>(dialog, MainDialogIds::kConvert)->click();
    const bool ended = QTest::qWaitFor(
        [&] {
            const QString status =
                DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)->text();
            return status.startsWith(QStringLiteral("Done.")) ||
                   status.startsWith(QStringLiteral("Conversion failed")) ||
                   (!dialog.isConverting() && environment.messages.boxes.size() > boxes &&
                    environment.messages.boxes.back().buttons == platform::BoxButtons::Ok);
        },
        60000);
    return ended ? DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)
                       ->text()
                       .section(QLatin1Char(' '), 0, 0)
                 : QStringLiteral("(no end within a minute)");
}

}  // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void openPlayMarkAndConvertWritesExactlyTheMarkedSpan() {
        TestEnvironment environment;
        const QString clip = Clip(7.0);
        QVERIFY(!clip.isEmpty());
        const QString output = environment.scratchPath(QStringLiteral("span.avi"));
        platform::SettingsStore().writeString(QStringLiteral("Settings"), QStringLiteral("OutputName"), output);

        ConverterDialog dialog;
        dialog.show();
        QVERIFY(OpenVideo(dialog, environment, clip));
        QCOMPARE(dialog.videoClips().count, 1);
        QVERIFY(currentPlayer != nullptr);

        // Watch a moment, pause, stop (back to the start), and scrub with the slider.
        DialogControl<QPushButton>(dialog, MainDialogIds::kPlay)->click();
        QTest::qWait(400);
        DialogControl<QPushButton>(dialog, MainDialogIds::kPause)->click();
        QCOMPARE(currentPlayer->playState, PlayState::Paused);
        DialogControl<QPushButton>(dialog, MainDialogIds::kStop)->click();
        QCOMPARE(currentPlayer->playState, PlayState::Stopped);
        Tick(dialog);
        QCOMPARE(currentPlayer->currentPosition, ReferenceTime(0));
        auto* slider = DialogControl<PositionSlider>(dialog, MainDialogIds::kPositionSlider);
        QTest::mousePress(slider, Qt::LeftButton, {}, QPoint(3, 3));
        slider->setValue(300);  // where the drag leaves the thumb: releasing seeks there
        QTest::mouseRelease(slider, Qt::LeftButton, {}, QPoint(3, 3));
        Tick(dialog);
        QVERIFY(qAbs(currentPlayer->currentPosition - 35 * kSecond / 10) < kSecond / 10);

        // Mark 00:00:02 and 00:00:05 where the picture stands.
        QCOMPARE(currentPlayer->SeekAbsolute(2 * kSecond), S_OK);
        Tick(dialog);
        DialogControl<QPushButton>(dialog, MainDialogIds::kStartTime)->click();
        QCOMPARE(currentPlayer->SeekAbsolute(5 * kSecond), S_OK);
        Tick(dialog);
        DialogControl<QPushButton>(dialog, MainDialogIds::kEndTime)->click();
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->text(),
                 QStringLiteral("00:00:02"));
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)->text(),
                 QStringLiteral("00:00:05"));
        QCOMPARE(dialog.marks().start, 2 * kSecond);
        QCOMPARE(dialog.marks().end, 5 * kSecond);

        QVERIFY(dialog.settings().videoCompressionOn == 1);  // the DivX-compatible default
        QCOMPARE(ConvertToTheEnd(dialog, environment), QStringLiteral("Done."));
        const QString done = DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)->text();
        QVERIFY2(done.startsWith(QStringLiteral("Done. Output File: %1 (").arg(output)) &&
                     done.endsWith(QStringLiteral("     Resolution: 320*240")),
                 qPrintable(done));

        const QJsonObject probe = Probe(output);
        const QJsonObject video = StreamOf(probe, QStringLiteral("video"));
        QCOMPARE(video.value("codec_name").toString(), QStringLiteral("mpeg4"));
        // The output keeps the stored rate choice, 23.976 by default: ceil(3 s x 24000/1001).
        QCOMPARE(video.value("r_frame_rate").toString(), QStringLiteral("24000/1001"));
        // The rate the AVI header holds: ffprobe gives it as the average.
        QCOMPARE(video.value("avg_frame_rate").toString(), QStringLiteral("24000/1001"));
        QCOMPARE(video.value("nb_read_frames").toString().toInt(), 72);
        QCOMPARE(SourceFrameAt(output, 0), std::optional<int>(50));   // the source frame at 2 s
        QCOMPARE(SourceFrameAt(output, 71), std::optional<int>(124));  // at 2 s + 71 x 1001/24000
        const QJsonObject audio = StreamOf(probe, QStringLiteral("audio"));
        QVERIFY(!audio.isEmpty());
        // As long as the pictures, within a frame.
        QVERIFY(qAbs(DecodedAudioSeconds(output) - 72 * 1001 / 24000.0) < 1001 / 24000.0);
        QVERIFY2(environment.messages.boxes.isEmpty(), qPrintable(environment.messages.texts().join('|')));
    }

    void aCodecSettingChangesTheWrittenFile() {
        TestEnvironment environment;
        // Moving grain, so that finer quantizing has something to spend its bits on.
        const QString clip =
            Clip(3.0, false, {QStringLiteral("-vf"), QStringLiteral("noise=alls=12:allf=t")});
        QVERIFY(!clip.isEmpty());

        // The MPEG-4 encoder's quantizer ceiling: a low one forces fine quantizing and a big
        // file. (Its "bitrate" setting reaches the encoder too, but libav's 1.22 wrapper leaves
        // the rate control at its default, so it cannot show in the size.)
        auto convertWith = [&](const char* maximumQuantizer, const QString& name) -> qint64 {
            platform::SettingsStore store;
            // What the codec's configuration dialog keeps when the user confirms it.
            SaveCodecSettings(store, "avenc_mpeg4", {{"qmax", maximumQuantizer}});
            const QString output = environment.scratchPath(name);
            store.writeString(QStringLiteral("Settings"), QStringLiteral("OutputName"), output);
            ConverterDialog dialog;
            if (!OpenVideo(dialog, environment, clip) || dialog.videoClips().count != 1) return -1;
            const auto& compressor = dialog.settings().videoCompressor;
            if (!compressor || compressor->factoryName != "avenc_mpeg4") return -2;
            if (ConvertToTheEnd(dialog, environment) != QLatin1String("Done.")) return -3;
            return QFileInfo(output).size();
        };
        const qint64 small = convertWith("31", QStringLiteral("coarse.avi"));
        const qint64 large = convertWith("3", QStringLiteral("fine.avi"));
        QVERIFY2(small > 0 && large > 0, qPrintable(QStringLiteral("%1 %2").arg(small).arg(large)));
        QVERIFY2(small * 3 < large, qPrintable(QStringLiteral("%1 vs %2 bytes").arg(small).arg(large)));
    }

    // A compressor the options dialog offers must really write a file: the list holds only
    // encoders that a trial accepts, and the trial has to agree with the conversion.
    void everyListedCompressorWritesItsStream() {
        TestEnvironment environment;
        const QString clip = Clip(1.0);
        QVERIFY(!clip.isEmpty());
        ConverterDialog dialog;
        QVERIFY(OpenVideo(dialog, environment, clip));
        QCOMPARE(dialog.videoClips().count, 1);

        QStringList failures;
        for (media::EncoderKind kind : {media::EncoderKind::Video, media::EncoderKind::Audio}) {
            const bool video = kind == media::EncoderKind::Video;
            const auto& encoders = media::AviEncoders(kind);
            for (int position = 0; position < int(encoders.size()); ++position) {
                const QString factory = QString::fromStdString(encoders[position].factoryName);
                // A size that every listed encoder takes: H.263 takes only its CIF sizes and
                // refuses any other before writing anything.
                ChangeOutput(dialog, [&](OutputSettings& settings) {
                    if (video)
                        QVERIFY(!GetCompressor(position, &settings.videoCompressor).failed());
                    else
                        QVERIFY(!GetAudioCompressor(position, &settings.audioCompressor).failed());
                    settings.outputWidth = 352;
                    settings.outputHeight = 288;
                    settings.videoCompressionOn = video ? 1 : 0;
                    settings.audioCompressionOn = video ? 0 : 1;
                    settings.outputName = environment.scratchPath(factory + ".avi");
                });
                environment.messages.clear();
                const QString outcome = ConvertToTheEnd(dialog, environment);
                const QJsonObject stream =
                    StreamOf(Probe(dialog.settings().outputName), video ? "video" : "audio");
                const int frames = stream.value("nb_read_frames").toString().toInt();
                if (outcome != QLatin1String("Done.") || frames <= 0)
                    failures << factory + ": " + outcome + " " +
                                    environment.messages.texts().join(QLatin1Char('/'));
            }
        }
        QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QStringLiteral("; "))));
    }
};

FRAMEWELL_TEST_MAIN(EndToEndTest)
#include "test_end_to_end.moc"
