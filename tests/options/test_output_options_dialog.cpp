// The Output options dialog: what it shows for a record, what OK stores and binds, what it
// refuses, and that Cancel leaves everything as it was; driven headless, with a scripted
// compressor catalogue where the names matter and the installed one where it does not.

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/converter_dialog.h"
#include "media/media_framework.h"
#include "platform/dialog_template.h"
#include "platform/settings_store.h"
#include "settings/codec_config_dialog.h"
#include "settings/compressor_catalogue.h"
#include "settings/output_options_dialog.h"
#include "support/modal_driver.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace OutputOptionsIds;

namespace {

class ScriptedCatalogue : public CompressorSource {
public:
    QStringList video;
    QStringList audio;

    HRESULT enumerate(media::EncoderKind kind, std::vector<CompressorMoniker>& out) override {
        out.clear();
        const QStringList& names = kind == media::EncoderKind::Video ? video : audio;
        for (const QString& name : names)
            out.push_back({true, name, true, "factory:" + name.toStdString()});
        return S_OK;
    }
};

// A user's choice in a list: the selection changes and the list reports it.
void choose(QComboBox* list, int index) {
    list->setCurrentIndex(index);
    emit list->activated(index);
}

int storedInt(const QString& section, const QString& key) {
    return platform::SettingsStore().readInt(section, key, -999);
}

QString storedText(const QString& section, const QString& key) {
    return platform::SettingsStore().readString(section, key, QStringLiteral("<absent>"));
}

OutputSettings sourceOpened(int width, int height, double rate) {
    OutputSettings settings;
    settings.outputName = QStringLiteral("/videos/out.avi");
    settings.sourceWidth = settings.outputWidth = width;
    settings.sourceHeight = settings.outputHeight = height;
    settings.sourceFrameRate = rate;
    return settings;
}

QByteArray settingsFileOf(const testing_support::TestEnvironment& environment) {
    QFile file(environment.settingsFolder() + QStringLiteral("/Orvanta/") +
               platform::ProgramBaseName() + QStringLiteral(".conf"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<none>");
}

}  // namespace

class OutputOptionsDialogTest : public QObject {
    Q_OBJECT

private:
    ScriptedCatalogue catalogue;

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }

    void init() {
        catalogue.video = {QStringLiteral("Cinepak Codec"), QStringLiteral("DivX 5.1.1 Codec"),
                           QStringLiteral("Indeo Video 5")};
        catalogue.audio = {QStringLiteral("Microsoft IMA ADPCM"), QStringLiteral("GSM 6.10"),
                           QStringLiteral("Microsoft ADPCM")};
        InstallCompressorSource(&catalogue);
        heldVideoCompressor.reset();
        heldAudioCompressor.reset();
    }

    void cleanup() { InstallCompressorSource(nullptr); }

    void opensWithTheRecordsChoices() {
        testing_support::TestEnvironment environment;
        {
            // A 720 x 576 source at its own size.
            OutputOptionsDialog dialog(sourceOpened(720, 576, 25.0), 1);
            QCOMPARE(dialog.windowTitle(), QStringLiteral("Output options"));
            QCOMPARE(dialog.resolutionList->currentIndex(), 0);
            QCOMPARE(dialog.resolutionList->currentText(), QStringLiteral("Original size 720*576"));
            QVERIFY(dialog.widthBox->isHidden() && dialog.heightBox->isHidden());
            QCOMPARE(dialog.frameRateList->itemText(0),
                     QStringLiteral("Original frame rate 25.000"));
            QCOMPARE(dialog.frameRateList->currentIndex(), 1);
            QCOMPARE(dialog.frameRateBox->text(), QStringLiteral("23.976"));
            QVERIFY(dialog.frameRateBox->isHidden());
            QVERIFY(dialog.scratchList->isHidden());
            QCOMPARE(dialog.resizeModeList->currentIndex(), 0);
            // Never chosen: the first DivX video compressor, the "microsoft adpcm" audio one.
            QCOMPARE(dialog.videoCompressorList->currentText(), QStringLiteral("DivX 5.1.1 Codec"));
            QCOMPARE(dialog.audioCompressorList->currentIndex(), 3);
        }
        {
            // No source: plain labels; a preset size, the original rate, stretching.
            OutputSettings settings;
            settings.outputWidth = 352;
            settings.outputHeight = 240;
            settings.frameRateIndex = 0;
            settings.resizeMode = kResizeStretch;
            OutputOptionsDialog dialog(settings, 0);
            QCOMPARE(dialog.resolutionList->itemText(0), QStringLiteral("Original size"));
            QCOMPARE(dialog.resolutionList->currentIndex(), 7);
            QCOMPARE(dialog.frameRateList->itemText(0), QStringLiteral("Original frame rate"));
            QCOMPARE(dialog.frameRateList->currentIndex(), 0);
            QCOMPARE(dialog.frameRateBox->text(), QStringLiteral("23.976000"));
            QCOMPARE(dialog.resizeModeList->currentIndex(), 1);
        }
        {
            // Any other size is custom and shows its boxes; a custom rate shows its box.
            OutputSettings settings = sourceOpened(720, 576, 25.0);
            settings.outputWidth = 123;
            settings.outputHeight = 77;
            settings.frameRateIndex = 6;
            settings.outputFrameRate = 12.5;
            platform::SettingsStore store;
            store.writeInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"),
                           7);
            store.writeInt(QStringLiteral("DexAudioCompress"), QStringLiteral("CompressorNumber"),
                           -1);
            OutputOptionsDialog dialog(settings, 1);
            QCOMPARE(dialog.resolutionList->currentIndex(), 8);
            QVERIFY(!dialog.widthBox->isHidden() && !dialog.heightBox->isHidden());
            QCOMPARE(dialog.heightBox->text(), QStringLiteral("77"));
            QCOMPARE(dialog.frameRateList->currentIndex(), 6);
            QCOMPARE(dialog.frameRateBox->text(), QStringLiteral("12.500"));
            QVERIFY(!dialog.frameRateBox->isHidden());
            // A stored position past the end selects nothing; -1 is the uncompressed entry.
            QCOMPARE(dialog.videoCompressorList->currentIndex(), -1);
            QCOMPARE(dialog.audioCompressorList->currentIndex(), 0);
        }
        QVERIFY(environment.messages.boxes.isEmpty());
    }

    void originalSizeWithoutSourceBecomesSixteen() {
        testing_support::TestEnvironment environment;
        OutputOptionsDialog first(OutputSettings{}, 0);
        QCOMPARE(first.resolutionList->currentText(), QStringLiteral("Original size"));
        first.OnOK();
        QCOMPARE(first.result(), int(QDialog::Accepted));
        QCOMPARE(first.settings().outputWidth, 16);
        QCOMPARE(first.settings().outputHeight, 16);
        QCOMPARE(storedInt(QStringLiteral("Settings"), QStringLiteral("OutputWidth")), 16);
        QCOMPARE(storedInt(QStringLiteral("Settings"), QStringLiteral("OutputHigh")), 16);

        OutputOptionsDialog second(first.settings(), 0);
        QCOMPARE(second.resolutionList->currentText(), QStringLiteral("Custom size"));
        QVERIFY(!second.widthBox->isHidden());
        QCOMPARE(second.widthBox->text(), QStringLiteral("16"));
        QCOMPARE(second.heightBox->text(), QStringLiteral("16"));
    }

    void sizesComeFromPresetsOrRoundedBoxes() {
        testing_support::TestEnvironment environment;
        auto confirmSize = [](const QString& width, const QString& height) {
            OutputOptionsDialog dialog(sourceOpened(720, 576, 25.0), 1);
            choose(dialog.resolutionList, 8);
            dialog.widthBox->setText(width);
            dialog.heightBox->setText(height);
            dialog.OnOK();
            return QSize(dialog.settings().outputWidth, dialog.settings().outputHeight);
        };
        QCOMPARE(confirmSize(QStringLiteral("701"), QStringLiteral("397")), QSize(696, 392));
        QCOMPARE(confirmSize(QStringLiteral("10"), QStringLiteral("10")), QSize(16, 16));
        QCOMPARE(confirmSize(QStringLiteral("-100"), QStringLiteral("wide")), QSize(16, 16));
        QCOMPARE(confirmSize(QStringLiteral("  64px"), QStringLiteral("23")), QSize(64, 16));
        QCOMPARE(storedInt(QStringLiteral("Settings"), QStringLiteral("OutputWidth")), 64);

        // A preset writes its numbers into the hidden boxes; Custom brings back the size the
        // dialog opened with, not what was typed.
        OutputSettings settings = sourceOpened(720, 576, 25.0);
        settings.outputWidth = 200;
        settings.outputHeight = 100;
        OutputOptionsDialog dialog(settings, 1);
        dialog.widthBox->setText(QStringLiteral("999"));
        choose(dialog.resolutionList, 1);
        QCOMPARE(dialog.widthBox->text(), QStringLiteral("640"));
        QVERIFY(dialog.widthBox->isHidden());
        choose(dialog.resolutionList, 0);
        QCOMPARE(dialog.heightBox->text(), QStringLiteral("576"));
        choose(dialog.resolutionList, 8);
        QCOMPARE(dialog.widthBox->text(), QStringLiteral("200"));
        QVERIFY(!dialog.widthBox->isHidden());
        choose(dialog.resolutionList, 4);
        dialog.OnOK();
        QCOMPARE(dialog.settings().outputWidth, 480);
        QCOMPARE(dialog.settings().outputHeight, 576);
    }

    void frameRatesAreCheckedAndStored() {
        testing_support::TestEnvironment environment;
        OutputOptionsDialog dialog(sourceOpened(720, 576, 25.0), 1);
        choose(dialog.frameRateList, 6);
        QVERIFY(!dialog.frameRateBox->isHidden());
        dialog.frameRateBox->setText(QStringLiteral("0"));
        dialog.OnOK();
        QCOMPARE(environment.messages.texts(),
                 QStringList{QStringLiteral("The frame rate is too small!")});
        const platform::BoxRequest& box = environment.messages.boxes.front();
        QCOMPARE(box.caption, platform::ProgramBaseName());
        QCOMPARE(box.buttons, platform::BoxButtons::Ok);
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(storedText(QStringLiteral("Settings"), QStringLiteral("OutputFrameRateIndex")),
                 QStringLiteral("<absent>"));
        // The refused value is what "Custom frame rate" shows next.
        choose(dialog.frameRateList, 3);
        QCOMPARE(dialog.frameRateBox->text(), QStringLiteral("25.000000"));
        choose(dialog.frameRateList, 6);
        QCOMPARE(dialog.frameRateBox->text(), QStringLiteral("0.000"));

        // Texts that are no usable rate at all are refused too.
        environment.messages.clear();
        for (const char* text : {"abc", "nan", "inf", "1e9", "1000.5"}) {
            dialog.frameRateBox->setText(QString::fromLatin1(text));
            dialog.OnOK();
        }
        QCOMPARE(environment.messages.texts(),
                 (QStringList{QStringLiteral("The frame rate is too small!"),
                              QStringLiteral("The frame rate is too small!"),
                              QStringLiteral("The frame rate is too large!"),
                              QStringLiteral("The frame rate is too large!"),
                              QStringLiteral("The frame rate is too large!")}));
        QCOMPARE(dialog.result(), int(QDialog::Rejected));

        dialog.frameRateBox->setText(QStringLiteral("12.5"));
        dialog.OnOK();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.settings().frameRateIndex, 6);
        QCOMPARE(dialog.settings().outputFrameRate, 12.5);
        QCOMPARE(storedInt(QStringLiteral("Settings"), QStringLiteral("OutputFrameRateIndex")), 6);
        QCOMPARE(storedText(QStringLiteral("Settings"), QStringLiteral("OutputFrameRate")),
                 QStringLiteral("12.5"));

        OutputOptionsDialog preset(sourceOpened(720, 576, 25.0), 1);
        choose(preset.frameRateList, 3);
        preset.OnOK();
        QCOMPARE(preset.settings().frameRateIndex, 3);
        QCOMPARE(preset.settings().outputFrameRate, 25.0);
        QCOMPARE(storedInt(QStringLiteral("Settings"), QStringLiteral("OutputFrameRateIndex")), 3);
        QCOMPARE(storedText(QStringLiteral("Settings"), QStringLiteral("OutputFrameRate")),
                 QStringLiteral("25.000000"));

        OutputOptionsDialog original(sourceOpened(720, 576, 29.97), 1);
        choose(original.frameRateList, 0);
        QCOMPARE(original.frameRateBox->text(), QStringLiteral("29.970000"));
        original.OnOK();
        QCOMPARE(original.settings().outputFrameRate, 29.97);
        QCOMPARE(storedText(QStringLiteral("Settings"), QStringLiteral("OutputFrameRate")),
                 QStringLiteral("23.976"));
    }

    void browseNamesAnAviFile() {
        testing_support::TestEnvironment environment;
        const QString folder = environment.scratchPath(QStringLiteral("clips"));
        OutputSettings settings = sourceOpened(720, 576, 25.0);
        settings.outputName = folder + QStringLiteral("/old.avi");
        OutputOptionsDialog dialog(settings, 1);
        environment.files.saveAnswers = {folder + QStringLiteral("/clip.mpg"),
                                         folder + QStringLiteral("/clip.avi"),
                                         folder + QStringLiteral("/my.folder/clip"), QString()};
        dialog.outputFileBox->setText(QStringLiteral("/elsewhere/typed.avi"));
        dialog.OnBrowse();
        QCOMPARE(dialog.outputFileBox->text(), folder + QStringLiteral("/clip.avi"));
        const platform::FileRequest& request = environment.files.requests.front();
        QCOMPARE(request.title, QStringLiteral("Select Output File Name"));
        QCOMPARE(request.initialFolder, folder + QLatin1Char('/'));  // as opened, not as typed
        QCOMPARE(request.filters.size(), 1);
        QCOMPARE(request.filters[0].name, QStringLiteral("AVI file"));
        QCOMPARE(request.filters[0].pattern, QStringLiteral("*.avi"));
        dialog.OnBrowse();
        QCOMPARE(dialog.outputFileBox->text(), folder + QStringLiteral("/clip.avi"));
        dialog.OnBrowse();
        QCOMPARE(dialog.outputFileBox->text(), folder + QStringLiteral("/my.folder/clip.avi"));
        dialog.OnBrowse();  // cancelled
        QCOMPARE(dialog.outputFileBox->text(), folder + QStringLiteral("/my.folder/clip.avi"));

        settings.outputName = QStringLiteral("bare.avi");
        OutputOptionsDialog bare(settings, 1);
        bare.OnBrowse();
        QCOMPARE(environment.files.requests.last().initialFolder, QStringLiteral("."));
    }

    void longOutputNamesAreRefused() {
        testing_support::TestEnvironment environment;
        OutputOptionsDialog dialog(sourceOpened(720, 576, 25.0), 1);
        dialog.outputFileBox->setText(QStringLiteral("/tmp/") + QString(300, QLatin1Char('n')) +
                                      QStringLiteral(".avi"));
        dialog.OnOK();
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QCOMPARE(environment.messages.boxes.size(), 1);
        QVERIFY(environment.messages.boxes[0].text.contains(QStringLiteral("259")));
        QCOMPARE(storedText(QStringLiteral("Settings"), QStringLiteral("OutputName")),
                 QStringLiteral("<absent>"));
        // An empty name is taken as it is.
        dialog.outputFileBox->clear();
        dialog.OnOK();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(storedText(QStringLiteral("Settings"), QStringLiteral("OutputName")), QString());
    }

    void defaultPicksByNameOrUncompressed() {
        testing_support::TestEnvironment environment;
        catalogue.video = {QStringLiteral("Cinepak Codec"), QStringLiteral("Div X 4")};
        OutputOptionsDialog dialog(sourceOpened(720, 576, 25.0), 1);
        choose(dialog.videoCompressorList, 1);
        choose(dialog.audioCompressorList, 0);
        dialog.OnDefault();
        QCOMPARE(dialog.videoCompressorList->currentText(),
                 QStringLiteral("Full frames (uncompressed)"));
        QCOMPARE(dialog.audioCompressorList->currentText(), QStringLiteral("Microsoft ADPCM"));
        catalogue.video << QStringLiteral("DIVX Pro");
        OutputOptionsDialog divx(sourceOpened(720, 576, 25.0), 1);
        choose(divx.videoCompressorList, 0);
        divx.OnDefault();
        QCOMPARE(divx.videoCompressorList->currentIndex(), 3);
        QCOMPARE(storedInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber")),
                 -999);
    }

    void okRebindsTheHeldCompressors() {
        testing_support::TestEnvironment environment;
        OutputOptionsDialog first(sourceOpened(720, 576, 25.0), 1);
        choose(first.videoCompressorList, 3);
        choose(first.audioCompressorList, 0);
        first.OnOK();
        QCOMPARE(first.settings().videoCompressionOn, 1);
        QCOMPARE(first.settings().audioCompressionOn, 0);
        QVERIFY(heldVideoCompressor);
        QCOMPARE(heldVideoCompressor->friendlyName, QStringLiteral("Indeo Video 5"));
        QVERIFY(!heldAudioCompressor);
        QCOMPARE(storedInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber")),
                 2);
        QCOMPARE(storedInt(QStringLiteral("DexAudioCompress"), QStringLiteral("CompressorNumber")),
                 -1);

        // Reopened, the audio list shows the stored choice; a compressor turns it on at once.
        OutputOptionsDialog second(first.settings(), 1);
        QCOMPARE(second.audioCompressorList->currentIndex(), 0);
        QCOMPARE(second.videoCompressorList->currentIndex(), 3);
        choose(second.audioCompressorList, 2);
        choose(second.resizeModeList, 1);
        second.OnOK();
        QCOMPARE(second.settings().audioCompressionOn, 1);
        QVERIFY(heldAudioCompressor);
        QCOMPARE(heldAudioCompressor->factoryName, std::string("factory:GSM 6.10"));
        QCOMPARE(second.settings().resizeMode, kResizeStretch);

        // The uncompressed entry turns compression off and leaves the held one alone.
        OutputOptionsDialog third(second.settings(), 1);
        choose(third.videoCompressorList, 0);
        third.OnOK();
        QCOMPARE(third.settings().videoCompressionOn, 0);
        QVERIFY(heldVideoCompressor);
    }

    void cancelLeavesEverythingAsItWas() {
        testing_support::TestEnvironment environment;
        ConverterDialog main;
        OutputOptionsDialog seed(sourceOpened(720, 576, 25.0), 1);
        choose(seed.videoCompressorList, 1);
        seed.OnOK();
        main.outputSettings = seed.settings();
        main.ShowOutputSummary(SummaryForm::Size);
        const OutputSettings before = main.outputSettings;
        const QByteArray storedBefore = settingsFileOf(environment);
        const auto videoBefore = heldVideoCompressor;
        const QString statusBefore =
            platform::Control<QLabel>(&main, MainDialogIds::kStatusLine)->text();

        environment.files.saveAnswers = {environment.scratchPath(QStringLiteral("other.mpg"))};
        testing_support::ModalDriver cancel([&](QDialog* dialog) {
            auto* options = qobject_cast<OutputOptionsDialog*>(dialog);
            QVERIFY(options);
            options->OnBrowse();
            choose(options->resolutionList, 8);
            options->widthBox->setText(QStringLiteral("320"));
            choose(options->frameRateList, 6);
            options->frameRateBox->setText(QStringLiteral("15"));
            choose(options->resizeModeList, 1);
            choose(options->videoCompressorList, 2);
            choose(options->audioCompressorList, 0);
            options->OnDefault();
            platform::Control<QPushButton>(options, kCancel)->click();
        });
        main.ShowOutputOptions();
        QVERIFY(cancel.ran());
        QCOMPARE(main.outputSettings.outputName, before.outputName);
        QCOMPARE(main.outputSettings.outputWidth, before.outputWidth);
        QCOMPARE(main.outputSettings.frameRateIndex, before.frameRateIndex);
        QCOMPARE(main.outputSettings.outputFrameRate, before.outputFrameRate);
        QCOMPARE(main.outputSettings.resizeMode, before.resizeMode);
        QCOMPARE(settingsFileOf(environment), storedBefore);
        QVERIFY(heldVideoCompressor);
        QCOMPARE(heldVideoCompressor->factoryName, videoBefore->factoryName);
        QCOMPARE(platform::Control<QLabel>(&main, MainDialogIds::kStatusLine)->text(),
                 statusBefore);
    }

    void optionsWorkWhileConverting() {
        testing_support::TestEnvironment environment;
        ConverterDialog main;
        main.outputSettings = sourceOpened(720, 576, 25.0);
        main.converting = 1;
        const QString newName = environment.scratchPath(QStringLiteral("next.avi"));
        testing_support::ModalDriver confirm([&](QDialog* dialog) {
            auto* options = qobject_cast<OutputOptionsDialog*>(dialog);
            QVERIFY(options);
            options->outputFileBox->setText(newName);
            choose(options->resolutionList, 6);
            choose(options->frameRateList, 5);
            platform::Control<QPushButton>(options, kOk)->click();
        });
        main.ShowOutputOptions();
        QVERIFY(confirm.ran());
        QCOMPARE(main.converting, 1);
        QCOMPARE(main.outputSettings.outputName, newName);
        QCOMPARE(main.outputSettings.outputWidth, 352);
        QCOMPARE(main.outputSettings.outputHeight, 288);
        QCOMPARE(main.outputSettings.outputFrameRate, 30.0);
        QCOMPARE(main.outputSettings.sourceWidth, 720);  // inputs only, never copied back
        QCOMPARE(platform::Control<QLabel>(&main, MainDialogIds::kStatusLine)->text(),
                 QStringLiteral("Output File: %1     Resolution: 352*288").arg(newName));

        // Without a source the summary takes the original-size form.
        main.outputSettings = OutputSettings{};
        testing_support::ModalDriver again(
            [](QDialog* dialog) { platform::Control<QPushButton>(dialog, kOk)->click(); });
        main.ShowOutputOptions();
        QVERIFY(platform::Control<QLabel>(&main, MainDialogIds::kStatusLine)
                    ->text()
                    .endsWith(QStringLiteral("Resolution: Orinigal size")));
    }

    void installedCatalogueAndItsSettingsButton() {
        testing_support::TestEnvironment environment;
        InstallCompressorSource(nullptr);
        OutputOptionsDialog dialog(sourceOpened(720, 576, 25.0), 1);
        // The MPEG-4 encoder is the DivX-compatible one, so it is the default video choice.
        QVERIFY(dialog.videoCompressorList->currentText().contains(QStringLiteral("DivX")));
        QVERIFY(dialog.videoCompressorList->count() > 1);
        dialog.show();
        testing_support::SaveScreenshot(&dialog, QStringLiteral("output_options_dialog"));

        QString title;
        testing_support::ModalDriver settings([&](QDialog* opened) {
            title = opened->windowTitle();
            QVERIFY(qobject_cast<CodecConfigDialog*>(opened));
            QCOMPARE(opened->parentWidget(), &dialog);
            opened->reject();
        });
        platform::Control<QPushButton>(&dialog, kCompressorSettings)->click();
        QVERIFY(settings.ran());
        QVERIFY(title.contains(dialog.videoCompressorList->currentText()));
        QVERIFY(dialog.scratchList->isHidden());
        QVERIFY(dialog.scratchList->count() > 0);
    }
};

FRAMEWELL_TEST_MAIN(OutputOptionsDialogTest)
#include "test_output_options_dialog.moc"
