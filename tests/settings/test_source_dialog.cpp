// The Source dialog reached from Options: its lists filled from the open video's tracks, what
// its OK takes, what Options' OK stores and refuses with Direct stream copy, and a conversion
// of the main dialog that honours the choices, and one aimed at a size.

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QtTest>

#include <memory>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "media/core/media_framework.h"
#include "platform/dialog_template.h"
#include "platform/settings_store.h"
#include "settings/output_options_dialog.h"
#include "settings/source_options_dialog.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/media_measures.h"
#include "support/modal_driver.h"
#include "support/scripted_compressors.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

void choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

QStringList entries(const QComboBox* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i) texts << list->itemText(i);
    return texts;
}

media::SourceTrack track(media::TrackKind kind, int number, const char* codec,
                         const char* language = "", const char* title = "") {
    media::SourceTrack made;
    made.kind = kind;
    made.number = number;
    made.codec = codec;
    made.language = language;
    made.title = title;
    return made;
}

const media::SourceTracks kFilm = {
    track(media::TrackKind::Video, 1, "MPEG-4 Video"),
    track(media::TrackKind::Sound, 1, "MP3", "en"),
    track(media::TrackKind::Sound, 2, "MP3", "fr", "Commentary"),
    track(media::TrackKind::Subtitles, 1, "Timed Text", "en"),
};

QString stored(const char* key) {
    return platform::SettingsStore().readString(u"Source"_s, QLatin1String(key), u"<absent>"_s);
}

}  // namespace

class SourceDialogTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }

    void listsComeFromTheVideosTracks() {
        TestEnvironment environment;
        SourceOptionsDialog dialog(SourceOptions{}, kFilm, media::StreamRoute{});
        QVERIFY(dialog.soundTrackList->isVisibleTo(&dialog));
        QCOMPARE(entries(dialog.soundTrackList),
                 (QStringList{u"1: MP3, en"_s, u"2: MP3, fr, Commentary"_s}));
        QCOMPARE(entries(dialog.subtitlesList),
                 (QStringList{u"None"_s, u"1: Timed Text, en"_s, u"From a file"_s}));
        QVERIFY(!dialog.subtitleFileBox->isVisibleTo(&dialog));
        QCOMPARE(dialog.deinterlaceList->currentText(), u"Automatic"_s);
        QVERIFY(dialog.targetSizeNote->text().contains(u"uncompressed video has none"_s));
        SaveScreenshot(&dialog, u"source_dialog"_s);

        // A file chosen without a name, then a size that is no number: both refused.
        choose(dialog.soundTrackList, 1);
        choose(dialog.subtitlesList, 2);
        QVERIFY(dialog.subtitleFileBox->isVisibleTo(&dialog));
        dialog.OnOK();
        dialog.subtitleFileBox->setText(u"/films/film.en.srt"_s);
        dialog.targetSizeBox->setText(u"a CD"_s);
        dialog.OnOK();
        QCOMPARE(environment.messages.boxes.size(), 2);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        dialog.targetSizeBox->setText(u"700"_s);
        dialog.OnOK();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.options().audioTrack, 2);
        QCOMPARE(dialog.options().subtitleFile, u"/films/film.en.srt"_s);
        QCOMPARE(dialog.options().targetSizeMegabytes, 700.0);

        // One sound track and no subtitles: nothing to choose but a file.
        SourceOptionsDialog plain(SourceOptions{}, {kFilm[0], kFilm[1]}, media::StreamRoute{});
        QVERIFY(!plain.soundTrackList->isVisibleTo(&plain));
        QVERIFY(!platform::FindControl(&plain, SourceOptionsIds::kSoundTrackLabel)->isVisibleTo(&plain));
        QCOMPARE(entries(plain.subtitlesList), (QStringList{u"None"_s, u"From a file"_s}));
    }

    void optionsStoresTheChoicesAndRefusesThemWithACopy() {
        TestEnvironment environment;
        ScriptedCompressors catalogue;
        catalogue.video = {ScriptedCompressors::named(u"x264enc"_s)};
        catalogue.audio = {ScriptedCompressors::named(u"lamemp3enc"_s)};
        InstallCompressorSource(&catalogue);
        SourceOptions chosen;
        chosen.subtitleTrack = 1;
        chosen.sourceFile = u"/films/film.mkv"_s;
        OutputOptionsDialog options(OutputSettings{}, 1);
        options.SetSource(chosen, kFilm);

        QComboBox* video = options.videoCompressorList;
        choose(video, video->count() - 1);  // Direct stream copy
        options.OnOK();
        QCOMPARE(environment.messages.texts(),
                 QStringList{u"Subtitles cannot be burnt into pictures that Direct stream copy "
                             u"writes as they are; choose a video compressor for them."_s});
        QCOMPARE(options.result(), int(QDialog::Rejected));
        QCOMPARE(stored("SubtitleTrack"), u"<absent>"_s);

        // The Source button: the second sound track, and the note for x264.
        choose(video, 1);
        ModalDriver source([](QDialog* dialog) {
            auto* opened = qobject_cast<SourceOptionsDialog*>(dialog);
            QVERIFY(opened);
            QVERIFY(opened->targetSizeNote->text().contains(u"two passes"_s));
            choose(opened->soundTrackList, 1);
            opened->OnOK();
        });
        options.OnSourceOptions();
        options.OnOK();
        QCOMPARE(options.result(), int(QDialog::Accepted));
        QCOMPARE(stored("AudioTrack"), u"2"_s);
        QCOMPARE(stored("SubtitleTrack"), u"1"_s);
        QCOMPARE(stored("SourceFile"), u"/films/film.mkv"_s);
        InstallCompressorSource(nullptr);

        // The track choices come back with their video only; the rest stays for any.
        SourceOptions loaded = LoadSourceOptions(platform::SettingsStore());
        loaded.deinterlace = media::DeinterlaceMode::Off;
        QCOMPARE(SourceOptionsForOpenedVideo(loaded, u"/films/film.mkv"_s), loaded);
        const SourceOptions other = SourceOptionsForOpenedVideo(loaded, u"/films/other.mkv"_s);
        QCOMPARE(other.audioTrack, 1);
        QCOMPARE(other.subtitleTrack, 0);
        QCOMPARE(other.deinterlace, media::DeinterlaceMode::Off);
    }

    void theMainDialogConvertsWithTheChoices() {
        TestEnvironment environment;
        const QString cues = environment.scratchPath(u"cue.srt"_s);
        QFile file(cues);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("1\n00:00:01,000 --> 00:00:02,000\nHELLO WORLD\n\n");
        file.close();
        const QString film = MakeTwoToneFilm(cues);
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(OpenVideoAndWait(dialog, film));
        QCOMPARE(dialog.sourceTrackList().size(), std::size_t{4});
        const QString output = environment.scratchPath(u"dialog.avi"_s);
        ChangeOutput(dialog, [&](OutputSettings& settings) { settings.outputName = output; });

        // A size aimed at through a copy is refused before anything is written.
        SourceOptions choices = dialog.sourceChoices();
        choices.audioTrack = 2;
        choices.targetSizeMegabytes = 1.0;
        dialog.UseSourceChoices(choices);
        ChangeOutput(dialog, [](OutputSettings& settings) {
            settings.videoCompressor = StreamCopyCompressor(media::EncoderKind::Video);
        });
        Press(dialog, MainDialogIds::kConvert);
        QCOMPARE(environment.messages.texts().value(0),
                 u"A target size cannot be combined with Direct stream copy, whose pictures keep "
                 u"the size they have."_s);
        QVERIFY(!dialog.isConverting() && !QFile::exists(output));

        choices.targetSizeMegabytes = 0.0;
        choices.subtitleTrack = 1;
        dialog.UseSourceChoices(choices);
        ChangeOutput(dialog, [](OutputSettings& settings) { settings.videoCompressionOn = 0; });
        environment.messages.clear();
        Press(dialog, MainDialogIds::kConvert);
        QVERIFY(QTest::qWaitFor([&] { return StatusText(dialog).startsWith(u"Done."_s); }, 60000));
        QVERIFY(std::fabs(TonePitch(output) - 1000.0) < 20.0);
    }

    void theMainDialogAimsAtASize() {
        TestEnvironment environment;
        const QString busy =
            MakeFile({u"-f"_s, u"lavfi"_s, u"-i"_s, u"testsrc2=s=320x240:r=25:d=10"_s, u"-f"_s,
                      u"lavfi"_s, u"-i"_s, u"sine=frequency=440:d=10"_s, u"-c:v"_s, u"libx264"_s,
                      u"-preset"_s, u"ultrafast"_s, u"-c:a"_s, u"mp3"_s},
                     u"mkv"_s);
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(OpenVideoAndWait(dialog, busy));
        const QString output = environment.scratchPath(u"sized.avi"_s);
        ChangeOutput(dialog, [&](OutputSettings& settings) {
            settings.outputName = output;
            settings.videoCompressor =
                CompressorHandle{"x264enc", u"x264"_s, media::EncoderKind::Video};
            settings.audioCompressor =
                CompressorHandle{"lamemp3enc", u"LAME"_s, media::EncoderKind::Audio};
            settings.videoCompressionOn = 1;
            settings.audioCompressionOn = 1;
        });
        SourceOptions choices = dialog.sourceChoices();
        choices.targetSizeMegabytes = 0.4;
        dialog.UseSourceChoices(choices);
        Press(dialog, MainDialogIds::kConvert);
        QVERIFY2(QTest::qWaitFor([&] { return StatusText(dialog).startsWith(u"Done."_s); }, 60000),
                 qPrintable(StatusText(dialog) + environment.messages.texts().join(u'|')));
        const double off = QFileInfo(output).size() / 400'000.0 - 1;
        QVERIFY2(std::fabs(off) <= 0.03, qPrintable(QString::number(off)));
        QCOMPARE(environment.messages.boxes.size(), 0);
    }
};

FRAMEWELL_TEST_MAIN(SourceDialogTest)
#include "test_source_dialog.moc"
