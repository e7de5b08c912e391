// Loading and saving the output options: defaults on a first run, the compressor choices,
// the frame-rate choice and its custom rate, long names, and what a save writes.

#include <QDir>
#include <QFile>

#include "platform/paths.h"
#include "platform/settings_store.h"
#include "settings/compressor_catalogue.h"
#include "settings/output_settings.h"
#include "support/scripted_compressors.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::ScriptedCompressors;

namespace {
const QString kSettings = QStringLiteral("Settings");
}

class OutputSettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestEnvironment> environment;
    std::unique_ptr<ScriptedCompressors> compressors;

    static OutputSettings load() {
        OutputSettings settings;
        LoadOutputSettings(settings, platform::SettingsStore());
        return settings;
    }

private slots:
    void init() {
        environment = std::make_unique<testing_support::TestEnvironment>();
        compressors = std::make_unique<ScriptedCompressors>();
        compressors->video = {ScriptedCompressors::named("H.264 / AVC Video"),
                              ScriptedCompressors::named("DivX 5.1.1 Codec"),
                              ScriptedCompressors::named("Another DivX")};
        compressors->audio = {ScriptedCompressors::named("MP3 Audio"),
                              ScriptedCompressors::named("Microsoft ADPCM")};
        heldVideoCompressor.reset();
        heldAudioCompressor.reset();
    }
    void cleanup() {
        compressors.reset();
        environment.reset();
    }

    void firstRunTakesTheDefaultsAndWritesNothing() {
        const OutputSettings settings = load();
        QCOMPARE(settings.outputName, platform::DefaultOutputName());
        QCOMPARE(settings.outputWidth, 0);
        QCOMPARE(settings.outputHeight, 0);
        QCOMPARE(settings.frameRateIndex, 1);
        QCOMPARE(settings.outputFrameRate, 23.976);
        QCOMPARE(settings.resizeMode, kResizePreserveAspectRatio);
        // The first DivX in enumeration order and the Microsoft ADPCM codec are bound.
        QCOMPARE(settings.videoCompressionOn, 1);
        QVERIFY(heldVideoCompressor.has_value());
        QCOMPARE(heldVideoCompressor->friendlyName, QStringLiteral("DivX 5.1.1 Codec"));
        QCOMPARE(settings.audioCompressionOn, 1);
        QVERIFY(heldAudioCompressor.has_value());
        QCOMPARE(heldAudioCompressor->friendlyName, QStringLiteral("Microsoft ADPCM"));
        QVERIFY(environment->messages.boxes.isEmpty());
        QVERIFY(QDir(environment->settingsFolder()).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
    }

    void categoryWithoutADefaultTurnsCompressionOff() {
        compressors->video = {ScriptedCompressors::named("Div X Codec"),
                              ScriptedCompressors::named("H.264")};
        compressors->audio = {ScriptedCompressors::named("Microsoft IMA ADPCM")};
        const OutputSettings settings = load();
        QCOMPARE(settings.videoCompressionOn, 0);
        QCOMPARE(settings.audioCompressionOn, 0);
        QVERIFY(!heldVideoCompressor && !heldAudioCompressor);
    }

    void storedChoicesBindByPosition() {
        platform::SettingsStore store;
        store.writeInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), -1);
        store.writeInt(QStringLiteral("DexAudioCompress"), QStringLiteral("CompressorNumber"), 0);
        OutputSettings settings = load();
        QCOMPARE(settings.videoCompressionOn, 0);
        QVERIFY(!heldVideoCompressor);
        QCOMPARE(settings.audioCompressionOn, 1);
        QCOMPARE(heldAudioCompressor->friendlyName, QStringLiteral("MP3 Audio"));
        // -1 turns compression off without a search; only the audio choice walked a category.
        QCOMPARE(compressors->enumerateCalls, 1);

        // A position past the end keeps compression on with nothing bound, silently.
        store.writeInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), 3);
        heldVideoCompressor = CompressorHandle{"stale", QStringLiteral("stale")};
        settings = load();
        QCOMPARE(settings.videoCompressionOn, 1);
        QVERIFY(!heldVideoCompressor);
        QVERIFY(environment->messages.boxes.isEmpty());
    }

    void frameRateChoiceAndCustomRate() {
        platform::SettingsStore store;
        const QString index = QStringLiteral("OutputFrameRateIndex");
        const QString rate = QStringLiteral("OutputFrameRate");

        store.writeInt(kSettings, index, 6);
        QCOMPARE(load().outputFrameRate, 23.976);  // custom without a stored rate
        store.writeString(kSettings, rate, QStringLiteral("12.5"));
        QCOMPARE(load().outputFrameRate, 12.5);
        QCOMPARE(load().frameRateIndex, 6);
        store.writeString(kSettings, rate, QStringLiteral("fast"));
        QCOMPARE(load().outputFrameRate, 0.0);  // the options dialog refuses it later

        store.writeInt(kSettings, index, 0);  // the source's rate, none open yet
        QCOMPARE(load().outputFrameRate, 23.976);
        QCOMPARE(load().frameRateIndex, 0);
        store.writeInt(kSettings, index, 4);
        QCOMPARE(load().outputFrameRate, 29.97);

        for (int outOfRange : {7, -1, 1000}) {
            store.writeInt(kSettings, index, outOfRange);
            const OutputSettings settings = load();
            QCOMPARE(settings.frameRateIndex, 1);
            QCOMPARE(settings.outputFrameRate, 23.976);
        }
    }

    void storedNameAndSizeAreRead() {
        platform::SettingsStore store;
        store.writeString(kSettings, QStringLiteral("OutputName"), QString(300, QLatin1Char('n')));
        store.writeInt(kSettings, QStringLiteral("OutputWidth"), 640);
        store.writeInt(kSettings, QStringLiteral("OutputHigh"), 480);
        store.writeInt(kSettings, QStringLiteral("OutputHeight"), 999);  // not the key we use
        const OutputSettings settings = load();
        QCOMPARE(settings.outputName, QString(259, QLatin1Char('n')));
        QCOMPARE(settings.outputWidth, 640);
        QCOMPARE(settings.outputHeight, 480);
    }

    void saveWritesWhatTheNextRunReads() {
        platform::SettingsStore store;
        OutputSettingsChoice choice;
        choice.frameRateListPosition = 6;
        choice.frameRateText = QStringLiteral("12.5");
        choice.outputName = QStringLiteral("/videos/holiday clip.avi");
        choice.outputWidth = 696;
        choice.outputHeight = 392;
        choice.videoListPosition = 0;  // uncompressed
        choice.audioListPosition = 2;
        SaveOutputSettings(store, choice);

        const OutputSettings settings = load();
        QCOMPARE(settings.outputName, choice.outputName);
        QCOMPARE(settings.outputWidth, 696);
        QCOMPARE(settings.outputHeight, 392);
        QCOMPARE(settings.frameRateIndex, 6);
        QCOMPARE(settings.outputFrameRate, 12.5);
        QCOMPARE(settings.videoCompressionOn, 0);
        QCOMPARE(heldAudioCompressor->friendlyName, QStringLiteral("Microsoft ADPCM"));
        QCOMPARE(store.readInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), 7), -1);

        // The source's own rate is stored as the fixed text, not the box's.
        choice.frameRateListPosition = 0;
        choice.frameRateText = QStringLiteral("25.000000");
        SaveOutputSettings(store, choice);
        QCOMPARE(store.readString(kSettings, QStringLiteral("OutputFrameRate"), QString()),
                 QStringLiteral("23.976"));
    }

    void summaryLineForms() {
        OutputSettings settings;
        settings.outputName = QStringLiteral("/tmp/100%2 done.avi");
        settings.outputWidth = 720;
        settings.outputHeight = 576;
        QCOMPARE(OutputSummaryLine(settings, SummaryForm::OriginalSize),
                 QStringLiteral("Output File: /tmp/100%2 done.avi     Resolution: Orinigal size"));
        QCOMPARE(OutputSummaryLine(settings, SummaryForm::Size),
                 QStringLiteral("Output File: /tmp/100%2 done.avi     Resolution: 720*576"));
    }
};

FRAMEWELL_TEST_MAIN(OutputSettingsTest)
#include "test_output_settings.moc"
