// The compressor catalogue and the stored output options: finding the default compressors
// by name, how positions count entries that misbehave, binding by position, the real encoder
// listing, the DivX codec's feedback value; loading the options on a first run and from
// stored choices, the frame-rate choice and its custom rate, long names; the summary line.

#include <QComboBox>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/converter_dialog.h"
#include "media/core/media_framework.h"
#include "media/encoders/encoder_registry.h"
#include "platform/dialog_template.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "settings/compressor_catalogue.h"
#include "settings/compressor_lists.h"
#include "settings/output_options_dialog.h"
#include "settings/output_settings.h"
#include "support/scripted_compressors.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::ScriptedCompressors;
using namespace Qt::StringLiterals;

namespace {
const QString kSettings = QStringLiteral("Settings");
}

class CompressorsAndSettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestEnvironment> environment;
    // Installed for each test; a test of the real listing lets it go.
    std::unique_ptr<ScriptedCompressors> compressors;

    // Loads over what settings held before.
    static OutputSettings load(OutputSettings settings = {}) {
        LoadOutputSettings(settings, platform::SettingsStore());
        return settings;
    }

    static QStringList entriesOf(const QComboBox& list) {
        QStringList entries;
        for (int i = 0; i < list.count(); ++i) entries << list.itemText(i);
        return entries;
    }

private slots:
    void initTestCase() { QCOMPARE(media::StartMediaFramework(), S_OK); }
    void init() {
        environment = std::make_unique<testing_support::TestEnvironment>();
        compressors = std::make_unique<ScriptedCompressors>();
        compressors->video = {ScriptedCompressors::named("H.264 / AVC Video"),
                              ScriptedCompressors::named("DivX 5.1.1 Codec"),
                              ScriptedCompressors::named("Another DivX")};
        compressors->audio = {ScriptedCompressors::named("MP3 Audio"),
                              ScriptedCompressors::named("Microsoft ADPCM")};
    }
    void cleanup() {
        compressors.reset();
        environment.reset();
    }

    // The first name holding "divx" in any letter case (not "Div X"), and exactly
    // "Microsoft ADPCM" (not "Microsoft IMA ADPCM"); the position is where it was found.
    void defaultsAreFoundByName() {
        int position = -7;
        compressors->video = {ScriptedCompressors::named("Div X Codec"),
                              ScriptedCompressors::named("DivX 5.1.1 Codec")};
        QCOMPARE(FindDefaultVideoCompressor(&position, nullptr), 1);
        QCOMPARE(position, 1);
        compressors->video = {ScriptedCompressors::named("Cinepak"),
                              ScriptedCompressors::named("x"),
                              ScriptedCompressors::named("DIVX Pro")};
        QCOMPARE(FindDefaultVideoCompressor(&position, nullptr), 1);
        QCOMPARE(position, 2);
        compressors->video = {ScriptedCompressors::named("Div X")};
        QCOMPARE(FindDefaultVideoCompressor(&position, nullptr), 0);

        compressors->audio = {ScriptedCompressors::named("Microsoft IMA ADPCM"),
                              ScriptedCompressors::named("Microsoft ADPCM")};
        QCOMPARE(FindDefaultAudioCompressor(&position, nullptr), 1);
        QCOMPARE(position, 1);
        compressors->audio.pop_back();
        QCOMPARE(FindDefaultAudioCompressor(&position, nullptr), 0);
        QVERIFY(environment->messages.boxes.isEmpty());
    }

    // The list leaves out entries without properties or a name; the default search skips the
    // first but counts the second; binding counts every entry.
    void misbehavingEntriesCountDifferentlyPerOperation() {
        CompressorMoniker noProperties = ScriptedCompressors::named("hidden");
        noProperties.propertiesReadable = false;
        CompressorMoniker noName = ScriptedCompressors::named("nameless");
        noName.friendlyName.reset();
        compressors->video = {ScriptedCompressors::named("Alpha"), noProperties, noName,
                              ScriptedCompressors::named("DivX Beta")};

        QComboBox list;
        QVERIFY(!FillVideoCompressorList(list).failed());
        QCOMPARE(entriesOf(list), (QStringList{"Full frames (uncompressed)", "Alpha", "DivX Beta",
                                               "Direct stream copy"}));
        int position = -1;
        QCOMPARE(FindDefaultVideoCompressor(&position, nullptr), 1);
        QCOMPARE(position, 2);
        std::optional<CompressorHandle> bound;
        QVERIFY(!GetCompressor(position, &bound).failed());
        QVERIFY(bound.has_value());
        QCOMPARE(bound->factoryName, std::string("nameless"));
    }

    // Past the end or negative: nothing bound, nothing shown.
    void bindingPastTheEndBindsNothing() {
        compressors->video = {ScriptedCompressors::named("A"), ScriptedCompressors::named("B")};
        for (int position : {2, -5}) {
            std::optional<CompressorHandle> bound = CompressorHandle{"old", QStringLiteral("old")};
            QVERIFY(!GetCompressor(position, &bound).failed());
            QVERIFY(!bound);
        }
        QVERIFY(environment->messages.boxes.isEmpty());
    }

    // A failing step comes back as a result with its words; the catalogue shows nothing. The
    // options dialog shows the words in a box.
    void failedStepsAreResultsTheDialogShows() {
        using Step = CatalogueStep;
        std::vector<QString> entries;
        compressors->systemEnumeratorResult = E_FAIL;
        const CatalogueResult listed = CompressorListEntries(media::EncoderKind::Video, entries);
        QCOMPARE(listed.failedStep, Step::SystemEnumerator);
        QCOMPARE(CatalogueFailureText(listed),
                 QStringLiteral("Failed to create system enumerator"));
        QCOMPARE(entries, std::vector<QString>{QStringLiteral("Full frames (uncompressed)")});

        compressors->systemEnumeratorResult = S_OK;
        compressors->classEnumeratorResult = E_FAIL;
        int position = -1;
        CatalogueResult search;
        QCOMPARE(FindDefaultAudioCompressor(&position, &search), 0);
        QCOMPARE(search.failedStep, Step::ClassEnumerator);
        QCOMPARE(CatalogueFailureText(search), QStringLiteral("Failed to create class enumerator"));

        compressors->classEnumeratorResult = S_OK;
        compressors->video[1].bindable = false;
        std::optional<CompressorHandle> bound = CompressorHandle{"old", QStringLiteral("old")};
        const CatalogueResult refused = GetCompressor(1, &bound);
        QVERIFY(!bound);
        QCOMPARE(CatalogueFailureText(refused), QStringLiteral("Failed to bind to object"));
        QCOMPARE(CatalogueFailureText(GetAudioCompressor(0, nullptr)),
                 QStringLiteral("GetAudioCompressor received invalid pointer"));
        QVERIFY(CatalogueFailureText(GetCompressor(0, &bound)).isEmpty() && bound);
        QVERIFY(environment->messages.boxes.isEmpty());

        // Start-up's loading hands its failures back in order; the options dialog shows its own.
        compressors->classEnumeratorResult = E_FAIL;
        OutputSettings settings;
        const std::vector<CatalogueResult> failures =
            LoadOutputSettings(settings, platform::SettingsStore());
        QCOMPARE(failures.size(), std::size_t(2));
        QVERIFY(failures[0].kind == media::EncoderKind::Video &&
                failures[1].kind == media::EncoderKind::Audio);
        QVERIFY(environment->messages.boxes.isEmpty());
        OutputOptionsDialog dialog(settings, 1);
        QVERIFY(!environment->messages.texts().isEmpty());
        for (const QString& text : environment->messages.texts())
            QCOMPARE(text, QStringLiteral("Failed to create class enumerator"));
    }

    // The real listing: the uncompressed entry first, then every encoder the AVI writer takes
    // in a stable order, the DivX-compatible one found and bound at list entry = position + 1.
    void installedEncodersAreListedInStableOrder() {
        compressors.reset();
        QComboBox video;
        QVERIFY(!FillVideoCompressorList(video).failed());
        const auto& encoders = media::AviEncoders(media::EncoderKind::Video);
        QVERIFY2(!encoders.empty(), "no video encoder that the AVI writer accepts is installed");
        QCOMPARE(video.count(), int(encoders.size()) + 2);
        QCOMPARE(video.itemText(0), QStringLiteral("Full frames (uncompressed)"));
        QCOMPARE(video.itemText(video.count() - 1), QStringLiteral("Direct stream copy"));
        for (std::size_t i = 0; i < encoders.size(); ++i) {
            QCOMPARE(video.itemText(int(i) + 1), QString::fromStdString(encoders[i].friendlyName));
            if (i > 0) QVERIFY(encoders[i - 1].factoryName < encoders[i].factoryName);
        }
        int position = -1;
        QCOMPARE(FindDefaultVideoCompressor(&position, nullptr), 1);
        QVERIFY(video.itemText(position + 1).contains(QStringLiteral("DivX compatible")));
        std::optional<CompressorHandle> bound;
        QVERIFY(!GetCompressor(position, &bound).failed());
        QVERIFY(bound.has_value());
        QCOMPARE(bound->factoryName, std::string("avenc_mpeg4"));

        QComboBox audio;
        QVERIFY(!FillAudioCompressorList(audio).failed());
        QCOMPARE(audio.itemText(0), QStringLiteral("Uncompressed Audio"));
        QVERIFY(audio.count() > 1);
        QVERIFY(environment->messages.boxes.isEmpty());
    }

    // The trials' outcomes are kept for the installed plugins: the next listing tries nothing
    // and lists the same, and believes what was kept; outcomes kept for other plugins, or a
    // damaged file, are tried anew.
    void trialOutcomesAreKeptForTheInstalledPlugins() {
        QTemporaryDir folder;
        const std::string where = folder.path().toStdString();
        auto list = [&](int* trials) {
            QStringList factories;
            for (const media::EncoderInfo& encoder :
                 media::ListAviEncoders(media::EncoderKind::Video, where, trials))
                factories << QString::fromStdString(encoder.factoryName);
            return factories;
        };
        int trials = -1;
        const QStringList tried = list(&trials);
        QVERIFY(trials > 0 && tried.contains(u"avenc_mpeg4"_s));
        QCOMPARE(list(&trials), tried);
        QCOMPARE(trials, 0);

        const QString file = folder.filePath(u"encoder-trials.txt"_s);
        QByteArray kept = testing_support::ReadFile(file);
        QVERIFY(kept.contains("\navenc_mpeg4 1\n"));
        testing_support::WriteFile(
            file, QByteArray(kept).replace("\navenc_mpeg4 1\n", "\navenc_mpeg4 0\n"));
        QStringList without = tried;
        without.removeAll(u"avenc_mpeg4"_s);
        QCOMPARE(list(&trials), without);
        QCOMPARE(trials, 0);

        const int fingerprintAt = kept.indexOf("fingerprint ") + 12;
        kept[fingerprintAt] = kept[fingerprintAt] == '0' ? '1' : '0';
        for (const QByteArray& other : {kept, QByteArray("framewell encoder trials 1\n\x01")}) {
            testing_support::WriteFile(file, other);
            QCOMPARE(list(&trials), tried);
            QVERIFY(trials > 0);
        }
    }

    // Absent stays absent; a stored value gets 1 in its first byte and keeps the others.
    void divxFeedbackIsSetOnlyWhereItExists() {
        platform::SettingsStore divx(QStringLiteral("DivXNetworks"),
                                     QStringLiteral("DivX4Windows"));
        const QString key = QStringLiteral("Disable feedback");
        QCOMPARE(DisableDivxFeedback(), 1);
        QVERIFY(!divx.contains(QString(), key));
        QVERIFY(QDir(environment->settingsFolder()).isEmpty());

        divx.writeInt(QString(), key, 0);
        QCOMPARE(DisableDivxFeedback(), 1);
        QCOMPARE(divx.readInt(QString(), key, -1), 1);
        divx.writeInt(QString(), key, 0x1200);
        DisableDivxFeedback();
        QCOMPARE(divx.readInt(QString(), key, -1), 0x1201);
    }
    void firstRunTakesTheDefaultsAndWritesNothing() {
        OutputSettings settings = load();
        QCOMPARE(settings.outputName, platform::DefaultOutputName());
        QCOMPARE(settings.outputWidth, 0);
        QCOMPARE(settings.frameRateIndex, 1);
        QCOMPARE(settings.outputFrameRate, 23.976);
        // The first DivX in enumeration order and the Microsoft ADPCM codec are bound.
        QCOMPARE(settings.videoCompressionOn, 1);
        QCOMPARE(settings.audioCompressionOn, 1);
        QVERIFY(settings.videoCompressor && settings.audioCompressor);
        QCOMPARE(settings.videoCompressor->friendlyName, QStringLiteral("DivX 5.1.1 Codec"));
        QCOMPARE(settings.audioCompressor->friendlyName, QStringLiteral("Microsoft ADPCM"));
        QVERIFY(environment->messages.boxes.isEmpty());
        QVERIFY(QDir(environment->settingsFolder()).isEmpty());

        // A category without a default turns its compression off.
        compressors->video = {ScriptedCompressors::named("Div X Codec")};
        compressors->audio = {ScriptedCompressors::named("Microsoft IMA ADPCM")};
        settings = load();
        QCOMPARE(settings.videoCompressionOn, 0);
        QCOMPARE(settings.audioCompressionOn, 0);
        QVERIFY(!settings.videoCompressor && !settings.audioCompressor);
    }

    void storedChoicesBindByPosition() {
        platform::SettingsStore store;
        store.writeInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), -1);
        store.writeInt(QStringLiteral("DexAudioCompress"), QStringLiteral("CompressorNumber"), 0);
        OutputSettings settings = load();
        QCOMPARE(settings.videoCompressionOn, 0);
        QVERIFY(!settings.videoCompressor);
        QCOMPARE(settings.audioCompressionOn, 1);
        QCOMPARE(settings.audioCompressor->friendlyName, QStringLiteral("MP3 Audio"));
        // -1 turns compression off without a search; only the audio choice walked a category.
        QCOMPARE(compressors->enumerateCalls, 1);

        // A position past the end keeps compression on with nothing bound, silently.
        store.writeInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), 3);
        settings.videoCompressor = CompressorHandle{"stale", QStringLiteral("stale")};
        settings = load(settings);
        QCOMPARE(settings.videoCompressionOn, 1);
        QVERIFY(!settings.videoCompressor);
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
        store.writeInt(kSettings, index, 0);  // the source's rate, none open yet
        QCOMPARE(load().frameRateIndex, 0);
        QCOMPARE(load().outputFrameRate, 23.976);
        for (int outOfRange : {7, -1}) {
            store.writeInt(kSettings, index, outOfRange);
            QCOMPARE(load().frameRateIndex, 1);
            QCOMPARE(load().outputFrameRate, 23.976);
        }
    }

    // Values no conversion could use read as the missing ones do, and the store keeps them
    // until the options dialog is confirmed.
    void absurdStoredValuesReadAsDefaults() {
        platform::SettingsStore store;
        store.writeInt(kSettings, QStringLiteral("OutputFrameRateIndex"), 6);
        for (const char* text : {"fast", "nan", "inf", "-inf", "1e308", "0", "-25", "1000.5"}) {
            store.writeString(kSettings, QStringLiteral("OutputFrameRate"),
                              QString::fromLatin1(text));
            const OutputSettings settings = load();
            QCOMPARE(settings.frameRateIndex, 6);
            QVERIFY2(settings.outputFrameRate == 23.976, text);
        }
        for (const char* text : {"0.001", "1000"}) {
            store.writeString(kSettings, QStringLiteral("OutputFrameRate"),
                              QString::fromLatin1(text));
            QCOMPARE(load().outputFrameRate, QString::fromLatin1(text).toDouble());
        }
        QCOMPARE(store.readString(kSettings, QStringLiteral("OutputFrameRate"), {}), u"1000"_s);

        const QList<QPair<int, int>> unusable{{0, 480},    {-640, 480},  {640, -1},         {8, 8},
                                              {4104, 480}, {640, 99992}, {INT_MIN, INT_MAX}};
        for (const auto& [width, height] : unusable) {
            store.writeInt(kSettings, QStringLiteral("OutputWidth"), width);
            store.writeInt(kSettings, QStringLiteral("OutputHigh"), height);
            const OutputSettings settings = load();
            QVERIFY2(settings.outputWidth == 0 && settings.outputHeight == 0,
                     qPrintable(QStringLiteral("%1x%2").arg(width).arg(height)));
            QCOMPARE(store.readInt(kSettings, QStringLiteral("OutputWidth"), 0), width);
        }
        store.writeInt(kSettings, QStringLiteral("OutputWidth"), 4096);
        store.writeInt(kSettings, QStringLiteral("OutputHigh"), 16);
        QCOMPARE(load().outputWidth, 4096);

        // A compressor number below "never chosen" is never chosen: the default is bound.
        store.writeInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), -7);
        const OutputSettings settings = load();
        QCOMPARE(settings.videoCompressionOn, 1);
        QCOMPARE(settings.videoCompressor->friendlyName, QStringLiteral("DivX 5.1.1 Codec"));
    }

    void storedNameAndSizeAreRead() {
        platform::SettingsStore store;
        store.writeString(kSettings, QStringLiteral("OutputName"), QString(300, QLatin1Char('n')));
        store.writeInt(kSettings, QStringLiteral("OutputWidth"), 640);
        store.writeInt(kSettings, QStringLiteral("OutputHigh"), 480);
        const OutputSettings settings = load();
        QCOMPARE(settings.outputName, QString(259, QLatin1Char('n')));
        QCOMPARE(settings.outputWidth, 640);
        QCOMPARE(settings.outputHeight, 480);
    }

    // A name is never taken for a format: "%2" stays as typed.
    void summaryLineKeepsTheNameAsTyped() {
        OutputSettings settings;
        settings.outputName = QStringLiteral("/tmp/100%2 done.avi");
        settings.outputWidth = 720;
        settings.outputHeight = 576;
        QCOMPARE(OutputSummaryLine(settings, SummaryForm::Size),
                 QStringLiteral("Output File: /tmp/100%2 done.avi     Resolution: 720*576"));
    }

    // A failing catalogue reaches the user as framework boxes wherever the compressors are
    // looked up: the main dialog's start-up, the options dialog's OK and its Defaul.
    void catalogueFailuresReachTheUserAsBoxes() {
        const QString program = platform::ProgramBaseName();
        auto expectBoxes = [&](const QString& text) {
            QVERIFY2(!environment->messages.boxes.isEmpty(), qPrintable(text));
            for (const platform::BoxRequest& box : environment->messages.boxes) {
                QCOMPARE(box.text, text);
                QCOMPARE(box.caption, program);
            }
            environment->messages.clear();
        };

        compressors->classEnumeratorResult = E_FAIL;
        { ConverterDialog startUp; }
        expectBoxes(u"Failed to create class enumerator"_s);
        compressors->classEnumeratorResult = S_OK;

        compressors->video[0].bindable = false;
        OutputOptionsDialog options(OutputSettings{}, 0);
        environment->messages.clear();
        options.videoCompressorList->setCurrentIndex(1);  // the entry that will not bind
        platform::Control<QPushButton>(&options, OutputOptionsIds::kOk)->click();
        expectBoxes(u"Failed to bind to object"_s);

        OutputOptionsDialog again(OutputSettings{}, 0);
        environment->messages.clear();
        compressors->systemEnumeratorResult = E_FAIL;
        platform::Control<QPushButton>(&again, OutputOptionsIds::kDefault)->click();
        expectBoxes(u"Failed to create system enumerator"_s);
    }
};

FRAMEWELL_TEST_MAIN(CompressorsAndSettingsTest)
#include "test_compressors_and_settings.moc"
