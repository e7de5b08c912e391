#pragma once

// The Settings button of the options dialog: find the video codec behind the selected
// compressor entry and show that codec's own configuration dialog. Codecs are reached
// through a video compression manager, matched to the entry by their descriptions, and asked
// first whether they take the query frame. The state a codec reports after its dialog is kept
// for the rest of the run and handed back to that codec the next time.

#include <QString>

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "media/render/timeline_model.h"

class QComboBox;
class QWidget;

constexpr std::uint32_t MakeFourCC(char a, char b, char c, char d) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(d)) << 24;
}

inline constexpr std::uint32_t BI_RGB = 0;
inline constexpr std::uint32_t kCompressionYuy2 = MakeFourCC('Y', 'U', 'Y', '2');
inline constexpr std::uint32_t kCodecTypeVideo = MakeFourCC('v', 'i', 'd', 'c');

// The uncompressed frame a codec is asked about: the same bitmap header the timeline's video
// group describes its frames with.
using BitmapInfoHeader = media::BitmapInfoHeader;

// Mode 0: 32-bit RGB; 1: 24-bit RGB; any other: 16-bit YUY2.
BitmapInfoHeader BuildQueryFormat(int width, int height, int mode);

// What the compression manager tells about one codec.
struct VcmCompressorInfo {
    std::uint32_t type = kCodecTypeVideo;
    std::string handler;  // which codec: the encoder's factory name
    QString name;         // short name
    QString description;  // the same friendly name the compressor list shows
};

// One open codec; closing it is destroying it.
class VcmCodec {
public:
    virtual ~VcmCodec() = default;
    // Whether it compresses frames of this format.
    virtual bool compressQuery(const BitmapInfoHeader& input) = 0;
    virtual VcmCompressorInfo getInfo() = 0;
    // The size of its state block; 0 when it has none.
    virtual std::size_t stateSize() = 0;
    virtual bool setState(const void* data, std::size_t size) = 0;
    // Writes the state into data (at most size bytes); returns the bytes written.
    virtual std::size_t getState(void* data, std::size_t size) = 0;
    // Shows its configuration dialog; true when the user confirmed it.
    virtual bool configure(QWidget* owner) = 0;
};

// The video compression manager: the installed video codecs by index.
class VideoCompressionManager {
public:
    virtual ~VideoCompressionManager() = default;
    // The codec at the index, or false past the last one.
    virtual bool info(std::uint32_t index, VcmCompressorInfo& out) = 0;
    // Opens the codec for compression; nullptr when it does not open.
    virtual std::unique_ptr<VcmCodec> open(std::uint32_t type, const std::string& handler) = 0;
};

// nullptr brings back the installed encoders; the caller keeps ownership.
void InstallVideoCompressionManager(VideoCompressionManager* manager);
VideoCompressionManager& CurrentVideoCompressionManager();

inline constexpr std::size_t kVcmTableSize = 50;
// The codecs that took the query format at the last Settings press.
extern std::array<VcmCompressorInfo, kVcmTableSize> VcmCompressorTable;

// The state read back from the last confirmed codec dialog, in a block from AlignedAlloc,
// with the codec it came from. A codec's state is its own private layout, so the block goes
// back only to that codec.
struct KeptCodecState {
    void* block = nullptr;
    std::string handler;
};
extern KeptCodecState codecStateBlock;

// Fills the table with the codecs that take a frame of the query format (at most 50) and
// returns how many.
int EnumerateVcmCompressors(int width, int height, int mode,
                            std::array<VcmCompressorInfo, kVcmTableSize>& table);

// Shows the configuration of the codec whose description equals the selected entry
// (ignoring case; the last such codec wins), else of the first DivX codec with a version
// when the entry is a DivX codec with a version; nothing when none matches. The scratch list
// receives every codec description.
void ConfigureSelectedVideoCompressor(const QString& selectedText, QWidget* owner,
                                      QComboBox* scratchList);

// Hands the kept state to the codec when it is that codec's, shows the codec's dialog and,
// when confirmed, keeps the state the codec reports.
void ConfigureVcmCompressor(QWidget* owner, const VcmCompressorInfo& entry, KeptCodecState& state);

// Whether the text contains "divx" in any letter case.
bool ContainsDivx(const QString& text);
// The first run of digits and dots in the text, into out; false when there is none.
bool ExtractVersion(const QString& text, QString* out);
