// The installed encoders as configurable codecs: what their properties are, which of them
// take the query frame, and the generated configuration dialog storing what the user
// confirms where the conversion finds it.

#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QSpinBox>

#include <algorithm>

#include "media/encoder_registry.h"
#include "media/media_framework.h"
#include "platform/settings_store.h"
#include "settings/aligned_blocks.h"
#include "settings/codec_config_dialog.h"
#include "settings/codec_configuration.h"
#include "settings/codec_settings.h"
#include "settings/encoder_codecs.h"
#include "support/modal_driver.h"
#include "support/test_environment.h"
#include "support/test_main.h"

namespace {

const std::string kMpeg4 = "avenc_mpeg4";

const media::EncoderPropertyInfo* find(const std::vector<media::EncoderPropertyInfo>& properties,
                                       const std::string& name) {
    auto it = std::find_if(properties.begin(), properties.end(),
                           [&](const media::EncoderPropertyInfo& s) { return s.name == name; });
    return it == properties.end() ? nullptr : &*it;
}

QString friendlyNameOf(const std::string& factory) {
    for (const media::EncoderInfo& info : media::AviEncoders(media::EncoderKind::Video))
        if (info.factoryName == factory) return QString::fromStdString(info.friendlyName);
    return {};
}

}  // namespace

class EncoderCodecsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }

    void cleanup() {
        AlignedFree(codecStateBlock.block);
        codecStateBlock = {};
    }

    void propertiesDescribeTheEncoder() {
        const auto properties = media::WritableEncoderProperties(kMpeg4);
        QVERIFY(properties.size() > 20);
        QVERIFY(!find(properties, "name"));
        QVERIFY(!find(properties, "parent"));
        const media::EncoderPropertyInfo* bitrate = find(properties, "bitrate");
        QVERIFY(bitrate);
        QCOMPARE(bitrate->kind, media::PropertyKind::Integer);
        QCOMPARE(bitrate->minimum, std::string("0"));
        QCOMPARE(bitrate->maximum, std::string("2147483647"));
        QCOMPARE(bitrate->defaultValue, std::string("200000"));
        const media::EncoderPropertyInfo* pass = find(properties, "pass");
        QVERIFY(pass);
        QCOMPARE(pass->kind, media::PropertyKind::Enum);
        QCOMPARE(pass->defaultValue, std::string("cbr"));
        QVERIFY(std::any_of(pass->choices.begin(), pass->choices.end(),
                            [](const media::PropertyChoice& c) { return c.nick == "quant"; }));
        const media::EncoderPropertyInfo* flags = find(properties, "flags");
        QVERIFY(flags);
        QCOMPARE(flags->kind, media::PropertyKind::Flags);
        QVERIFY(media::WritableEncoderProperties("no-such-encoder").empty());

        QVERIFY(media::IsValidEncoderPropertyValue(kMpeg4, "bitrate", "800000"));
        QVERIFY(!media::IsValidEncoderPropertyValue(kMpeg4, "bitrate", "-1"));
        QVERIFY(!media::IsValidEncoderPropertyValue(kMpeg4, "bitrate", "fast"));
        QVERIFY(media::IsValidEncoderPropertyValue(kMpeg4, "pass", "quant"));
        QVERIFY(!media::IsValidEncoderPropertyValue(kMpeg4, "pass", "bogus"));
        QVERIFY(media::IsValidEncoderPropertyValue(kMpeg4, "flags", flags->choices.front().nick));
        QVERIFY(!media::IsValidEncoderPropertyValue(kMpeg4, "flags", "no-such-flag"));
        QVERIFY(!media::IsValidEncoderPropertyValue(kMpeg4, "name", "renamed"));
        QVERIFY(!media::IsValidEncoderPropertyValue(kMpeg4, "no-such-property", "1"));
        QVERIFY(!media::IsValidEncoderPropertyValue("no-such-encoder", "bitrate", "1"));
    }

    void queryFrameSortsOutEncodersThatCannotTakeIt() {
        using media::RawFrameFormat;
        QVERIFY(media::VideoEncoderAcceptsFrame(kMpeg4, 352, 240, RawFrameFormat::Bgr24));
        QVERIFY(media::VideoEncoderAcceptsFrame(kMpeg4, 352, 240, RawFrameFormat::Yuy2));
        // H.263 knows only its few picture sizes; 352 x 240 is not one of them.
        QVERIFY(!media::VideoEncoderAcceptsFrame("avenc_h263", 352, 240, RawFrameFormat::Bgr24));
        QVERIFY(media::VideoEncoderAcceptsFrame("avenc_h263", 352, 288, RawFrameFormat::Bgr24));
        QVERIFY(!media::VideoEncoderAcceptsFrame(kMpeg4, 0, 240, RawFrameFormat::Bgr24));
        QVERIFY(
            !media::VideoEncoderAcceptsFrame("no-such-encoder", 352, 240, RawFrameFormat::Bgr24));

        std::array<VcmCompressorInfo, kVcmTableSize> table;
        const int count = EnumerateVcmCompressors(352, 240, 1, table);
        QStringList descriptions;
        for (int i = 0; i < count; ++i) descriptions << table[std::size_t(i)].description;
        QVERIFY2(descriptions.contains(friendlyNameOf(kMpeg4)),
                 qPrintable(descriptions.join(", ")));
        QVERIFY(!descriptions.contains(friendlyNameOf("avenc_h263")));
    }

    void stateOfAnEncoderHasOneSize() {
        testing_support::TestEnvironment environment;
        EncoderCodec codec({kCodecTypeVideo, kMpeg4, {}, friendlyNameOf(kMpeg4)});
        const std::size_t size = codec.stateSize();
        QVERIFY(size > 0);
        std::vector<std::uint8_t> state(size, 0xEE);
        QCOMPARE(codec.getState(state.data(), size), size);

        // Another value of another length: the same size, and the state carries the value.
        EncoderCodec other({kCodecTypeVideo, kMpeg4, {}, friendlyNameOf(kMpeg4)});
        media::EncoderProperties values;
        QVERIFY(media::DeserializeEncoderProperties(state.data(), size, values));
        for (auto& value : values)
            if (value.name == "bitrate") value.value = "1234567";
        const auto block = media::SerializeEncoderProperties(values);
        std::vector<std::uint8_t> changed(size, 0);
        std::copy(block.begin(), block.end(), changed.begin());
        QVERIFY(other.setState(changed.data(), size));
        QCOMPARE(other.stateSize(), size);
        QCOMPARE(other.changedValues().size(), std::size_t(1));
        QCOMPARE(other.changedValues()[0].value, std::string("1234567"));

        // Values the encoder would refuse never reach it; a damaged block is refused whole.
        for (auto& value : values)
            if (value.name == "bitrate") value.value = "-5";
        const auto bad = media::SerializeEncoderProperties(values);
        QVERIFY(other.setState(bad.data(), bad.size()));
        QCOMPARE(other.changedValues()[0].value, std::string("1234567"));
        QVERIFY(!other.setState(state.data(), 10));
    }

    void settingsDialogStoresWhatTheUserConfirms() {
        testing_support::TestEnvironment environment;
        const QString mpeg4 = friendlyNameOf(kMpeg4);
        QVERIFY(!mpeg4.isEmpty());
        QComboBox scratch;

        // OK keeps the edited bitrate: in the store for the conversion, and as the kept state.
        testing_support::ModalDriver confirm([&](QDialog* dialog) {
            auto* config = qobject_cast<CodecConfigDialog*>(dialog);
            QVERIFY(config);
            QVERIFY(config->windowTitle().contains(mpeg4));
            auto* bitrate = qobject_cast<QSpinBox*>(config->editor("bitrate"));
            QVERIFY(bitrate);
            QCOMPARE(bitrate->value(), 200000);
            QCOMPARE(bitrate->maximum(), 2147483647);
            bitrate->setValue(123456);
            testing_support::SaveScreenshot(config, QStringLiteral("codec_settings_dialog"));
            config->accept();
        });
        ConfigureSelectedVideoCompressor(mpeg4, nullptr, &scratch);
        QVERIFY(confirm.ran());
        const platform::SettingsStore store;
        media::EncoderProperties stored = LoadCodecSettings(store, kMpeg4);
        QCOMPARE(stored.size(), std::size_t(1));
        QCOMPARE(stored[0].name, std::string("bitrate"));
        QCOMPARE(stored[0].value, std::string("123456"));
        QVERIFY(codecStateBlock.block);
        QCOMPARE(codecStateBlock.handler, kMpeg4);
        QVERIFY(scratch.findText(mpeg4) >= 0);

        // The next press shows the confirmed value; Cancel after changes stores nothing, and a
        // text the encoder would refuse keeps the dialog open with a message.
        testing_support::ModalDriver cancel([&](QDialog* dialog) {
            auto* config = qobject_cast<CodecConfigDialog*>(dialog);
            QVERIFY(config);
            auto* bitrate = qobject_cast<QSpinBox*>(config->editor("bitrate"));
            QCOMPARE(bitrate->value(), 123456);
            bitrate->setValue(999);
            auto* flags = qobject_cast<QLineEdit*>(config->editor("flags"));
            QVERIFY(flags);
            flags->setText(QStringLiteral("no-such-flag"));
            config->accept();
            QVERIFY(config->isVisible());
            QCOMPARE(environment.messages.boxes.size(), 1);
            QVERIFY(environment.messages.boxes[0].text.contains(QStringLiteral("no-such-flag")));
            config->reject();
        });
        ConfigureSelectedVideoCompressor(mpeg4, nullptr, &scratch);
        QVERIFY(cancel.ran());
        stored = LoadCodecSettings(store, kMpeg4);
        QCOMPARE(stored.size(), std::size_t(1));
        QCOMPARE(stored[0].value, std::string("123456"));
        media::EncoderProperties kept;
        QVERIFY(media::DeserializeEncoderProperties(codecStateBlock.block,
                                                    AlignedSize(codecStateBlock.block), kept));
        QVERIFY(std::any_of(kept.begin(), kept.end(), [](const media::EncoderProperty& p) {
            return p.name == "bitrate" && p.value == "123456";
        }));

        // Back to the default value: nothing is left to apply.
        testing_support::ModalDriver reset([&](QDialog* dialog) {
            auto* config = qobject_cast<CodecConfigDialog*>(dialog);
            qobject_cast<QSpinBox*>(config->editor("bitrate"))->setValue(200000);
            config->accept();
        });
        ConfigureSelectedVideoCompressor(mpeg4, nullptr, &scratch);
        QVERIFY(reset.ran());
        QVERIFY(LoadCodecSettings(store, kMpeg4).empty());
    }
};

FRAMEWELL_TEST_MAIN(EncoderCodecsTest)
#include "test_encoder_codecs.moc"
