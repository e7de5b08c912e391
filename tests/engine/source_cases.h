#pragma once

// The containers users bring, as counter clips (support/counter_clips.h): each starts its
// pictures where its format puts them, not at 0, and rounds or stores its times in its own way.

#include <QList>
#include <QString>

#include "media/core/frame_time.h"
#include "support/counter_clips.h"

namespace testing_support {

struct SourceCase {
    const char* name;
    CounterClip clip;
    media::FrameRate rate;
    int pictures;  // in the whole file
};

// ASF: the header object counts one object more than it holds, as some writers leave it.
inline bool RaiseAsfObjectCount(QByteArray& bytes) {
    if (bytes.size() < 30) return false;
    auto* count = reinterpret_cast<unsigned char*>(bytes.data() + 24);
    count[0] = static_cast<unsigned char>(count[0] + 1);
    return true;
}

// Matroska without per-track frame durations (a Void where DefaultDuration was): the
// pictures' times are all there is to the rate.
inline bool DropDefaultDuration(QByteArray& bytes) {
    const qsizetype at = bytes.indexOf(QByteArray("\x23\xE3\x83", 3));
    if (at < 0 || at + 4 >= bytes.size()) return false;
    const int total = 4 + (static_cast<unsigned char>(bytes[at + 3]) & 0x7F);
    bytes[at] = '\xEC';
    bytes[at + 1] = static_cast<char>(0x80 | (total - 2));
    for (int i = 2; i < total; ++i) bytes[at + i] = 0;
    return true;
}

inline CounterClip Clip(const char* extension, const char* rate, const QStringList& video,
                        const QStringList& audio, const QStringList& output = {}) {
    CounterClip clip;
    clip.extension = QString::fromLatin1(extension);
    clip.frameRate = QString::fromLatin1(rate);
    clip.video = video;
    clip.audio = audio;
    clip.output = output;
    return clip;
}

inline CounterClip Mended(CounterClip clip, const char* name,
                          std::function<bool(QByteArray&)> mend) {
    clip.mendName = QString::fromLatin1(name);
    clip.mend = std::move(mend);
    return clip;
}

inline QList<SourceCase> SourceCases() {
    const QStringList h264 = {"-c:v", "libx264", "-pix_fmt", "yuv420p"};
    QList<SourceCase> cases;
    // The transport stream's clock starts 1.4 s in, and its pictures 1.4 s after that.
    cases.append({"MPEG-TS",
                  Clip("ts", "25", h264, {"-c:a", "ac3"}, {"-output_ts_offset", "1.4"}),
                  {25, 1},
                  100});
    // The program stream's first picture comes after the multiplexer's half-second preload,
    // its packs' clock runs ahead of the pictures, and pictures straddle its packets.
    cases.append(
        {"MPEG-PS",
         Clip("mpg", "25", {"-c:v", "mpeg2video", "-q:v", "2"}, {"-c:a", "mp2"}, {"-f", "vob"}),
         {25, 1},
         100});
    // B-frames: the edit list hides the pictures' reorder delay.
    cases.append({"MP4 with an edit list",
                  Clip("mp4", "25", h264 + QStringList{"-bf", "2"}, {"-c:a", "aac"}),
                  {25, 1},
                  100});
    // An empty edit first: the presentation, and its first picture, start 10 s in.
    cases.append({"MP4 whose edit list starts 10 s in",
                  Clip("mp4", "25", h264, {"-c:a", "aac"}, {"-output_ts_offset", "10"}),
                  {25, 1},
                  100});
    cases.append({"ASF",
                  Mended(Clip("wmv", "25", {"-c:v", "wmv2", "-q:v", "2"}, {"-c:a", "wmav2"}),
                         "count+1", RaiseAsfObjectCount),
                  {25, 1},
                  100});
    // Times in milliseconds at the NTSC rate, the first picture behind the sound's priming.
    cases.append({"Matroska at 29.97",
                  Clip("mkv", "30000/1001", h264, {"-c:a", "aac"}),
                  {30000, 1001},
                  120});
    cases.append(
        {"WebM without frame durations",
         Mended(Clip("webm", "30000/1001", {"-c:v", "libvpx", "-b:v", "1M"}, {"-c:a", "libvorbis"}),
                "no DefaultDuration", DropDefaultDuration),
         {30000, 1001},
         120});
    return cases;
}

}  // namespace testing_support
