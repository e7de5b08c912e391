// Finding the codec behind a compressor entry and keeping its state, against a scripted
// compression manager; the aligned block registry; the state block format.

#include <QComboBox>

#include <cstring>
#include <map>

#include "media/encoder_properties.h"
#include "settings/aligned_blocks.h"
#include "settings/codec_configuration.h"
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

// What the codecs were asked, in order, as "handler:call" texts.
struct CallLog {
    QStringList calls;
    std::map<std::string, QByteArray> statesReceived;
    BitmapInfoHeader lastQuery;
};

class ScriptedCodec : public VcmCodec {
public:
    ScriptedCodec(std::string handler, ScriptedCodecSetup setup, CallLog& log)
        : handler_(std::move(handler)), setup_(std::move(setup)), log_(log) {}

    bool compressQuery(const BitmapInfoHeader& input) override {
        log_.lastQuery = input;
        return setup_.takesQuery;
    }
    VcmCompressorInfo getInfo() override {
        return {kCodecTypeVideo, handler_, QString::fromStdString(handler_), setup_.description};
    }
    std::size_t stateSize() override { return setup_.stateSize; }
    bool setState(const void* data, std::size_t size) override {
        log_.calls << QString::fromStdString(handler_ + ":setState");
        log_.statesReceived[handler_] = QByteArray(static_cast<const char*>(data), qsizetype(size));
        return true;
    }
    std::size_t getState(void* data, std::size_t size) override {
        std::memset(data, setup_.stateByte, size);
        return size;
    }
    bool configure(QWidget*) override {
        log_.calls << QString::fromStdString(handler_ + ":configure");
        return setup_.confirms;
    }

private:
    std::string handler_;
    ScriptedCodecSetup setup_;
    CallLog& log_;
};

class ScriptedManager : public VideoCompressionManager {
public:
    std::vector<ScriptedCodecSetup> codecs;
    CallLog log;

    static std::string handlerOf(std::size_t index) { return "codec" + std::to_string(index); }

    bool info(std::uint32_t index, VcmCompressorInfo& out) override {
        if (index >= codecs.size()) return false;
        out = {kCodecTypeVideo, handlerOf(index), QString(), codecs[index].description};
        return true;
    }
    std::unique_ptr<VcmCodec> open(std::uint32_t type, const std::string& handler) override {
        for (std::size_t i = 0; i < codecs.size(); ++i)
            if (type == kCodecTypeVideo && handlerOf(i) == handler && codecs[i].opens)
                return std::make_unique<ScriptedCodec>(handler, codecs[i], log);
        return nullptr;
    }
};

void forgetKeptState() {
    AlignedFree(codecStateBlock.block);
    codecStateBlock = {};
}

}  // namespace

class CodecConfigurationTest : public QObject {
    Q_OBJECT

private slots:
    void cleanup() {
        InstallVideoCompressionManager(nullptr);
        forgetKeptState();
    }

    void queryFormatFollowsTheMode() {
        const BitmapInfoHeader rgb24 = BuildQueryFormat(352, 240, 1);
        QCOMPARE(rgb24.size, 40u);
        QCOMPARE(rgb24.bitCount, std::uint16_t(24));
        QCOMPARE(rgb24.sizeImage, 253440u);
        QCOMPARE(BuildQueryFormat(352, 240, 0).sizeImage, 337920u);
        QCOMPARE(BuildQueryFormat(352, 240, 7).compression, MakeFourCC('Y', 'U', 'Y', '2'));
    }

    void divxNamesAndVersions() {
        QVERIFY(ContainsDivx(QStringLiteral("DivX 5.1.1 Codec")));
        QVERIFY(ContainsDivx(QStringLiteral("DIVX Pro")));
        QVERIFY(!ContainsDivx(QStringLiteral("Div X 5")));
        QString version;
        QVERIFY(ExtractVersion(QStringLiteral("DivX Pro 5.0.5 Codec"), &version));
        QCOMPARE(version, QStringLiteral("5.0.5"));
        QVERIFY(ExtractVersion(QStringLiteral("Codec v.9 beta 2"), &version));
        QCOMPARE(version, QStringLiteral(".9"));
        version = QStringLiteral("untouched");
        QVERIFY(!ExtractVersion(QStringLiteral("DivX Codec"), &version));
        QCOMPARE(version, QStringLiteral("untouched"));
    }

    void tableHoldsTheCodecsThatTakeTheQueryFormat() {
        ScriptedManager manager;
        manager.codecs = {{QStringLiteral("Takes it")},
                          {QStringLiteral("Does not open"), false},
                          {QStringLiteral("Refuses the frame"), true, false},
                          {QStringLiteral("Takes it too")}};
        InstallVideoCompressionManager(&manager);
        std::array<VcmCompressorInfo, kVcmTableSize> table;
        QCOMPARE(EnumerateVcmCompressors(352, 240, 1, table), 2);
        QCOMPARE(table[0].description, QStringLiteral("Takes it"));
        QCOMPARE(table[1].description, QStringLiteral("Takes it too"));
        QCOMPARE(table[1].handler, std::string("codec3"));
        QCOMPARE(manager.log.lastQuery.bitCount, std::uint16_t(24));
        QCOMPARE(manager.log.lastQuery.width, 352);

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
        InstallVideoCompressionManager(&manager);
        QComboBox scratch;

        // Equal descriptions, in any letter case; the last one wins over an earlier DivX.
        manager.codecs = {{QStringLiteral("DivX 5.1.1 Codec")},
                          {QStringLiteral("divx pro 5.0.5 codec")},
                          {QStringLiteral("Cinepak Codec")},
                          {QStringLiteral("DivX Pro 5.0.5 Codec")}};
        ConfigureSelectedVideoCompressor(QStringLiteral("DivX Pro 5.0.5 Codec"), nullptr, &scratch);
        QCOMPARE(manager.log.calls, QStringList{QStringLiteral("codec3:configure")});
        QCOMPARE(scratch.count(), 4);
        QCOMPARE(scratch.itemText(2), QStringLiteral("Cinepak Codec"));
        QCOMPARE(scratch.currentIndex(), 3);

        // No equal description: the first DivX codec with a version stands in.
        manager.log.calls.clear();
        manager.codecs = {{QStringLiteral("Cinepak Codec")},
                          {QStringLiteral("DivX Codec")},
                          {QStringLiteral("DivX Pro 5.1.1 Codec")},
                          {QStringLiteral("DivX 6.0")}};
        forgetKeptState();
        ConfigureSelectedVideoCompressor(QStringLiteral("DivX Pro 5.0.5 Codec"), nullptr, &scratch);
        QCOMPARE(manager.log.calls, QStringList{QStringLiteral("codec2:configure")});

        // Nothing matches: nothing is shown, not even a message.
        manager.log.calls.clear();
        manager.codecs = {{QStringLiteral("Cinepak Codec")}, {QStringLiteral("DivX Codec")}};
        ConfigureSelectedVideoCompressor(QStringLiteral("DivX Pro 5.0.5 Codec"), nullptr, &scratch);
        ConfigureSelectedVideoCompressor(QStringLiteral("Full frames (uncompressed)"), nullptr,
                                         &scratch);
        manager.codecs = {{QStringLiteral("DivX Pro 5.1.1 Codec")}};
        ConfigureSelectedVideoCompressor(QStringLiteral("DivX Codec"), nullptr, &scratch);
        QVERIFY(manager.log.calls.isEmpty());
        QVERIFY(environment.messages.boxes.isEmpty());
    }

    void keptStateGoesBackOnlyToItsOwnCodec() {
        ScriptedManager manager;
        manager.codecs = {{QStringLiteral("First"), true, true, 64, true, 'A'},
                          {QStringLiteral("Second"), true, true, 64, true, 'B'},
                          {QStringLiteral("Stateless"), true, true, 0},
                          {QStringLiteral("Refuses"), true, true, 64, false, 'R'}};
        InstallVideoCompressionManager(&manager);
        const std::size_t blocksBefore = AlignedBlockCount();
        auto configure = [&](int index) {
            VcmCompressorInfo entry;
            QVERIFY(manager.info(std::uint32_t(index), entry));
            ConfigureVcmCompressor(nullptr, entry, codecStateBlock);
        };

        configure(0);
        QCOMPARE(manager.log.calls, QStringList{QStringLiteral("codec0:configure")});
        QVERIFY(codecStateBlock.block);
        QCOMPARE(codecStateBlock.handler, std::string("codec0"));
        QCOMPARE(AlignedSize(codecStateBlock.block), std::size_t(64));
        QCOMPARE(static_cast<const char*>(codecStateBlock.block)[63], 'A');

        // The same codec gets its state back before its dialog opens.
        manager.log.calls.clear();
        configure(0);
        QCOMPARE(manager.log.calls, (QStringList{QStringLiteral("codec0:setState"),
                                                 QStringLiteral("codec0:configure")}));
        QCOMPARE(manager.log.statesReceived["codec0"], QByteArray(64, 'A'));

        // A codec whose state has the same size never receives another codec's state.
        manager.log.calls.clear();
        configure(1);
        QCOMPARE(manager.log.calls, QStringList{QStringLiteral("codec1:configure")});
        QCOMPARE(codecStateBlock.handler, std::string("codec1"));
        QCOMPARE(static_cast<const char*>(codecStateBlock.block)[0], 'B');
        QCOMPARE(AlignedBlockCount(), blocksBefore + 1);

        // A codec without state shows nothing; a refused dialog keeps the state as it was.
        manager.log.calls.clear();
        configure(2);
        QVERIFY(manager.log.calls.isEmpty());
        void* kept = codecStateBlock.block;
        configure(1);
        manager.codecs[1].confirms = false;
        manager.codecs[1].stateByte = 'Z';
        configure(1);
        QCOMPARE(codecStateBlock.block, kept);
        QCOMPARE(static_cast<const char*>(codecStateBlock.block)[0], 'B');

        // A new block for a refused dialog would hold nothing; it is not kept.
        configure(3);
        QVERIFY(!codecStateBlock.block);
        QCOMPARE(AlignedBlockCount(), blocksBefore);
    }

    void fullRegistryStillShowsTheDialog() {
        ScriptedManager manager;
        manager.codecs = {{QStringLiteral("Only")}};
        InstallVideoCompressionManager(&manager);
        std::vector<void*> filler;
        while (AlignedBlockCount() < kAlignedBlockLimit) filler.push_back(AlignedAlloc(1));
        VcmCompressorInfo entry;
        QVERIFY(manager.info(0, entry));
        ConfigureVcmCompressor(nullptr, entry, codecStateBlock);
        QCOMPARE(manager.log.calls, QStringList{QStringLiteral("codec0:configure")});
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
        QCOMPARE(AlignedBlockCount(), before + blocks.size() - 1);
        blocks.erase(blocks.begin() + 2);

        // A full registry hands out nothing until a block is freed.
        std::vector<void*> filler;
        while (AlignedBlockCount() < kAlignedBlockLimit) filler.push_back(AlignedAlloc(8));
        QVERIFY(!AlignedAlloc(8));
        AlignedFree(filler.back());
        filler.back() = AlignedAlloc(8);
        QVERIFY(filler.back());
        for (void* block : filler) AlignedFree(block);
        for (void* block : blocks) AlignedFree(block);
        QCOMPARE(AlignedBlockCount(), before);
    }

    void stateBlocksCarryAPropertySet() {
        const media::EncoderProperties set = {
            {"bitrate", "800000"}, {"pass", "quant"}, {"rc-eq", ""}};
        std::vector<std::uint8_t> block = media::SerializeEncoderProperties(set);
        media::EncoderProperties read;
        QVERIFY(media::DeserializeEncoderProperties(block.data(), block.size(), read));
        QCOMPARE(read.size(), set.size());
        QCOMPARE(read[1].name, std::string("pass"));
        QCOMPARE(read[1].value, std::string("quant"));
        QCOMPARE(read[2].value, std::string());

        // Zero padding after the set belongs to a fixed-size block.
        std::vector<std::uint8_t> padded = block;
        padded.resize(block.size() + 100, 0);
        QVERIFY(media::DeserializeEncoderProperties(padded.data(), padded.size(), read));
        QCOMPARE(read.size(), set.size());

        // Damage is refused and leaves the output alone.
        media::EncoderProperties untouched = {{"keep", "me"}};
        padded[padded.size() - 1] = 1;
        QVERIFY(!media::DeserializeEncoderProperties(padded.data(), padded.size(), untouched));
        QVERIFY(!media::DeserializeEncoderProperties(block.data(), block.size() - 1, untouched));
        QVERIFY(!media::DeserializeEncoderProperties(block.data(), 3, untouched));
        QVERIFY(!media::DeserializeEncoderProperties(nullptr, 100, untouched));
        std::vector<std::uint8_t> hugeCount = block;
        hugeCount[8] = hugeCount[9] = hugeCount[10] = hugeCount[11] = 0xFF;
        QVERIFY(
            !media::DeserializeEncoderProperties(hugeCount.data(), hugeCount.size(), untouched));
        std::vector<std::uint8_t> longName = block;
        longName[12] = 0xF0;  // first name's length far past the end
        QVERIFY(!media::DeserializeEncoderProperties(longName.data(), longName.size(), untouched));
        std::vector<std::uint8_t> foreign = block;
        foreign[0] = 'X';
        QVERIFY(!media::DeserializeEncoderProperties(foreign.data(), foreign.size(), untouched));
        QCOMPARE(untouched.size(), std::size_t(1));
        QCOMPARE(untouched[0].name, std::string("keep"));
    }
};

FRAMEWELL_TEST_MAIN(CodecConfigurationTest)
#include "test_codec_configuration.moc"
