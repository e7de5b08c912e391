#pragma once

// What a compressed picture says of itself, read from its own bits: whether decoding can start
// at it, how it is coded, where it stands in display order and whether it carries the stream's
// set-up (H.264 parameter sets, an MPEG-4 volume header, an MPEG-1/2 sequence header). A
// container's index and flags are often wrong or missing (an AVI has no presentation times, a
// transport stream has no index, Matroska no decoding times), so a copy that must cut exactly
// trusts the stream itself. Plain C++; no media framework here.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace media {

enum class PictureCodec {
    H264,        // Annex B byte stream, one access unit at a time
    Mpeg4Part2,  // one or, packed, two video object planes at a time
    Mpeg12,      // MPEG-1 or MPEG-2 video, one picture at a time
    IntraOnly,   // Motion JPEG, DV: every picture stands alone
};

using Bytes = std::vector<std::uint8_t>;

struct PictureFacts {
    std::size_t offset = 0;  // where the picture starts in the unit handed in
    std::size_t size = 0;
    char type = 'I';           // 'I', 'P' or 'B' (an MPEG-4 sprite counts as 'P')
    bool key = false;          // decoding can start here
    bool coded = true;         // false: an MPEG-4 placeholder that repeats the last picture
    bool reference = true;     // later pictures may predict from it
    bool carriesSetUp = false;  // the stream's set-up comes with it
    // H.264: the picture order count; for the other codecs unused (their B-pictures display
    // before the anchor decoded just ahead of them, which is all the order they need).
    std::int64_t displayOrder = 0;
    bool orderRestarts = false;  // an H.264 IDR: counting starts again
    // 0 for a frame; 1 or 2 for the first or second field of a frame coded as two pictures.
    int field = 0;
    // MPEG-4 Part 2: when the picture is shown within its second, in ticks of ticksPerSecond
    // (its vop_time_increment); ticksPerSecond is 0 when unknown.
    std::int64_t ticks = 0;
    int ticksPerSecond = 0;
};

// Reads the pictures of one stream in decoding order; keeps the set-up it has seen, since later
// pictures are read with it.
class PictureSyntax {
public:
    explicit PictureSyntax(PictureCodec codec) : codec_(codec) {}

    // The stream's set-up as the container holds it (an avcC record, or the headers as they
    // stand in the stream).
    void TakeCodecData(const std::uint8_t* data, std::size_t size);

    // The pictures in one unit of the stream (two for a packed MPEG-4 unit); empty when it
    // holds none (only headers, or nothing that can be read).
    std::vector<PictureFacts> Read(const std::uint8_t* data, std::size_t size);

    // The last set-up seen, as it stands in the stream (start codes included); empty when none.
    const Bytes& SetUp() const { return setUp_; }
    // Whether an MPEG-4 stream was written with two pictures to a unit (DivX's "packed
    // bitstream"); its placeholders then stand for no picture of their own.
    bool Packed() const { return packed_; }
    // The H.264 profile as the set-up names it ("high", "main", ...); empty when unknown.
    std::string H264Profile() const;

    struct H264State;
    struct Mpeg4State {
        int timeIncrementBits = 1;
        int timeResolution = 0;
        bool haveVolume = false;
    };

private:
    std::vector<PictureFacts> readH264(const std::uint8_t* data, std::size_t size);
    std::vector<PictureFacts> readMpeg4(const std::uint8_t* data, std::size_t size);
    std::vector<PictureFacts> readMpeg12(const std::uint8_t* data, std::size_t size);
    void keepSetUp(const std::uint8_t* data, std::size_t size, bool append);

    PictureCodec codec_;
    Bytes setUp_;
    bool setUpComplete_ = false;  // the next set-up unit starts a new one
    bool packed_ = false;
    bool openField_ = false;  // an MPEG-2 first field waits for its second
    Mpeg4State mpeg4_;
    std::shared_ptr<H264State> h264_;
};

// Offsets of the start codes (00 00 01) in data, each pointing at the first 00.
std::vector<std::size_t> StartCodes(const std::uint8_t* data, std::size_t size);

// An MPEG-4 unit with the DivX "packed bitstream" mark in its user data changed to say it is
// not packed any more; the unit as it was when it has none.
Bytes UnpackedDivxMark(const std::uint8_t* data, std::size_t size);

}  // namespace media
