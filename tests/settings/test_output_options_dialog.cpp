// The Output options dialog driven headless: what it shows for a record, what OK stores and
// binds, what it refuses, and that Cancel leaves everything as it was; with a scripted
// compressor catalogue, so that the names are known.

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <tuple>

#include "app/converter_dialog.h"
#include "media/core/media_framework.h"
#include "platform/dialog_template.h"
#include "platform/settings_store.h"
#include "settings/compressor_catalogue.h"
#include "settings/output_options_dialog.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/modal_driver.h"
#include "support/scripted_compressors.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::DialogControl;
using testing_support::Press;

using namespace OutputOptionsIds;
using testing_support::ScriptedCompressors;

namespace {

// A user's choice in a list: the selection changes and the list reports it.
void choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

QString stored(const char* section, const char* key) {
    return platform::SettingsStore().readString(QLatin1String(section), QLatin1String(key),
                                                QStringLiteral("<absent>"));
}

// A 720 x 576 source at 25 frames per second, converted at its own size.
OutputSettings sourceOpened() {
    OutputSettings settings;
    settings.outputName = QStringLiteral("/videos/out.avi");
    settings.sourceWidth = settings.outputWidth = 720;
    settings.sourceHeight = settings.outputHeight = 576;
    settings.sourceFrameRate = 25.0;
    return settings;
}

QSize outputSizeOf(const OutputSettings& settings) {
    return {settings.outputWidth, settings.outputHeight};
}

}  // namespace

class OutputOptionsDialogTest : public QObject {
    Q_OBJECT

private:
    ScriptedCompressors catalogue;

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }

    void init() {
        catalogue.video = {ScriptedCompressors::named("Cinepak Codec"),
                           ScriptedCompressors::named("DivX 5.1.1 Codec"),
                           ScriptedCompressors::named("Indeo Video 5")};
        catalogue.audio = {ScriptedCompressors::named("Microsoft IMA ADPCM"),
                           ScriptedCompressors::named("GSM 6.10"),
                           ScriptedCompressors::named("Microsoft ADPCM")};
        InstallCompressorSource(&catalogue);
    }

    void opensWithTheRecordsChoices() {
        testing_support::TestEnvironment environment;
        {
            OutputOptionsDialog dialog(sourceOpened(), 1);
            QCOMPARE(dialog.resolutionList->currentText(), QStringLiteral("Original size 720*576"));
            QVERIFY(dialog.widthBox->isHidden() && dialog.heightBox->isHidden());
            QCOMPARE(dialog.frameRateList->itemText(0),
                     QStringLiteral("Original frame rate 25.000"));
            QVERIFY(dialog.frameRateBox->isHidden() && dialog.scratchList->isHidden());
            // Never chosen: the first DivX video compressor, the "microsoft adpcm" audio one.
            QCOMPARE(dialog.videoCompressorList->currentText(), QStringLiteral("DivX 5.1.1 Codec"));
            QCOMPARE(dialog.audioCompressorList->currentIndex(), 3);
        }
        // A custom rate shows its box; a stored compressor position past the end selects nothing.
        OutputSettings custom = sourceOpened();
        custom.frameRateIndex = 6;
        platform::SettingsStore().writeInt(QStringLiteral("DexVideoCompress"),
                                           QStringLiteral("CompressorNumber"), 7);
        OutputOptionsDialog reopened(custom, 1);
        QVERIFY(!reopened.frameRateBox->isHidden());
        QCOMPARE(reopened.videoCompressorList->currentIndex(), -1);

        // No source and 0 x 0: OK stores 16 x 16, which the next opening shows as custom.
        OutputOptionsDialog first(OutputSettings{}, 0);
        QCOMPARE(first.resolutionList->currentText(), QStringLiteral("Original size"));
        QCOMPARE(first.frameRateList->itemText(0), QStringLiteral("Original frame rate"));
        first.OnOK();
        QCOMPARE(first.result(), int(QDialog::Accepted));
        QCOMPARE(outputSizeOf(first.settings()), QSize(16, 16));
        QCOMPARE(stored("Settings", "OutputHigh"), QStringLiteral("16"));
        OutputOptionsDialog second(first.settings(), 0);
        QCOMPARE(second.resolutionList->currentText(), QStringLiteral("Custom size"));
        QVERIFY(!second.widthBox->isHidden());
        QCOMPARE(second.heightBox->text(), QStringLiteral("16"));
        QVERIFY(environment.messages.boxes.isEmpty());
    }

    void sizesComeFromPresetsOrRoundedBoxes() {
        testing_support::TestEnvironment environment;
        // Typed sizes are read like C's atoi, rounded down to multiples of 8, at least 16.
        const struct {
            const char* width;
            const char* height;
            QSize expected;
        } typed[] = {{"701", "397", {696, 392}},
                     {"10", "10", {16, 16}},
                     {"-100", "wide", {16, 16}},
                     {"  64px", "23", {64, 16}}};
        for (const auto& c : typed) {
            OutputOptionsDialog dialog(sourceOpened(), 1);
            choose(dialog.resolutionList, kResolutionCustom);
            dialog.widthBox->setText(QLatin1String(c.width));
            dialog.heightBox->setText(QLatin1String(c.height));
            dialog.OnOK();
            QCOMPARE(outputSizeOf(dialog.settings()), c.expected);
        }
        QCOMPARE(stored("Settings", "OutputWidth"), QStringLiteral("64"));

        // A preset writes its size into the hidden boxes; Custom brings back the opened size.
        OutputOptionsDialog dialog(sourceOpened(), 1);
        dialog.widthBox->setText("999");
        choose(dialog.resolutionList, 1);
        QCOMPARE(dialog.heightBox->text(), QStringLiteral("480"));
        choose(dialog.resolutionList, kResolutionCustom);
        QCOMPARE(dialog.widthBox->text(), QStringLiteral("720"));
    }

    void okChecksAndStoresRatesAndNames() {
        testing_support::TestEnvironment environment;
        const QString small = QStringLiteral("The frame rate is too small!");
        const QString large = QStringLiteral("The frame rate is too large!");
        OutputOptionsDialog dialog(sourceOpened(), 1);
        choose(dialog.frameRateList, 6);
        QVERIFY(!dialog.frameRateBox->isHidden());
        for (const char* text : {"0", "abc", "nan", "inf", "1e9", "1000.5"}) {
            dialog.frameRateBox->setText(QLatin1String(text));
            dialog.OnOK();
        }
        QCOMPARE(environment.messages.texts(),
                 (QStringList{small, small, small, large, large, large}));
        QCOMPARE(environment.messages.boxes.front().caption, platform::ProgramBaseName());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(stored("Settings", "OutputFrameRateIndex"), QStringLiteral("<absent>"));
        // The refused value is what "Custom frame rate" shows next.
        choose(dialog.frameRateList, 3);
        QCOMPARE(dialog.frameRateBox->text(), QStringLiteral("25.000000"));
        choose(dialog.frameRateList, 6);
        QCOMPARE(dialog.frameRateBox->text(), QStringLiteral("1000.500"));

        dialog.frameRateBox->setText("12.5");
        dialog.outputFileBox->setText(QStringLiteral("/tmp/") + QString(300, QLatin1Char('n')));
        environment.messages.clear();
        dialog.OnOK();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(environment.messages.texts().value(0).contains(QStringLiteral("259")));
        QCOMPARE(stored("Settings", "OutputName"), QStringLiteral("<absent>"));
        // An empty name is taken as it is.
        dialog.outputFileBox->clear();
        dialog.OnOK();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.settings().outputFrameRate, 12.5);
        QCOMPARE(stored("Settings", "OutputName"), QString());
        QCOMPARE(stored("Settings", "OutputFrameRateIndex"), QStringLiteral("6"));
        QCOMPARE(stored("Settings", "OutputFrameRate"), QStringLiteral("12.5"));

        OutputOptionsDialog preset(sourceOpened(), 1);
        choose(preset.frameRateList, 3);
        preset.OnOK();
        QCOMPARE(preset.settings().outputFrameRate, 25.0);
        QCOMPARE(stored("Settings", "OutputFrameRateIndex"), QStringLiteral("3"));
        QCOMPARE(stored("Settings", "OutputFrameRate"), QStringLiteral("25.000000"));
    }

    void browseNamesAnAviFile() {
        testing_support::TestEnvironment environment;
        const QString folder = environment.scratchPath(QStringLiteral("clips"));
        OutputSettings settings = sourceOpened();
        settings.outputName = folder + QStringLiteral("/old.avi");
        OutputOptionsDialog dialog(settings, 1);
        dialog.outputFileBox->setText("/elsewhere/typed.avi");
        // Chosen name, then what the box shows; the last answer cancels.
        const std::pair<const char*, const char*> answers[] = {
            {"/clip.mpg", "/clip.avi"},
            {"/clip.avi", "/clip.avi"},
            {"/my.folder/clip", "/my.folder/clip.avi"},
            {nullptr, "/my.folder/clip.avi"}};
        for (const auto& [chosen, shown] : answers) {
            environment.files.saveAnswers = {chosen ? folder + QLatin1String(chosen) : QString()};
            dialog.OnBrowse();
            QCOMPARE(dialog.outputFileBox->text(), folder + QLatin1String(shown));
        }
        const platform::FileRequest& request = environment.files.requests.front();
        QCOMPARE(request.title, QStringLiteral("Select Output File Name"));
        QCOMPARE(request.initialFolder, folder + QLatin1Char('/'));  // as opened, not as typed
        QCOMPARE(request.filters.value(0).pattern, QStringLiteral("*.avi"));
    }

    void defaultPicksByNameOrUncompressed() {
        testing_support::TestEnvironment environment;
        catalogue.video = {ScriptedCompressors::named("Cinepak Codec"),
                           ScriptedCompressors::named("Div X 4")};
        OutputOptionsDialog dialog(sourceOpened(), 1);
        choose(dialog.videoCompressorList, 1);
        choose(dialog.audioCompressorList, 0);
        dialog.OnDefault();
        QCOMPARE(dialog.videoCompressorList->currentText(),
                 QStringLiteral("Full frames (uncompressed)"));
        QCOMPARE(dialog.audioCompressorList->currentText(), QStringLiteral("Microsoft ADPCM"));
        QCOMPARE(stored("DexVideoCompress", "CompressorNumber"), QStringLiteral("<absent>"));
    }

    void okRebindsTheCompressors() {
        testing_support::TestEnvironment environment;
        OutputOptionsDialog first(sourceOpened(), 1);
        choose(first.videoCompressorList, 3);
        choose(first.audioCompressorList, 0);
        first.OnOK();
        QCOMPARE(first.settings().videoCompressionOn, 1);
        QCOMPARE(first.settings().audioCompressionOn, 0);
        QVERIFY(first.settings().videoCompressor);
        QCOMPARE(first.settings().videoCompressor->friendlyName, QStringLiteral("Indeo Video 5"));
        QVERIFY(!first.settings().audioCompressor);
        QCOMPARE(stored("DexVideoCompress", "CompressorNumber"), QStringLiteral("2"));
        QCOMPARE(stored("DexAudioCompress", "CompressorNumber"), QStringLiteral("-1"));

        // Reopened, the audio list shows the stored choice; a compressor turns it on at once.
        OutputOptionsDialog second(first.settings(), 1);
        QCOMPARE(second.audioCompressorList->currentIndex(), 0);
        choose(second.audioCompressorList, 2);
        choose(second.resizeModeList, 1);
        second.OnOK();
        QCOMPARE(second.settings().audioCompressionOn, 1);
        QVERIFY(second.settings().audioCompressor);
        QCOMPARE(second.settings().audioCompressor->factoryName, std::string("GSM 6.10"));
        QCOMPARE(second.settings().resizeMode, kResizeStretch);
        QCOMPARE(OutputOptionsDialog(second.settings(), 1).resizeModeList->currentIndex(), 1);

        // The uncompressed entry turns compression off and leaves the bound one alone.
        OutputOptionsDialog third(second.settings(), 1);
        choose(third.videoCompressorList, 0);
        third.OnOK();
        QCOMPARE(third.settings().videoCompressionOn, 0);
        QCOMPARE(third.settings().videoCompressor->friendlyName, QStringLiteral("Indeo Video 5"));
    }

    // The direct stream copy ends both lists and keeps its own number, so that a compressor
    // installed later neither takes its place nor is taken for it.
    void streamCopyStaysChosenWhenCompressorsChange() {
        testing_support::TestEnvironment environment;
        OutputOptionsDialog first(sourceOpened(), 1);
        for (QComboBox* list : {first.videoCompressorList, first.audioCompressorList}) {
            QCOMPARE(list->itemText(list->count() - 1), QStringLiteral("Direct stream copy"));
            choose(list, list->count() - 1);
        }
        first.OnOK();
        QCOMPARE(stored("DexVideoCompress", "CompressorNumber"), QStringLiteral("-3"));
        QCOMPARE(stored("DexAudioCompress", "CompressorNumber"), QStringLiteral("-3"));
        QVERIFY(first.settings().videoCompressor && first.settings().videoCompressor->streamCopy);
        QVERIFY(first.settings().audioCompressor && first.settings().audioCompressor->streamCopy);
        QCOMPARE(first.settings().videoCompressionOn, 1);

        // One more video compressor, and one fewer audio one: the copy is still the choice, on
        // reopening and at the next start.
        catalogue.video.push_back(ScriptedCompressors::named("Xvid"));
        catalogue.audio.pop_back();
        OutputOptionsDialog second(first.settings(), 1);
        QCOMPARE(second.videoCompressorList->currentText(), QStringLiteral("Direct stream copy"));
        QCOMPARE(second.audioCompressorList->currentText(), QStringLiteral("Direct stream copy"));
        OutputSettings loaded;
        LoadOutputSettings(loaded, platform::SettingsStore());
        QVERIFY(loaded.videoCompressor && loaded.videoCompressor->streamCopy);
        QCOMPARE(loaded.videoCompressionOn, 1);

        // A stored position that named the last compressor before is no copy now.
        platform::SettingsStore().writeInt(QStringLiteral("DexVideoCompress"),
                                           QStringLiteral("CompressorNumber"), 4);
        QCOMPARE(OutputOptionsDialog(first.settings(), 1).videoCompressorList->currentIndex(), -1);
    }

    void mainDialogTakesBackOnlyWhatOkConfirms() {
        testing_support::TestEnvironment environment;
        ConverterDialog main;
        OutputOptionsDialog seed(sourceOpened(), 1);
        choose(seed.videoCompressorList, 1);
        seed.OnOK();
        // The source facts are the opened clip's; the seed's choices come in as OK hands them.
        testing_support::ClipSpec spec;
        spec.seconds = 1.0;
        spec.width = 720;
        spec.height = 576;
        QVERIFY(testing_support::OpenVideoAndWait(main, testing_support::MakeClip(spec)));
        main.UseOutputChoices(seed.settings());
        auto recordOf = [&main] {
            const OutputSettings& s = main.settings();
            return std::tuple(s.outputName, s.outputWidth, s.outputHeight, s.frameRateIndex,
                              s.outputFrameRate, s.resizeMode, s.videoCompressionOn,
                              s.audioCompressionOn);
        };
        auto settingsFile = [&environment] {
            QFile file(environment.settingsFolder() + QStringLiteral("/Orvanta/") +
                       platform::ProgramBaseName() + QStringLiteral(".conf"));
            return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
        };
        const auto recordBefore = recordOf();
        const QByteArray storedBefore = settingsFile();
        const std::string videoBefore = main.settings().videoCompressor->factoryName;

        // Cancel after changing every field changes nothing.
        environment.files.saveAnswers = {environment.scratchPath(QStringLiteral("other.mpg"))};
        testing_support::ModalDriver cancel([&](QDialog* dialog) {
            auto* options = qobject_cast<OutputOptionsDialog*>(dialog);
            QVERIFY(options);
            options->OnBrowse();
            choose(options->resolutionList, kResolutionCustom);
            options->widthBox->setText("320");
            choose(options->frameRateList, 6);
            options->frameRateBox->setText("15");
            choose(options->resizeModeList, 1);
            choose(options->videoCompressorList, 2);
            choose(options->audioCompressorList, 0);
            options->OnDefault();
            platform::Control<QPushButton>(options, kCancel)->click();
        });
        Press(main, MainDialogIds::kOptions);
        QVERIFY(cancel.ran());
        QVERIFY(recordOf() == recordBefore);
        QCOMPARE(settingsFile(), storedBefore);
        QVERIFY(main.settings().videoCompressor);
        QCOMPARE(main.settings().videoCompressor->factoryName, videoBefore);

        // The source facts are inputs only.
        const QString newName = environment.scratchPath(QStringLiteral("next.avi"));
        testing_support::ModalDriver confirm([&](QDialog* dialog) {
            auto* options = qobject_cast<OutputOptionsDialog*>(dialog);
            QVERIFY(options);
            options->outputFileBox->setText(newName);
            choose(options->resolutionList, 6);
            choose(options->frameRateList, 5);
            platform::Control<QPushButton>(options, kOk)->click();
        });
        Press(main, MainDialogIds::kOptions);
        QVERIFY(confirm.ran());
        QCOMPARE(main.settings().outputName, newName);
        QCOMPARE(outputSizeOf(main.settings()), QSize(352, 288));
        QCOMPARE(main.settings().outputFrameRate, 30.0);
        QCOMPARE(main.settings().sourceWidth, 720);
        auto* status = platform::Control<QLabel>(&main, MainDialogIds::kStatusLine);
        QCOMPARE(status->text(),
                 QStringLiteral("Output File: %1     Resolution: 352*288").arg(newName));
    }
};

FRAMEWELL_TEST_MAIN(OutputOptionsDialogTest)
#include "test_output_options_dialog.moc"
