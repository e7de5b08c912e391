#include "media/copy/stream_copy_formats.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <mutex>
#include <vector>

#include "media/copy/picture_timeline.h"
#include "media/copy/smart_cut.h"

namespace media {
namespace {

// Pictures read from the start for the rate and the first picture.
constexpr int kOpeningPictures = 48;

}  // namespace

std::optional<CopiedFormat> CopiedFormatOf(const CopySource& source, std::string* refusal) {
    const CopySourceStream& video = source.video();
    const GstCaps* caps = video.foundCaps.get();
    if (!video.present || !caps) {
        *refusal = "The source holds no picture to copy.";
        return std::nullopt;
    }
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const std::string name = gst_structure_get_name(s);
    gboolean systemStream = FALSE;
    gst_structure_get_boolean(s, "systemstream", &systemStream);
    int version = 0;
    CopiedFormat format;
    auto pick = [&format](PictureCodec codec, const char* words, std::uint32_t fourcc) {
        format.codec = codec;
        format.name = words;
        format.fourcc = fourcc;
    };
    if (name == "video/x-h264") {
        pick(PictureCodec::H264, "H.264", FourCc('H', '2', '6', '4'));
    } else if ((name == "video/mpeg" && !systemStream &&
                gst_structure_get_int(s, "mpegversion", &version) && version == 4) ||
               (name == "video/x-divx" && gst_structure_get_int(s, "divxversion", &version) &&
                version >= 4)) {
        pick(PictureCodec::Mpeg4Part2, "MPEG-4 Part 2", FourCc('D', 'I', 'V', 'X'));
    } else if (name == "video/mpeg" && !systemStream &&
               gst_structure_get_int(s, "mpegversion", &version) && (version == 1 || version == 2)) {
        pick(PictureCodec::Mpeg12, version == 1 ? "MPEG-1" : "MPEG-2",
             version == 1 ? FourCc('m', 'p', 'g', '1') : FourCc('m', 'p', 'g', '2'));
    } else if (name == "image/jpeg") {
        pick(PictureCodec::IntraOnly, "Motion JPEG", FourCc('M', 'J', 'P', 'G'));
    } else if (name == "video/x-dv" && !systemStream) {
        pick(PictureCodec::IntraOnly, "DV", FourCc('d', 'v', 's', 'd'));
    } else {
        *refusal = "Direct stream copy cannot write the " + video.codec +
                   " pictures of the source into an AVI file. Choose a video compressor instead.";
        return std::nullopt;
    }
    format.width = video.width;
    format.height = video.height;
    if (format.codec != PictureCodec::IntraOnly)
        format.encoder = SmartCutEncoderFor(video.caps ? video.caps.get() : caps);
    return format;
}

std::optional<CopiedSound> CopiedSoundOf(const CopyOpening& opening) {
    if (!opening.soundPresent || opening.firstSound.empty()) return std::nullopt;
    const CapsPtr caps(gst_caps_from_string(opening.soundCaps.c_str()));
    return CopiedSoundOf(caps.get(), opening.firstSound.data(), opening.firstSound.size());
}

std::string SoundRefusal(const CopyOpening& opening) {
    return "Direct stream copy cannot write the " + opening.soundCodec +
           " sound of the source into an AVI file. Choose an audio compressor instead.";
}

AviVideoStream AviVideoStreamOf(const CopiedFormat& format, FrameRate rate, const Bytes& setUp) {
    AviVideoStream video;
    video.fourcc = format.fourcc;
    video.width = format.width;
    video.height = format.height;
    video.rate = static_cast<std::uint32_t>(rate.numerator);
    video.scale = static_cast<std::uint32_t>(rate.denominator);
    // Readers of MPEG-4 Part 2 in AVI look for the volume header after the bitmap header.
    if (format.codec == PictureCodec::Mpeg4Part2) video.extradata = setUp;
    return video;
}

}  // namespace media

namespace media {

namespace {

// Hands a packet's pictures to the timeline, once a key frame has come (*key: the id of the
// first); returns the ids they settled. syntax keeps the set-up it meets.
std::vector<std::size_t> addPictures(const SourcePacket& packet, PictureSyntax& syntax,
                                     PictureTimeline& timeline, std::optional<std::size_t>* key) {
    std::vector<std::size_t> settled;
    const Bytes data = BufferBytes(packet.buffer.get());
    for (const PictureFacts& facts : syntax.Read(data.data(), data.size())) {
        if (!facts.coded && syntax.Packed()) continue;
        if (!*key && !(facts.key || (packet.containerKey && facts.type == 'I'))) continue;
        TimelinePicture picture;
        picture.facts = facts;
        picture.containerPts = packet.pts;
        picture.containerDts = packet.dts;
        const std::vector<std::size_t> ids = timeline.Add(std::move(picture));
        if (!*key) *key = timeline.next() - 1;
        settled.insert(settled.end(), ids.begin(), ids.end());
    }
    return settled;
}

// The opening's pictures in display order, from the first key frame on; the id of that key
// frame, nullopt without one.
std::optional<std::size_t> orderPictures(const std::vector<SourcePacket>& packets,
                                         PictureSyntax& syntax, PictureTimeline& timeline) {
    std::optional<std::size_t> key;
    for (const SourcePacket& each : packets) addPictures(each, syntax, timeline, &key);
    timeline.Finish();
    return key;
}

// Where the last picture ends (stream time), read from the pictures after a seek to from: the
// times of the last ones come from the stream's own order where the container gives none.
// -1 when no picture could be read there.
ReferenceTime readPicturesEnd(CopySource& source, const CopiedFormat& format, FrameRate rate,
                              ReferenceTime from) {
    // Minutes of pictures and sound: a reading that has not ended by then is not followed on.
    constexpr int kMostPackets = 100000;
    if (!source.Seek(from)) return -1;
    PictureSyntax syntax(format.codec);
    syntax.TakeCodecData(source.video().codecData.data(), source.video().codecData.size());
    PictureTimeline timeline(format.codec, rate, source.avi());
    ReferenceTime end = -1;
    const auto settle = [&](const std::vector<std::size_t>& ids) {
        for (const std::size_t id : ids)
            if (const ReferenceTime pts = timeline.at(id).pts; pts != kNoTime)
                end = std::max(end, pts + timeline.frameTime(1));
        std::size_t unsettled = timeline.firstKept();
        while (unsettled < timeline.next() && timeline.at(unsettled).settled) ++unsettled;
        timeline.DropBefore(unsettled);
    };
    std::optional<std::size_t> key;
    SourcePacket packet;
    int read = 0;
    for (; read < kMostPackets && source.Next(&packet); ++read)
        if (packet.video) settle(addPictures(packet, syntax, timeline, &key));
    if (read == kMostPackets || !source.problem().empty()) return -1;
    settle(timeline.Finish());
    return end;
}

CopyOpening readOpening(CopySource& source, const CopiedFormat& format) {
    CopyOpening opening;
    // From a seek, as every later reading starts: some demultiplexers (Matroska's) place the
    // first packets of a file that was never sought by a segment of their own.
    if (!source.Seek(0)) {
        opening.problem = source.problem();
        return opening;
    }
    std::vector<SourcePacket> pictures;
    SourcePacket packet;
    // A demultiplexer may show a stream only when its first packet comes (FLV's, the
    // program stream's): the sound is looked for as long as the pictures are read.
    const auto enough = [&] {
        return pictures.size() >= kOpeningPictures &&
               (!source.audio().present || !opening.firstSound.empty());
    };
    for (int read = 0; !enough() && read < 16 * kOpeningPictures && source.Next(&packet); ++read) {
        if (!packet.video) {
            if (opening.firstSound.empty()) opening.firstSound = BufferBytes(packet.buffer.get());
        } else if (pictures.size() < kOpeningPictures) {
            pictures.push_back(std::move(packet));
        }
    }
    if (!source.problem().empty()) {
        opening.problem = source.problem();
        return opening;
    }
    const Fraction tag = source.video().rateTag;
    const FrameRate tagged{tag.numerator, tag.denominator};
    // An AVI file's rate is exact in its header. Elsewhere the times the container gives say
    // what it is, each over the pictures shown since the last one given.
    opening.rate = tagged.known() ? tagged : FrameRate{25, 1};
    std::optional<std::size_t> key;
    if (!source.avi()) {
        PictureSyntax syntax(format.codec);
        syntax.TakeCodecData(source.video().codecData.data(), source.video().codecData.size());
        PictureTimeline timeline(format.codec, opening.rate, false);
        key = orderPictures(pictures, syntax, timeline);
        std::vector<std::pair<std::int64_t, ReferenceTime>> shown;
        for (std::size_t id = timeline.firstKept(); key && id < timeline.next(); ++id)
            if (timeline.at(id).containerPts != kNoTime)
                shown.emplace_back(timeline.at(id).displayIndex, timeline.at(id).containerPts);
        opening.rate = RateFromTimes(std::move(shown), tagged);
    }
    PictureSyntax syntax(format.codec);
    syntax.TakeCodecData(source.video().codecData.data(), source.video().codecData.size());
    PictureTimeline timeline(format.codec, opening.rate, source.avi());
    key = orderPictures(pictures, syntax, timeline);
    if (!key) {
        opening.problem = "The pictures of the source cannot be read from a key frame on.";
        return opening;
    }
    opening.origin = timeline.at(*key).pts;
    opening.setUp = syntax.SetUp();
    if (source.LengthIsEstimate()) {
        // Read from a little before where the container reckons the end, or further back
        // where its reckoning lies past it.
        const ReferenceTime said = source.Duration();
        const ReferenceTime guess = opening.origin + std::max<ReferenceTime>(said, 0);
        for (const ReferenceTime back : {2 * kReferenceTimePerSecond, 30 * kReferenceTimePerSecond})
            if ((opening.end = readPicturesEnd(source, format, opening.rate,
                                               std::max<ReferenceTime>(guess - back, 0))) >= 0)
                break;
    }
    const CopySourceStream& sound = source.audio();
    opening.soundPresent = sound.present;
    if (sound.caps) {
        const GCharPtr text(gst_caps_to_string(sound.caps.get()));
        opening.soundCaps = text.get();
    }
    opening.soundCodec = sound.codec;
    opening.soundRate = sound.sampleRate;
    opening.soundChannels = sound.channels;
    return opening;
}

// A file as it was when it was read: its name, size and last change.
std::string fileStamp(const std::string& path) {
    std::error_code failed;
    const auto size = std::filesystem::file_size(path, failed);
    if (failed) return {};
    const auto changed = std::filesystem::last_write_time(path, failed);
    if (failed) return {};
    return path + "|" + std::to_string(size) + "|" +
           std::to_string(changed.time_since_epoch().count());
}

}  // namespace

CopyOpening ReadCopyOpening(CopySource& source, const CopiedFormat& format) {
    static std::mutex mutex;
    static std::map<std::string, CopyOpening> known;
    const std::string stamp = fileStamp(source.path());
    {
        std::lock_guard lock(mutex);
        if (const auto found = known.find(stamp); !stamp.empty() && found != known.end())
            return found->second;
    }
    CopyOpening opening = readOpening(source, format);
    if (opening.problem.empty() && !stamp.empty()) {
        std::lock_guard lock(mutex);
        known[stamp] = opening;
    }
    return opening;
}

}  // namespace media
