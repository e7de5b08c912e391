#include "settings/codec_configuration.h"

#include <QComboBox>

#include "settings/aligned_allocator.h"
#include "settings/encoder_codecs.h"

std::array<VcmCompressorInfo, kVcmTableSize> VcmCompressorTable;
KeptCodecState codecStateBlock;

namespace {

// The longest description the scratch list and the comparison take.
constexpr int kDescriptionLimit = 255;

VideoCompressionManager* installedManager = nullptr;

}  // namespace

void InstallVideoCompressionManager(VideoCompressionManager* manager) {
    installedManager = manager;
}

VideoCompressionManager& CurrentVideoCompressionManager() {
    static EncoderCompressionManager encoders;
    return installedManager ? *installedManager : encoders;
}

BitmapInfoHeader BuildQueryFormat(int width, int height, int mode) {
    BitmapInfoHeader header;
    header.biWidth = width;
    header.biHeight = height;
    const auto pixels = static_cast<std::uint64_t>(static_cast<std::uint32_t>(width)) *
                        static_cast<std::uint32_t>(height);
    if (mode == 0) {
        header.biBitCount = 32;
        header.biCompression = BI_RGB;
        header.biSizeImage = static_cast<std::uint32_t>(pixels * 4);
    } else if (mode == 1) {
        header.biBitCount = 24;
        header.biCompression = BI_RGB;
        header.biSizeImage = static_cast<std::uint32_t>(pixels * 3);
    } else {
        header.biBitCount = 16;
        header.biCompression = kCompressionYuy2;
        header.biSizeImage = static_cast<std::uint32_t>(pixels * 2);
    }
    return header;
}

int EnumerateVcmCompressors(int width, int height, int mode,
                            std::array<VcmCompressorInfo, kVcmTableSize>& table) {
    const BitmapInfoHeader format = BuildQueryFormat(width, height, mode);
    VideoCompressionManager& manager = CurrentVideoCompressionManager();
    std::size_t count = 0;
    VcmCompressorInfo info;
    for (std::uint32_t index = 0; count < table.size() && manager.info(index, info); ++index) {
        std::unique_ptr<VcmCodec> codec = manager.open(info.type, info.handler);
        if (!codec) continue;
        if (codec->compressQuery(format)) table[count++] = codec->getInfo();
    }
    return static_cast<int>(count);
}

bool ContainsDivx(const QString& text) {
    return text.toLower().contains(QLatin1String("divx"));
}

bool ExtractVersion(const QString& text, QString* out) {
    auto isVersionCharacter = [](QChar c) {
        return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('.');
    };
    qsizetype start = 0;
    while (start < text.size() && !isVersionCharacter(text.at(start))) ++start;
    if (start == text.size()) return false;
    qsizetype end = start;
    while (end < text.size() && isVersionCharacter(text.at(end))) ++end;
    if (out) *out = text.mid(start, end - start);
    return true;
}

void ConfigureSelectedVideoCompressor(const QString& selectedText, QWidget* owner,
                                      QComboBox* scratchList) {
    const int count = EnumerateVcmCompressors(352, 240, 1, VcmCompressorTable);
    if (scratchList) scratchList->clear();
    const bool selectedIsDivx = ContainsDivx(selectedText) && ExtractVersion(selectedText, nullptr);
    int match = -1;
    for (int i = 0; i < count; ++i) {
        const QString description =
            VcmCompressorTable[static_cast<std::size_t>(i)].description.left(kDescriptionLimit);
        if (scratchList) scratchList->addItem(description);
        if (description.compare(selectedText, Qt::CaseInsensitive) == 0) match = i;
        // Another build of the same DivX codec stands in for the one the list names.
        if (match == -1 && selectedIsDivx && ContainsDivx(description) &&
            ExtractVersion(description, nullptr))
            match = i;
    }
    if (match == -1) return;
    if (scratchList) {
        scratchList->setCurrentIndex(match);
        match = scratchList->currentIndex();
        if (match < 0) return;
    }
    ConfigureVcmCompressor(owner, VcmCompressorTable[static_cast<std::size_t>(match)],
                           codecStateBlock);
}

void ConfigureVcmCompressor(QWidget* owner, const VcmCompressorInfo& entry, KeptCodecState& state) {
    std::unique_ptr<VcmCodec> codec =
        CurrentVideoCompressionManager().open(entry.type, entry.handler);
    if (!codec) return;
    const std::size_t size = codec->stateSize();
    if (size == 0) return;

    if (state.block) {
        if (state.handler == entry.handler && AlignedSize(state.block) == size) {
            codec->setState(state.block, size);
        } else {
            AlignedFree(state.block);
            state = {};
        }
    }
    const bool freshBlock = !state.block;
    if (freshBlock) {
        state.block = AlignedAlloc(size);
        state.handler = state.block ? entry.handler : std::string();
    }

    const bool confirmed = codec->configure(owner);
    bool readBack = false;
    if (confirmed && state.block) readBack = codec->getState(state.block, size) == size;
    // A block is kept only while it holds a whole state of this codec: a new block that was
    // never filled, or one the codec wrote only in part, would go back to it as garbage.
    if (state.block && (confirmed || freshBlock) && !readBack) {
        AlignedFree(state.block);
        state = {};
    }
}
