// The Settings button's codec configuration: matching a compressor entry to its codec and
// keeping its state, against a scripted compression manager; the aligned block registry;
// and the installed encoders as codecs, with the generated dialog that stores what the user
// confirms where the conversion finds it.

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSpinBox>
#include <QSpontaneKeyEvent>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cstring>

#include "media/core/media_framework.h"
#include "media/encoders/encoder_properties.h"
#include "media/encoders/encoder_registry.h"
#include "platform/dialog_template.h"
#include "platform/settings_store.h"
#include "settings/aligned_allocator.h"
#include "settings/codec_config_dialog.h"
#include "settings/codec_configuration.h"
#include "settings/codec_settings.h"
#include "settings/encoder_codecs.h"
#include "settings/output_options_dialog.h"
#include "support/modal_driver.h"
#include "support/test_environment.h"
#include "support/test_main.h"

namespace {

struct ScriptedCodecSetup {
    QString description;
    bool opens = true;
    bool takesQuery = true;
    std::size_t stateSize = 64;
    bool confirms = true;
    char stateByte = 'x';  // what the codec's state is filled with
};

// Codecs "codec0", "codec1", ... that do as their setups say and log the calls that matter.
class ScriptedManager : public VideoCompressionManager {
public:
    std::vector<ScriptedCodecSetup> codecs;
    QStringList calls;         // "codecN:call", in order
    QByteArray stateReceived;  // the last one
    BitmapInfoHeader lastQuery;

    ScriptedManager() { InstallVideoCompressionManager(this); }
    ~ScriptedManager() override { InstallVideoCompressionManager(nullptr); }

    static std::string handlerOf(std::size_t index) { return "codec" + std::to_string(index); }

    bool info(std::uint32_t index, VcmCompressorInfo& out) override {
        if (index >= codecs.size()) return false;
        out = {kCodecTypeVideo, handlerOf(index), QString(), codecs[index].description};
        return true;
    }
    std::unique_ptr<VcmCodec> open(std::uint32_t type, const std::string& handler) override;

    // Configures codec i as the Settings button would, with the kept state.
    void configure(std::uint32_t index) {
        VcmCompressorInfo entry;
        QVERIFY(info(index, entry));
        ConfigureVcmCompressor(nullptr, entry, codecStateBlock);
    }
};

class ScriptedCodec : public VcmCodec {
public:
    ScriptedCodec(ScriptedManager& manager, std::size_t index)
        : manager_(manager), setup_(manager.codecs[index]), handler_(manager.handlerOf(index)) {}

    bool compressQuery(const BitmapInfoHeader& input) override {
        manager_.lastQuery = input;
        return setup_.takesQuery;
    }
    VcmCompressorInfo getInfo() override {
        return {kCodecTypeVideo, handler_, QString(), setup_.description};
    }
    std::size_t stateSize() override { return setup_.stateSize; }
    bool setState(const void* data, std::size_t size) override {
        manager_.calls << QString::fromStdString(handler_ + ":setState");
        manager_.stateReceived = QByteArray(static_cast<const char*>(data), qsizetype(size));
        return true;
    }
    std::size_t getState(void* data, std::size_t size) override {
        std::memset(data, setup_.stateByte, size);
        return size;
    }
    bool configure(QWidget*) override {
        manager_.calls << QString::fromStdString(handler_ + ":configure");
        return setup_.confirms;
    }

private:
    ScriptedManager& manager_;
    ScriptedCodecSetup setup_;
    std::string handler_;
};

std::unique_ptr<VcmCodec> ScriptedManager::open(std::uint32_t type, const std::string& handler) {
    for (std::size_t i = 0; i < codecs.size(); ++i)
        if (type == kCodecTypeVideo && handlerOf(i) == handler && codecs[i].opens)
            return std::make_unique<ScriptedCodec>(*this, i);
    return nullptr;
}

char keptByte(std::size_t at) {
    return static_cast<const char*>(codecStateBlock.block)[at];
}

const std::string kMpeg4 = "avenc_mpeg4";

QString friendlyNameOf(const std::string& factory) {
    for (const media::EncoderInfo& info : media::AviEncoders(media::EncoderKind::Video))
        if (info.factoryName == factory) return QString::fromStdString(info.friendlyName);
    return {};
}

}  // namespace

class CodecConfigurationTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(SUCCEEDED(media::StartMediaFramework())); }

    void cleanup() {
        AlignedFree(codecStateBlock.block);
        codecStateBlock = {};
    }

    void tableHoldsTheCodecsThatTakeTheQueryFormat() {
        ScriptedManager manager;
        manager.codecs = {{QStringLiteral("Takes it")},
                          {QStringLiteral("Does not open"), false},
                          {QStringLiteral("Refuses the frame"), true, false},
                          {QStringLiteral("Takes it too")}};
        std::array<VcmCompressorInfo, kVcmTableSize> table;
        QCOMPARE(EnumerateVcmCompressors(352, 240, 1, table), 2);
        QCOMPARE(table[0].description, QStringLiteral("Takes it"));
        QCOMPARE(table[1].handler, std::string("codec3"));
        QCOMPARE(manager.lastQuery.biBitCount, std::uint16_t(24));
        QCOMPARE(manager.lastQuery.biSizeImage, 253440u);

        // More codecs than the table holds: the first 50 that take the frame.
        manager.codecs.assign(60, {QStringLiteral("Many")});
        manager.codecs[0].takesQuery = false;
        QCOMPARE(EnumerateVcmCompressors(352, 240, 1, table), 50);
        QCOMPARE(table[0].handler, std::string("codec1"));
        QCOMPARE(table[49].handler, std::string("codec50"));
    }

    void selectedEntryFindsItsCodec() {
        testing_support::TestEnvironment environment;
        ScriptedManager manager;
        const QString pro505 = QStringLiteral("DivX Pro 5.0.5 Codec");
        const struct {
            QStringList codecs;
            QString selected;
            int configured;  // -1: nothing is shown
        } cases[] = {
            // Equal descriptions in any letter case; the last one wins over an earlier DivX.
            {{"DivX 5.1.1 Codec", "divx pro 5.0.5 codec", "Cinepak Codec", pro505}, pro505, 3},
            // No equal description: the first DivX codec with a version stands in.
            {{"Cinepak Codec", "DivX Codec", "DIVX Pro 5.1.1 Codec", "DivX 6.0"}, pro505, 2},
            {{"Cinepak Codec", "DivX Codec"}, pro505, -1},
            {{"Cinepak Codec"}, QStringLiteral("Full frames (uncompressed)"), -1},
            {{"DivX Pro 5.1.1 Codec"}, QStringLiteral("DivX Codec"), -1},
        };
        for (const auto& c : cases) {
            manager.codecs.clear();
            for (const QString& description : c.codecs) manager.codecs.push_back({description});
            manager.calls.clear();
            QComboBox scratch;
            ConfigureSelectedVideoCompressor(c.selected, nullptr, &scratch);
            QCOMPARE(scratch.count(), c.codecs.size());
            if (c.configured < 0) {
                QVERIFY(manager.calls.isEmpty());
                continue;
            }
            QCOMPARE(manager.calls,
                     QStringList{QStringLiteral("codec%1:configure").arg(c.configured)});
            QCOMPARE(scratch.currentIndex(), c.configured);
        }
        QVERIFY(environment.messages.boxes.isEmpty());
    }

    void keptStateGoesBackOnlyToItsOwnCodec() {
        ScriptedManager manager;
        manager.codecs = {{QStringLiteral("First"), true, true, 64, true, 'A'},
                          {QStringLiteral("Second"), true, true, 64, true, 'B'},
                          {QStringLiteral("Stateless"), true, true, 0},
                          {QStringLiteral("Refuses"), true, true, 64, false, 'R'}};
        const std::size_t blocksBefore = AlignedBlockCount();
        manager.configure(0);
        QCOMPARE(codecStateBlock.handler, std::string("codec0"));
        QCOMPARE(AlignedSize(codecStateBlock.block), std::size_t(64));
        QCOMPARE(keptByte(63), 'A');

        // The same codec gets its state back before its dialog opens; another codec whose
        // state has the same size never receives it.
        manager.configure(0);
        manager.configure(1);
        QCOMPARE(manager.calls, (QStringList{"codec0:configure", "codec0:setState",
                                             "codec0:configure", "codec1:configure"}));
        QCOMPARE(manager.stateReceived, QByteArray(64, 'A'));
        QCOMPARE(codecStateBlock.handler, std::string("codec1"));
        QCOMPARE(keptByte(0), 'B');
        QCOMPARE(AlignedBlockCount(), blocksBefore + 1);

        // A codec without state shows nothing; a refused dialog keeps the state as it was.
        manager.calls.clear();
        manager.configure(2);
        QVERIFY(manager.calls.isEmpty());
        void* kept = codecStateBlock.block;
        manager.codecs[1].confirms = false;
        manager.codecs[1].stateByte = 'Z';
        manager.configure(1);
        QCOMPARE(codecStateBlock.block, kept);
        QCOMPARE(keptByte(0), 'B');
        // A new block for a refused dialog would hold nothing; it is not kept.
        manager.configure(3);
        QVERIFY(!codecStateBlock.block);
        QCOMPARE(AlignedBlockCount(), blocksBefore);

        // A full registry gives no block, but the dialog is still shown.
        std::vector<void*> filler;
        while (AlignedBlockCount() < kAlignedBlockLimit) filler.push_back(AlignedAlloc(1));
        manager.calls.clear();
        manager.configure(0);
        QCOMPARE(manager.calls, QStringList{QStringLiteral("codec0:configure")});
        QVERIFY(!codecStateBlock.block);
        for (void* block : filler) AlignedFree(block);
    }

    void alignedBlocksRememberTheirSizes() {
        const std::size_t before = AlignedBlockCount();
        std::vector<void*> blocks;
        for (std::size_t size : {1u, 15u, 16u, 17u, 1000u, 0u}) {
            void* block = AlignedAlloc(size);
            QVERIFY(block);
            QCOMPARE(reinterpret_cast<std::uintptr_t>(block) % 16, std::uintptr_t(0));
            std::memset(block, 0xAB, size);  // the whole size is usable (sanitizers check)
            QCOMPARE(AlignedSize(block), size);
            blocks.push_back(block);
        }
        QCOMPARE(AlignedSize(nullptr), std::size_t(0));
        QVERIFY(!AlignedAlloc(std::size_t(-1) - 15));

        // Freeing an unknown address does nothing; freeing one block leaves the others.
        int local = 0;
        AlignedFree(&local);
        QCOMPARE(AlignedBlockCount(), before + blocks.size());
        AlignedFree(blocks[2]);
        QCOMPARE(AlignedSize(blocks[2]), std::size_t(0));
        QCOMPARE(AlignedSize(blocks[4]), std::size_t(1000));
        blocks.erase(blocks.begin() + 2);

        // A full registry hands out nothing until a block is freed.
        while (AlignedBlockCount() < kAlignedBlockLimit) blocks.push_back(AlignedAlloc(8));
        QVERIFY(!AlignedAlloc(8));
        AlignedFree(blocks.back());
        blocks.back() = AlignedAlloc(8);
        QVERIFY(blocks.back());
        for (void* block : blocks) AlignedFree(block);
        QCOMPARE(AlignedBlockCount(), before);
    }

    void damagedStateBlocksAreRefused() {
        const media::EncoderProperties set = {{"bitrate", "800000"}, {"rc-eq", ""}};
        const std::vector<std::uint8_t> block = media::SerializeEncoderProperties(set);
        // Zero padding after the set belongs to a fixed-size block.
        std::vector<std::uint8_t> padded = block;
        padded.resize(block.size() + 100, 0);
        media::EncoderProperties read;
        QVERIFY(media::DeserializeEncoderProperties(padded.data(), padded.size(), read));
        QCOMPARE(read.size(), set.size());
        QCOMPARE(read[0].value, std::string("800000"));

        auto damaged = [&](std::size_t at, std::uint8_t value, std::size_t bytes = 1) {
            std::vector<std::uint8_t> copy = padded;
            std::fill_n(copy.begin() + qsizetype(at), bytes, value);
            return copy;
        };
        const std::vector<std::uint8_t> bad[] = {
            damaged(padded.size() - 1, 1),  // not zero after the set
            damaged(0, 'X'),                // another format
            damaged(8, 0xFF, 4),            // a count no block could hold
            damaged(12, 0xF0),              // the first name's length far past the end
            {block.begin(), block.end() - 1}};
        media::EncoderProperties untouched = {{"keep", "me"}};
        for (const auto& bytes : bad)
            QVERIFY(!media::DeserializeEncoderProperties(bytes.data(), bytes.size(), untouched));
        QCOMPARE(untouched.size(), std::size_t(1));
    }

    void encoderStateHasOneSizeAndRefusesBadValues() {
        testing_support::TestEnvironment environment;
        EncoderCodec codec({kCodecTypeVideo, kMpeg4, {}, friendlyNameOf(kMpeg4)});
        const std::size_t size = codec.stateSize();
        QVERIFY(size > 0);
        std::vector<std::uint8_t> state(size, 0xEE);
        QCOMPARE(codec.getState(state.data(), size), size);
        media::EncoderProperties values;
        QVERIFY(media::DeserializeEncoderProperties(state.data(), size, values));

        // A value of another length: the state keeps its size and carries the value.
        auto withBitrate = [&values, size](const char* bitrate) {
            for (auto& value : values)
                if (value.name == "bitrate") value.value = bitrate;
            std::vector<std::uint8_t> block = media::SerializeEncoderProperties(values);
            block.resize(std::max(block.size(), size), 0);
            return block;
        };
        EncoderCodec other({kCodecTypeVideo, kMpeg4, {}, friendlyNameOf(kMpeg4)});
        const auto changed = withBitrate("1234567");
        QVERIFY(other.setState(changed.data(), changed.size()));
        QCOMPARE(other.stateSize(), size);
        QCOMPARE(other.changedValues().size(), std::size_t(1));
        QCOMPARE(other.changedValues()[0].value, std::string("1234567"));
        // Values the encoder would refuse never reach it; a damaged block is refused whole.
        const auto bad = withBitrate("-5");
        QVERIFY(other.setState(bad.data(), bad.size()));
        QCOMPARE(other.changedValues()[0].value, std::string("1234567"));
        QVERIFY(!other.setState(state.data(), 10));
    }

    // What people tune is in sight in plain words, the plumbing is nowhere and the rest waits
    // behind Advanced; every property still keeps its value. The wheel over a field scrolls
    // the settings until the field has been chosen.
    void settingsPeopleTuneComeFirstAndTheWheelScrolls() {
        testing_support::TestEnvironment environment;
        const auto properties = media::WritableEncoderProperties(kMpeg4);
        CodecConfigDialog dialog(kMpeg4, QStringLiteral("MPEG-4"), properties, {});
        dialog.resize(420, 260);
        dialog.show();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        for (const char* name : {"pass", "bitrate", "quantizer", "gop-size", "max-bframes"})
            QVERIFY2(dialog.editor(name) && dialog.editor(name)->isVisibleTo(&dialog), name);
        for (const char* name : {"qos", "threads", "debug", "multipass-cache-file", "dump-separator"})
            QVERIFY2(!dialog.editor(name), name);
        QWidget* flags = dialog.editor("flags");
        QVERIFY(flags && !flags->isVisibleTo(&dialog));
        dialog.findChild<QToolButton*>(QStringLiteral("advancedToggle"))->click();
        QVERIFY(flags->isVisibleTo(&dialog));
        const media::EncoderProperties values = dialog.values();
        QCOMPARE(values.size(), properties.size());
        for (std::size_t i = 0; i < values.size(); ++i)
            QCOMPARE(values[i].value, properties[i].defaultValue);

        auto* field = qobject_cast<QSpinBox*>(dialog.editor("me-range"));
        QVERIFY(field);
        QScrollBar* scrolling = dialog.findChild<QScrollArea*>()->verticalScrollBar();
        auto wheelDown = [&] {
            const QPointF inside(field->width() / 2.0, field->height() / 2.0);
            QWheelEvent wheel(inside, field->mapToGlobal(inside), QPoint(), QPoint(0, -120),
                              Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
            // As from the mouse: only such a wheel goes on to the field's parents.
            QSpontaneKeyEvent::setSpontaneous(&wheel);
            qApp->notify(field, &wheel);
        };
        QTRY_VERIFY(scrolling->maximum() > 0);  // once the opened part is laid out
        const int value = field->value();
        const int scrolled = scrolling->value();
        wheelDown();
        QCOMPARE(field->value(), value);
        QVERIFY(scrolling->value() > scrolled);
        field->setFocus();
        wheelDown();
        QVERIFY(field->value() != value);
    }

    void settingsDialogStoresWhatTheUserConfirms() {
        testing_support::TestEnvironment environment;
        // The options dialog with the installed catalogue: the MPEG-4 encoder is the
        // DivX-compatible one, so it is the default video choice.
        OutputSettings settings;
        settings.outputName = QStringLiteral("/videos/out.avi");
        settings.sourceWidth = settings.outputWidth = 720;
        settings.sourceHeight = settings.outputHeight = 576;
        OutputOptionsDialog options(settings, 1);
        const QString mpeg4 = friendlyNameOf(kMpeg4);
        QCOMPARE(options.videoCompressorList->currentText(), mpeg4);
        options.show();
        testing_support::SaveScreenshot(&options, QStringLiteral("output_options_dialog"));
        auto configure = [&](const std::function<void(CodecConfigDialog*, QSpinBox*)>& action) {
            testing_support::ModalDriver driver([&](QDialog* dialog) {
                auto* config = qobject_cast<CodecConfigDialog*>(dialog);
                QVERIFY(config);
                QCOMPARE(config->parentWidget(), &options);
                auto* bitrate = qobject_cast<QSpinBox*>(config->editor("bitrate"));
                QVERIFY(bitrate);
                action(config, bitrate);
            });
            platform::Control<QPushButton>(&options, OutputOptionsIds::kCompressorSettings)
                ->click();
            QVERIFY(driver.ran());
        };
        const platform::SettingsStore store;

        // OK keeps the edited bitrate: in the store for the conversion, and as the kept state.
        configure([&](CodecConfigDialog* config, QSpinBox* bitrate) {
            QVERIFY(config->windowTitle().contains(mpeg4));
            QCOMPARE(bitrate->value(), 200000);
            QCOMPARE(bitrate->maximum(), 2147483647);
            bitrate->setValue(123456);
            testing_support::SaveScreenshot(config, QStringLiteral("codec_settings_dialog"));
            config->accept();
        });
        media::EncoderProperties stored = LoadCodecSettings(store, kMpeg4);
        QCOMPARE(stored.size(), std::size_t(1));
        QCOMPARE(stored[0].name, std::string("bitrate"));
        QCOMPARE(stored[0].value, std::string("123456"));
        QCOMPARE(codecStateBlock.handler, kMpeg4);
        // The scratch list holds the codecs that take the query frame. H.263 knows only a few
        // picture sizes, 352 x 240 not among them.
        QVERIFY(options.scratchList->isHidden() && options.scratchList->findText(mpeg4) >= 0);
        QCOMPARE(options.scratchList->findText(friendlyNameOf("avenc_h263")), -1);
        QVERIFY(
            media::VideoEncoderAcceptsFrame("avenc_h263", 352, 288, media::RawFrameFormat::Bgr24));

        // The next press shows the confirmed value; a text the encoder would refuse keeps the
        // dialog open with a message, and Cancel after changes stores nothing.
        configure([&](CodecConfigDialog* config, QSpinBox* bitrate) {
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
        stored = LoadCodecSettings(store, kMpeg4);
        QCOMPARE(stored.size(), std::size_t(1));
        QCOMPARE(stored[0].value, std::string("123456"));

        // Back to the default value: nothing is left to apply.
        configure([](CodecConfigDialog* config, QSpinBox* bitrate) {
            bitrate->setValue(200000);
            config->accept();
        });
        QVERIFY(LoadCodecSettings(store, kMpeg4).empty());
    }
};

FRAMEWELL_TEST_MAIN(CodecConfigurationTest)
#include "test_codec_configuration.moc"
