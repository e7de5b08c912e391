// The compressor catalogue: finding defaults by name, how positions count entries that
// misbehave, binding by position, its messages, the real encoder listing, and the DivX
// codec's feedback value.

#include <QComboBox>
#include <QDir>

#include "media/encoder_registry.h"
#include "media/media_framework.h"
#include "platform/settings_store.h"
#include "settings/compressor_catalogue.h"
#include "support/scripted_compressors.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::ScriptedCompressors;

class CompressorCatalogueTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestEnvironment> environment;

    static QStringList entriesOf(const QComboBox& list) {
        QStringList entries;
        for (int i = 0; i < list.count(); ++i) entries << list.itemText(i);
        return entries;
    }

private slots:
    void initTestCase() { QCOMPARE(media::StartMediaFramework(), S_OK); }
    void init() {
        environment = std::make_unique<testing_support::TestEnvironment>();
        heldVideoCompressor.reset();
        heldAudioCompressor.reset();
    }
    void cleanup() { environment.reset(); }

    void defaultsAreFoundByNameInAnyLetterCase() {
        ScriptedCompressors compressors;
        int position = -7;
        compressors.video = {ScriptedCompressors::named("Div X Codec"),
                             ScriptedCompressors::named("DivX 5.1.1 Codec")};
        QCOMPARE(FindDefaultVideoCompressor(&position), 1);
        QCOMPARE(position, 1);
        compressors.video = {ScriptedCompressors::named("Cinepak"), ScriptedCompressors::named("x"),
                             ScriptedCompressors::named("DIVX Pro")};
        QCOMPARE(FindDefaultVideoCompressor(&position), 1);
        QCOMPARE(position, 2);
        compressors.video = {ScriptedCompressors::named("Div X")};
        QCOMPARE(FindDefaultVideoCompressor(&position), 0);

        compressors.audio = {ScriptedCompressors::named("Microsoft IMA ADPCM"),
                             ScriptedCompressors::named("Microsoft ADPCM")};
        QCOMPARE(FindDefaultAudioCompressor(&position), 1);
        QCOMPARE(position, 1);
        compressors.audio = {ScriptedCompressors::named("Microsoft IMA ADPCM")};
        QCOMPARE(FindDefaultAudioCompressor(&position), 0);
        compressors.video.clear();
        QCOMPARE(FindDefaultVideoCompressor(&position), 0);
        QVERIFY(environment->messages.boxes.isEmpty());
    }

    void misbehavingEntriesCountDifferentlyPerOperation() {
        ScriptedCompressors compressors;
        CompressorMoniker noProperties = ScriptedCompressors::named("hidden");
        noProperties.propertiesReadable = false;
        CompressorMoniker noName = ScriptedCompressors::named("nameless");
        noName.friendlyName.reset();
        compressors.video = {ScriptedCompressors::named("Alpha"), noProperties, noName,
                             ScriptedCompressors::named("DivX Beta")};

        QComboBox list;
        QCOMPARE(FillVideoCompressorList(list), S_OK);
        QCOMPARE(entriesOf(list), (QStringList{"Full frames (uncompressed)", "Alpha", "DivX Beta"}));
        QCOMPARE(list.currentIndex(), 0);

        // The default search skips the entry without properties but counts the nameless one.
        int position = -1;
        QCOMPARE(FindDefaultVideoCompressor(&position), 1);
        QCOMPARE(position, 2);
        // Binding counts every entry, so that position names the nameless one.
        GetCompressor(position, &heldVideoCompressor);
        QVERIFY(heldVideoCompressor.has_value());
        QCOMPARE(heldVideoCompressor->factoryName, std::string("nameless"));
        GetCompressor(3, &heldVideoCompressor);
        QCOMPARE(heldVideoCompressor->friendlyName, QStringLiteral("DivX Beta"));
    }

    void bindingPastTheEndOrNegativeBindsNothingSilently() {
        ScriptedCompressors compressors;
        compressors.video = {ScriptedCompressors::named("A"), ScriptedCompressors::named("B")};
        heldVideoCompressor = CompressorHandle{"old", QStringLiteral("old")};
        GetCompressor(2, &heldVideoCompressor);
        QVERIFY(!heldVideoCompressor);
        GetCompressor(-5, &heldVideoCompressor);
        QVERIFY(!heldVideoCompressor);
        QVERIFY(environment->messages.boxes.isEmpty());
        GetAudioCompressor(0, &heldAudioCompressor);
        QVERIFY(!heldAudioCompressor);
    }

    void failuresShowTheirMessageOnce() {
        ScriptedCompressors compressors;
        compressors.video = {ScriptedCompressors::named("DivX")};
        GetCompressor(0, nullptr);
        GetAudioCompressor(0, nullptr);
        QCOMPARE(environment->messages.texts(),
                 (QStringList{"GetCompressor received invalid pointer",
                              "GetAudioCompressor received invalid pointer"}));
        QCOMPARE(environment->messages.boxes.front().icon, platform::BoxIcon::Exclamation);
        QCOMPARE(environment->messages.boxes.front().caption, platform::ProgramBaseName());

        environment->messages.clear();
        compressors.video.front().bindable = false;
        GetCompressor(0, &heldVideoCompressor);
        QVERIFY(!heldVideoCompressor);
        QCOMPARE(environment->messages.texts(), QStringList{"Failed to bind to object"});

        environment->messages.clear();
        compressors.systemEnumeratorResult = E_FAIL;
        QComboBox list;
        list.addItem(QStringLiteral("stale"));
        QCOMPARE(FillVideoCompressorList(list), E_FAIL);
        QCOMPARE(entriesOf(list), QStringList{"Full frames (uncompressed)"});
        int position = 0;
        QCOMPARE(FindDefaultVideoCompressor(&position), 0);
        QCOMPARE(environment->messages.texts(),
                 (QStringList{"Failed to create system enumerator", "Failed to create system enumerator"}));

        environment->messages.clear();
        compressors.systemEnumeratorResult = S_OK;
        compressors.classEnumeratorResult = E_OUTOFMEMORY;
        QCOMPARE(FillAudioCompressorList(list), E_OUTOFMEMORY);
        QCOMPARE(entriesOf(list), QStringList{"Uncompressed Audio"});
        QCOMPARE(environment->messages.texts(), QStringList{"Failed to create class enumerator"});
    }

    void installedEncodersAreListedInStableOrder() {
        QComboBox video;
        QCOMPARE(FillVideoCompressorList(video), S_OK);
        const auto& encoders = media::AviEncoders(media::EncoderKind::Video);
        QVERIFY2(!encoders.empty(), "no video encoder that the AVI writer accepts is installed");
        QCOMPARE(video.count(), int(encoders.size()) + 1);
        QCOMPARE(video.itemText(0), QStringLiteral("Full frames (uncompressed)"));
        for (std::size_t i = 0; i < encoders.size(); ++i) {
            QCOMPARE(video.itemText(int(i) + 1), QString::fromStdString(encoders[i].friendlyName));
            if (i > 0) QVERIFY(encoders[i - 1].factoryName < encoders[i].factoryName);
        }
        // The MPEG-4 Part 2 encoder is the DivX-compatible default and binds by its position.
        int position = -1;
        QCOMPARE(FindDefaultVideoCompressor(&position), 1);
        QVERIFY(video.itemText(position + 1).contains(QStringLiteral("DivX compatible")));
        GetCompressor(position, &heldVideoCompressor);
        QVERIFY(heldVideoCompressor.has_value());
        QCOMPARE(heldVideoCompressor->factoryName, std::string("avenc_mpeg4"));

        QComboBox audio;
        QCOMPARE(FillAudioCompressorList(audio), S_OK);
        QCOMPARE(audio.itemText(0), QStringLiteral("Uncompressed Audio"));
        QVERIFY(audio.count() > 1);
        bool hasMp3 = false;
        for (const auto& encoder : media::AviEncoders(media::EncoderKind::Audio))
            hasMp3 |= encoder.factoryName == "lamemp3enc";
        QVERIFY(hasMp3);
        QVERIFY(environment->messages.boxes.isEmpty());
    }

    void divxFeedbackIsSetOnlyWhereItExists() {
        platform::SettingsStore divx(QStringLiteral("DivXNetworks"), QStringLiteral("DivX4Windows"));
        const QString key = QStringLiteral("Disable feedback");
        QCOMPARE(DisableDivxFeedback(), 1);
        QVERIFY(!divx.contains(QString(), key));
        QVERIFY(!QFile::exists(environment->settingsFolder() + QStringLiteral("/DivXNetworks/DivX4Windows.conf")));

        divx.writeInt(QString(), key, 0);
        QCOMPARE(DisableDivxFeedback(), 1);
        QCOMPARE(divx.readInt(QString(), key, -1), 1);
        // Only the first byte of the value changes.
        divx.writeInt(QString(), key, 0x1200);
        DisableDivxFeedback();
        QCOMPARE(divx.readInt(QString(), key, -1), 0x1201);
        divx.writeString(QString(), key, QStringLiteral("no"));
        DisableDivxFeedback();
        QCOMPARE(divx.readString(QString(), key, QString()), QString(QChar(1)) + QLatin1Char('o'));
    }
};

FRAMEWELL_TEST_MAIN(CompressorCatalogueTest)
#include "test_compressor_catalogue.moc"
