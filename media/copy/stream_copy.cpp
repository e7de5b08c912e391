#include "media/copy/stream_copy.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <mutex>
#include <optional>

#include "media/copy/copied_sound.h"
#include "media/copy/copy_source.h"
#include "media/copy/stream_copy_formats.h"
#include "media/core/frame_time.h"
#include "media/core/gst_handles.h"
#include "media/render/avi_stream_format.h"

namespace media {
namespace {

// Records why the copy cannot be written; false, so that the step stops there.
bool refuse(StreamCopyInspection& inspection, RenderStep step, std::string text) {
    inspection.refusal = std::move(text);
    inspection.refusedStep = step;
    return false;
}

// The group's one source; nullptr for none, several, or a transition between them.
const TimelineSource* onlySource(const TimelineGroup* group) {
    if (!group) return nullptr;
    const TimelineSource* found = nullptr;
    for (const TimelineTrack& track : group->tracks) {
        for (const TimelineTransition& transition : track.transitions)
            if (transition.stop > transition.start) return nullptr;
        for (const TimelineSource& source : track.sources) {
            if (found) return nullptr;
            found = &source;
        }
    }
    return found;
}

struct CopiedSpan {
    const TimelineGroup* videoGroup = nullptr;
    const TimelineSource* video = nullptr;  // nullptr where the plan cannot be copied
};

// The conversions this writes: one span of one file, a video group and its sound.
CopiedSpan copiedSpan(const RenderPlan& plan, StreamCopyInspection& inspection) {
    const TimelineGroup* videoGroup = nullptr;
    const TimelineGroup* audioGroup = nullptr;
    for (const TimelineGroup& group : plan.timeline.groups) {
        if (group.isVideo() && !videoGroup)
            videoGroup = &group;
        else if (!group.isVideo() && !audioGroup)
            audioGroup = &group;
    }
    const TimelineSource* video = onlySource(videoGroup);
    if (!video || !videoGroup->mediaType.format) {
        refuse(inspection, RenderStep::ConnectFrontEnd,
               "Direct stream copy writes one span of one video without transitions.");
        return {};
    }
    const TimelineSource* sound = onlySource(audioGroup);
    if (audioGroup && sound && sound->mediaName != video->mediaName) {
        refuse(inspection, RenderStep::ConnectFrontEnd,
               "Direct stream copy takes the sound from the video's own file.");
        return {};
    }
    return {videoGroup, video};
}

double rateValue(Fraction rate) {
    return rate.denominator > 0 ? static_cast<double>(rate.numerator) / rate.denominator : 0.0;
}

bool sameRate(Fraction a, Fraction b) {
    const double x = rateValue(a);
    const double y = rateValue(b);
    return x > 0 && y > 0 && std::fabs(x - y) <= y * 0.001;
}

// Whether the source's pictures go into the AVI file as they are, at the size and rate asked.
// The rate asked may be the one the container states where the pictures' times say otherwise
// ("Original frame rate" as the probe found it): the copy then keeps the pictures' own.
bool copyVideo(StreamCopyInspection& inspection, const CopySource& source,
               const CopiedFormat& format, const TimelineGroup& videoGroup) {
    const BitmapInfoHeader& asked = videoGroup.mediaType.format->bmiHeader;
    // AVI has no way to say that its pictures are to be shown turned.
    if (const int turn = source.video().rotation; turn != 0)
        return refuse(inspection, RenderStep::RenderVideoStream,
                      "Direct stream copy writes the pictures as they are stored, " +
                          std::to_string(format.width) + "*" + std::to_string(format.height) +
                          ", and this video is shown turned by " + std::to_string(turn) +
                          " degrees: only a video compressor can turn its pictures upright. "
                          "Choose a video compressor.");
    if (asked.biWidth != format.width || asked.biHeight != format.height)
        return refuse(inspection, RenderStep::RenderVideoStream,
                      "Direct stream copy keeps the source's picture size, " +
                          std::to_string(format.width) + "*" + std::to_string(format.height) +
                          ", and cannot make it " + std::to_string(asked.biWidth) + "*" +
                          std::to_string(asked.biHeight) +
                          ". Choose \"Original size\" or a video compressor.");
    const Fraction askedRate = FrameRateFraction(videoGroup.outputFrameRate);
    if (!sameRate(askedRate, inspection.frameRate) &&
        !sameRate(askedRate, source.video().rateTag))
        return refuse(inspection, RenderStep::RenderVideoStream,
                      "Direct stream copy keeps the source's " +
                          FormatFrameRate(inspection.frameRate) + " frames a second and cannot make " +
                          FormatFrameRate(askedRate) +
                          ". Choose \"Original frame rate\" or a video compressor.");
    inspection.videoFormat = format.name;
    return true;
}

// The copied sound's format as the multiplexer is asked for it (a conversion that encodes the
// pictures and copies the sound writes through it).
std::string multiplexerSoundCaps(const CopiedSound& sound, const GstCaps* source) {
    if (sound.name == "PCM") {
        const GCharPtr text(gst_caps_to_string(source));
        return text ? text.get() : "audio/x-raw";
    }
    const std::string fields =
        ", rate=(int)" + std::to_string(sound.sampleRate) + ", channels=(int)" +
        std::to_string(sound.channels);
    if (sound.name == "AC-3") return "audio/x-ac3" + fields;
    return "audio/mpeg, mpegversion=(int)1, layer=(int)" +
           std::string(sound.name == "MP3" ? "3" : "2") + fields;
}

// Where a copy that cannot encode pictures again starts: the last key frame at or before the
// mark, as the container marks it, read on from where a seek to the mark lands.
ReferenceTime keyFrameBefore(CopySource& source, ReferenceTime markTime) {
    if (!source.Seek(markTime)) return markTime;
    std::optional<ReferenceTime> key;
    SourcePacket packet;
    for (int read = 0; read < 1'000'000 && source.Next(&packet); ++read) {
        if (!packet.video) continue;
        const ReferenceTime time = packet.pts >= 0 ? packet.pts : packet.dts;
        if (key && time > markTime) break;
        if (packet.containerKey && (!key || time <= markTime)) key = std::min(markTime, time);
    }
    return key.value_or(markTime);
}

// The source's length from its first picture: the pictures' own end where the container only
// reckons it (a program stream's demultiplexer counts from its first timestamp, which the first
// picture is already measured from), else the container's word.
ReferenceTime sourceLength(const CopySource& source, const CopyOpening& opening) {
    return (opening.end >= 0 ? opening.end : source.Duration()) - opening.origin;
}

}  // namespace

ProbeResult ProbeForStreamCopy(const std::string& path) {
    ProbeResult probe;
    CopySource source;
    std::string refusal;
    std::optional<CopiedFormat> format;
    if (!source.Open(path) || !(format = CopiedFormatOf(source, &refusal))) {
        probe.errorText = source.problem().empty() ? refusal : source.problem();
        return probe;
    }
    const CopyOpening opening = ReadCopyOpening(source, *format);
    const ReferenceTime said = sourceLength(source, opening);
    if (!opening.problem.empty() || said <= 0) {
        probe.errorText = opening.problem;
        return probe;
    }
    const CopySourceStream& video = source.video();
    probe.status = S_OK;
    probe.duration = said;
    probe.hasVideo = true;
    // Shown as the dialog shows it: a turned clip's "Original size" is its upright size.
    const bool quarterTurn = video.rotation == 90 || video.rotation == 270;
    probe.width = quarterTurn ? format->height : format->width;
    probe.height = quarterTurn ? format->width : format->height;
    probe.rotation = video.rotation;
    probe.frameRateNumerator = opening.rate.numerator;
    probe.frameRateDenominator = opening.rate.denominator;
    probe.frameRateOrigin = sameRate({opening.rate.numerator, opening.rate.denominator},
                                     video.rateTag)
                                ? FrameRateOrigin::Declared
                                : FrameRateOrigin::Measured;
    probe.pixelAspectNumerator = video.pixelAspect.numerator;
    probe.pixelAspectDenominator = video.pixelAspect.denominator;
    probe.hasAudio = opening.soundPresent;
    probe.audioRate = opening.soundRate;
    probe.audioChannels = opening.soundChannels;
    probe.seekable = true;
    return probe;
}

namespace {

StreamCopyInspection inspect(const RenderPlan& plan) {
    StreamCopyInspection inspection;
    inspection.copiesVideo = plan.video.streamCopy;
    inspection.copiesAudio = plan.audio.streamCopy;
    const CopiedSpan span = copiedSpan(plan, inspection);
    if (!span.video) return inspection;
    const std::string& path = span.video->mediaName;

    CopySource source;
    if (!source.Open(path)) {
        refuse(inspection, RenderStep::ConnectFrontEnd,
               "Direct stream copy cannot read the streams of " + path +
                   " as they are. Choose a video compressor instead.");
        return inspection;
    }
    if (!source.video().present) {
        refuse(inspection, RenderStep::ConnectFrontEnd, path + " holds no picture.");
        return inspection;
    }
    std::string refusal;
    std::optional<CopiedFormat> format = CopiedFormatOf(source, &refusal);
    if (!format) {
        if (inspection.copiesVideo) {
            refuse(inspection, RenderStep::RenderVideoStream, refusal);
            return inspection;
        }
        format = CopiedFormat{};  // the pictures are encoded: any picture starts
    }
    const CopyOpening opening = ReadCopyOpening(source, *format);
    if (!opening.problem.empty()) {
        refuse(inspection, RenderStep::ConnectFrontEnd, path + ": " + opening.problem);
        return inspection;
    }
    inspection.sourceHasAudio = opening.soundPresent;
    const bool copiesSound = inspection.copiesAudio && inspection.sourceHasAudio;
    inspection.frameRate = {opening.rate.numerator, opening.rate.denominator};
    if (inspection.copiesVideo && !copyVideo(inspection, source, *format, *span.videoGroup))
        return inspection;
    if (copiesSound) {
        const std::optional<CopiedSound> sound = CopiedSoundOf(opening);
        if (!sound) {
            refuse(inspection, RenderStep::RenderAudioStream,
                   opening.firstSound.empty()
                       ? "The sound of " + path + " cannot be read as it is. Choose an audio "
                                                  "compressor instead."
                       : SoundRefusal(opening));
            return inspection;
        }
        inspection.audioFormat = sound->name;
        const CapsPtr caps(gst_caps_from_string(opening.soundCaps.c_str()));
        inspection.audioCaps = multiplexerSoundCaps(*sound, caps.get());
    }

    // The span in the source's time from its first picture, and in the file's own.
    inspection.markedStart = span.video->mediaStart;
    inspection.start = inspection.markedStart;
    inspection.stop = span.video->mediaStop;
    // A span that ends where the source ends runs to its last picture.
    const ReferenceTime said = sourceLength(source, opening);
    const ReferenceTime frame = FrameStart(1, opening.rate);
    inspection.toTheEnd = said > 0 && inspection.stop + frame >= said;
    if (said > 0) inspection.stop = std::min(inspection.stop, said);
    if (inspection.stop <= inspection.start)
        refuse(inspection, RenderStep::ConnectFrontEnd,
               "The span from " + FormatClockMilliseconds(inspection.markedStart) +
                   " lies past the end of " + path + ".");
    if (inspection.copiesVideo && source.bare() && (inspection.markedStart > 0 || !inspection.toTheEnd))
        refuse(inspection, RenderStep::ConnectFrontEnd,
               path + " is a bare " + format->name +
                   " stream, without a container to give its pictures their times: Direct "
                   "stream copy can copy it only whole. Choose a video compressor to convert a "
                   "part of it.");
    inspection.fileOrigin = opening.origin;
    inspection.seekStart = opening.origin + inspection.markedStart;
    inspection.seekStop = opening.origin + span.video->mediaStop;
    if (inspection.copiesVideo && format->codec != PictureCodec::IntraOnly &&
        format->encoder.empty() && inspection.markedStart > 0) {
        inspection.startKind = CopyStart::AtKeyFrameBefore;
        inspection.start = keyFrameBefore(source, inspection.seekStart) - opening.origin;
    }
    return inspection;
}

// What decides an inspection: the file as it is, the span, the routes and what was asked of
// the pictures.
std::string inspectionKey(const RenderPlan& plan) {
    std::string key = std::to_string(plan.video.streamCopy) + std::to_string(plan.audio.streamCopy);
    for (const TimelineGroup& group : plan.timeline.groups) {
        key += "|" + std::to_string(group.outputFrameRate);
        if (group.mediaType.format)
            key += "|" + std::to_string(group.mediaType.format->bmiHeader.biWidth) + "x" +
                   std::to_string(group.mediaType.format->bmiHeader.biHeight);
        for (const TimelineTrack& track : group.tracks)
            for (const TimelineSource& source : track.sources) {
                std::error_code failed;
                const auto changed = std::filesystem::last_write_time(source.mediaName, failed);
                key += "|" + source.mediaName + "|" + std::to_string(source.mediaStart) + "-" +
                       std::to_string(source.mediaStop) + "|" +
                       std::to_string(failed ? 0 : changed.time_since_epoch().count());
            }
    }
    return key;
}

}  // namespace

StreamCopyInspection InspectStreamCopy(const RenderPlan& plan) {
    // The command line inspects a copy before it starts it, and the render inspects it again:
    // the second is the first's answer.
    static std::mutex mutex;
    static std::string lastKey;
    static StreamCopyInspection last;
    const std::string key = inspectionKey(plan);
    {
        std::lock_guard lock(mutex);
        if (key == lastKey) return last;
    }
    StreamCopyInspection inspection = inspect(plan);
    std::lock_guard lock(mutex);
    lastKey = key;
    last = inspection;
    return inspection;
}

std::string CopiedStreamsText(const StreamCopyInspection& inspection) {
    std::string text;
    if (!inspection.videoFormat.empty()) text = inspection.videoFormat + " video";
    if (!inspection.audioFormat.empty())
        text += (text.empty() ? "" : " and ") + inspection.audioFormat + " sound";
    if (text.empty()) return "nothing copied";
    text += " copied";
    if (inspection.copiesAudio && !inspection.sourceHasAudio) text += "; the source has no sound";
    return text;
}

}  // namespace media
