#pragma once

// Which picture formats a direct stream copy writes into an AVI file as they are, their names
// for the user, how the file's stream header describes them, and the one sentence that refuses
// a stream an AVI file cannot carry well. Not for use outside media/.

#include <cstdint>
#include <optional>
#include <string>

#include "media/copy/avi_writer.h"
#include "media/copy/copied_sound.h"
#include "media/copy/copy_source.h"
#include "media/copy/picture_syntax.h"
#include "media/core/frame_time.h"
#include "media/core/reference_time.h"

namespace media {

struct CopiedFormat {
    PictureCodec codec = PictureCodec::IntraOnly;
    std::string name;  // "H.264", "MPEG-4 Part 2", "MPEG-2", "Motion JPEG", "DV"
    std::uint32_t fourcc = 0;
    int width = 0;
    int height = 0;
    // The encoder that makes pictures of this format again, for a cut between key frames;
    // empty when none is installed (or none is needed: every picture a key frame).
    std::string encoder;
};

// The source's pictures as a copy writes them; nullopt with *refusal set when an AVI file
// cannot carry them well.
std::optional<CopiedFormat> CopiedFormatOf(const CopySource& source, std::string* refusal);

struct CopyOpening {
    std::string problem;  // why the start of the file cannot be read
    FrameRate rate;       // the pictures' real rate
    ReferenceTime origin = 0;  // the first picture's time, in stream time
    // Where the last picture ends, in stream time, read from the pictures where the container
    // only reckons its length; -1 where its length is recorded (or could not be read).
    ReferenceTime end = -1;
    // The first sound stream as the reading found it (a demultiplexer may show it only when
    // its first packet comes), and its first frame, whose header tells the sound's format.
    bool soundPresent = false;
    std::string soundCaps;   // as the packets come
    std::string soundCodec;  // in words
    int soundRate = 0;
    int soundChannels = 0;
    Bytes firstSound;
    // The pictures' set-up where they begin: an AVI file's MPEG-4 stream may have its volume
    // header there and nowhere else.
    Bytes setUp;
};

// The copied sound's format: what an AVI file makes of the opening's first sound frame;
// nullopt when it cannot carry it well.
std::optional<CopiedSound> CopiedSoundOf(const CopyOpening& opening);

// The refusal of the source's sound, naming it.
std::string SoundRefusal(const CopyOpening& opening);


// Reads the start of a source just opened: the first pictures, for their rate and where the
// first of them shows, and the first sound frame. What was read of an unchanged file is kept
// for the process: a copy looks at its source up to three times (the probe, the inspection,
// the copy itself) and reads its start once.
CopyOpening ReadCopyOpening(CopySource& source, const CopiedFormat& format);

// The file's picture stream header.
AviVideoStream AviVideoStreamOf(const CopiedFormat& format, FrameRate rate, const Bytes& setUp);

}  // namespace media
