#include "media/stream_copy.h"

#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "media/avi_stream_format.h"
#include "media/frame_time.h"
#include "media/gst_handles.h"
#include "media/stream_copy_pipeline.h"

namespace media {
namespace {

constexpr GstClockTime kCueTimeout = 5 * GST_SECOND;

GstClockTime toClockTime(ReferenceTime t) {
    return static_cast<GstClockTime>(ReferenceTimeToNanoseconds(std::max<ReferenceTime>(t, 0)));
}

ReferenceTime fromClockTime(GstClockTime t) {
    return NanosecondsToReferenceTime(static_cast<std::int64_t>(t));
}

// --- Which streams an AVI file takes as they are ---

struct CopyFormat {
    std::string name;     // in words, for the user
    std::string muxCaps;  // the format as the multiplexer is asked for it
};

std::optional<CopyFormat> copyableVideo(const GstStructure* s) {
    const std::string name = gst_structure_get_name(s);
    gboolean systemStream = FALSE;
    gst_structure_get_boolean(s, "systemstream", &systemStream);
    int version = 0;
    if (name == "video/x-h264") return CopyFormat{"H.264", "video/x-h264"};
    if (name == "video/mpeg" && !systemStream &&
        gst_structure_get_int(s, "mpegversion", &version)) {
        if (version == 4)
            return CopyFormat{"MPEG-4 Part 2",
                              "video/mpeg, mpegversion=(int)4, systemstream=(boolean)false"};
        if (version == 1 || version == 2)
            return CopyFormat{version == 1 ? "MPEG-1" : "MPEG-2",
                              "video/mpeg, mpegversion=(int)" + std::to_string(version) +
                                  ", systemstream=(boolean)false"};
    }
    if (name == "video/x-divx" && gst_structure_get_int(s, "divxversion", &version) &&
        (version == 4 || version == 5))
        return CopyFormat{"MPEG-4 Part 2",
                          "video/x-divx, divxversion=(int)" + std::to_string(version)};
    if (name == "image/jpeg") return CopyFormat{"Motion JPEG", "image/jpeg"};
    if (name == "video/x-dv" && !systemStream)
        return CopyFormat{"DV", "video/x-dv, systemstream=(boolean)false"};
    return std::nullopt;
}

std::string capsText(const GstCaps* caps, const std::string& otherwise) {
    const GCharPtr text(gst_caps_to_string(caps));
    return text ? text.get() : otherwise;
}

std::optional<CopyFormat> copyableAudio(const GstCaps* caps) {
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const std::string name = gst_structure_get_name(s);
    int version = 0;
    int layer = 0;
    if (name == "audio/mpeg" && gst_structure_get_int(s, "mpegversion", &version) && version == 1 &&
        gst_structure_get_int(s, "layer", &layer) && (layer == 2 || layer == 3))
        return CopyFormat{layer == 3 ? "MP3" : "MP2",
                          "audio/mpeg, mpegversion=(int)1, layer=(int)" + std::to_string(layer)};
    if (name == "audio/x-ac3") return CopyFormat{"AC-3", "audio/x-ac3"};
    if (name == "audio/x-raw") {
        // PCM goes in with every field it has: the multiplexer takes it only as it is.
        return CopyFormat{"PCM", capsText(caps, "audio/x-raw")};
    }
    return std::nullopt;
}

// Whether the multiplexer's input of that kind takes the stream, with its size and rate.
bool multiplexerTakes(const GstCaps* stream, bool video) {
    const CapsPtr accepted = AviSinkCaps(video);
    return accepted && gst_caps_can_intersect(accepted.get(), stream);
}

// The copied stream's caps as the multiplexer gets them: the format's own fields with the
// source's picture size and rate or sound format.
CapsPtr withSourceFields(const std::string& muxCaps, const GstCaps* source) {
    CapsPtr caps(gst_caps_from_string(muxCaps.c_str()));
    if (!caps || gst_caps_is_empty(caps.get())) return caps;
    GstStructure* target = gst_caps_get_structure(caps.get(), 0);
    const GstStructure* from = gst_caps_get_structure(source, 0);
    for (const char* field : {"width", "height", "framerate", "rate", "channels"}) {
        const GValue* value = gst_structure_get_value(from, field);
        if (value && !gst_structure_has_field(target, field))
            gst_structure_set_value(target, field, value);
    }
    return caps;
}

// The copied stream's caps when the AVI multiplexer takes the format as the source has it; null
// otherwise.
CapsPtr copiedCaps(const std::optional<CopyFormat>& format, const GstCaps* source, bool video) {
    if (!format) return nullptr;
    CapsPtr caps = withSourceFields(format->muxCaps, source);
    if (!caps || !multiplexerTakes(caps.get(), video)) return nullptr;
    return caps;
}

std::string codecDescription(const GstCaps* caps) {
    const GCharPtr description(gst_pb_utils_get_codec_description(caps));
    return description ? description.get()
                       : gst_structure_get_name(gst_caps_get_structure(caps, 0));
}

std::string clockText(ReferenceTime t) {
    return FormatClockMilliseconds(t);
}

std::string rateText(Fraction rate) {
    return FormatFrameRate(rate);
}

// --- What the source holds: its streams, its first picture, its key frames ---

struct ProbedStream {
    bool present = false;
    CapsPtr caps;
    GstClockTime first = GST_CLOCK_TIME_NONE;  // stream time of the first buffer
};

struct SourceProbe {
    std::mutex mutex;
    std::condition_variable changed;
    ProbedStream video;
    ProbedStream audio;
    bool afterSeek = false;
    bool videoFlushed = false;  // the seek's flush went by: the next picture is the key frame
    GstClockTime keyFrame = GST_CLOCK_TIME_NONE;

    // Every stream watched has shown its first buffer (and, after the seek, the picture). The
    // parsing bin shows all of a file's streams at once, before any data leaves it.
    bool complete() const {
        if (afterSeek) return !video.present || GST_CLOCK_TIME_IS_VALID(keyFrame);
        return (video.present || audio.present) && (!video.present || video.caps) &&
               (!audio.present || audio.caps);
    }
};

// The stream time of a buffer: its presentation time, or its decoding time where the
// container gives only that.
GstClockTime bufferStreamTime(GstPad* pad, GstBuffer* buffer) {
    GstClockTime time = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(time)) time = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(time)) return GST_CLOCK_TIME_NONE;
    const EventPtr event(gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0));
    if (!event) return time;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event.get(), &segment);
    GstClockTime streamTime = time;
    if (segment->format == GST_FORMAT_TIME) {
        guint64 converted = 0;
        if (gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, time, &converted) > 0)
            streamTime = converted;
    }
    return streamTime;
}

// Runs on a streaming thread.
GstPadProbeReturn recordBuffer(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* probe = static_cast<SourceProbe*>(g_object_get_data(G_OBJECT(pad), "framewell-probe"));
    const bool video = GPOINTER_TO_INT(data) != 0;
    if (!probe) return GST_PAD_PROBE_OK;
    if (!(info->type & GST_PAD_PROBE_TYPE_BUFFER)) {
        // Buffers on their way before the seek may still pass until its flush has ended.
        std::lock_guard lock(probe->mutex);
        if (video && probe->afterSeek &&
            GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_FLUSH_STOP)
            probe->videoFlushed = true;
        return GST_PAD_PROBE_OK;
    }
    const GstClockTime time = bufferStreamTime(pad, GST_PAD_PROBE_INFO_BUFFER(info));
    {
        std::lock_guard lock(probe->mutex);
        ProbedStream& stream = video ? probe->video : probe->audio;
        if (!stream.caps) {
            stream.caps.reset(gst_pad_get_current_caps(pad));
            stream.first = time;
        } else if (probe->videoFlushed && video && !GST_CLOCK_TIME_IS_VALID(probe->keyFrame)) {
            probe->keyFrame = time;
        }
    }
    probe->changed.notify_all();
    return GST_PAD_PROBE_OK;
}

struct ProbeLink {
    GstElement* pipeline;
    SourceProbe* probe;
};

// Runs on a streaming thread: every stream goes into a sink of its own, behind a queue so that
// one thread of the demultiplexer can fill them all; the first of each kind is watched.
void probePadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* link = static_cast<ProbeLink*>(data);
    CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    bool watch = false;
    bool video = false;
    {
        std::lock_guard lock(link->probe->mutex);
        if (IsVideoCaps(caps.get()) && !link->probe->video.present) {
            link->probe->video.present = watch = video = true;
        } else if (IsAudioCaps(caps.get()) && !link->probe->audio.present) {
            link->probe->audio.present = watch = true;
        }
    }
    const GstPtr<GstElement> queueOwner = MakeElement("queue");
    const GstPtr<GstElement> sinkOwner = MakeElement("fakesink");
    GstElement* queue = queueOwner.get();
    GstElement* sink = sinkOwner.get();
    if (!queue || !sink) return;
    gst_bin_add_many(GST_BIN(link->pipeline), queue, sink, nullptr);
    gst_element_link(queue, sink);
    gst_element_sync_state_with_parent(sink);
    gst_element_sync_state_with_parent(queue);
    GstPtr<GstPad> queueSink(gst_element_get_static_pad(queue, "sink"));
    gst_pad_link(pad, queueSink.get());
    if (watch) {
        g_object_set_data(G_OBJECT(pad), "framewell-probe", link->probe);
        gst_pad_add_probe(pad,
                          static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BUFFER |
                                                       GST_PAD_PROBE_TYPE_EVENT_FLUSH),
                          recordBuffer, GINT_TO_POINTER(video), nullptr);
    }
}

std::string busErrorText(GstElement* pipeline) {
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
    const MessagePtr message(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR));
    if (!message) return {};
    GError* error = nullptr;
    gst_message_parse_error(message.get(), &error, nullptr);
    std::string text = error && error->message ? error->message : "";
    g_clear_error(&error);
    return text;
}

struct SourceFacts {
    std::string problem;  // why the file could not be read
    bool hasVideo = false;
    bool hasAudio = false;
    CapsPtr videoCaps;
    CapsPtr audioCaps;
    GstClockTime origin = 0;  // the first picture's stream time
    GstClockTime duration = GST_CLOCK_TIME_NONE;
    GstClockTime keyFrame = GST_CLOCK_TIME_NONE;  // the key frame at or before the asked time
};

// Reads the source up to its first pictures, and, when keyFrameBefore is given (in the
// file's time from the first picture), the key frame at or before it.
SourceFacts probeSource(const std::string& path, std::optional<ReferenceTime> keyFrameBefore) {
    SourceFacts facts;
    GstPtr<GstElement> pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    const GstPtr<GstElement> sourceOwner = MakeElement("filesrc");
    const GstPtr<GstElement> parserOwner = MakeElement("parsebin");
    GstElement* source = sourceOwner.get();
    GstElement* parser = parserOwner.get();
    if (!source || !parser) {
        facts.problem = "The media framework has no parsing elements (filesrc, parsebin).";
        return facts;
    }
    g_object_set(source, "location", path.c_str(), nullptr);
    gst_bin_add_many(GST_BIN(pipeline.get()), source, parser, nullptr);
    gst_element_link(source, parser);
    SourceProbe probe;
    ProbeLink link{pipeline.get(), &probe};
    g_signal_connect(parser, "pad-added", G_CALLBACK(probePadAdded), &link);

    // Waits until the watched streams have shown what is asked, a slice at a time, watching
    // for a failure to read the file.
    auto cue = [&] {
        const auto until = std::chrono::steady_clock::now() +
                           std::chrono::nanoseconds(static_cast<std::int64_t>(kCueTimeout));
        std::unique_lock lock(probe.mutex);
        while (!probe.complete()) {
            lock.unlock();
            const GstStateChangeReturn state =
                gst_element_get_state(pipeline.get(), nullptr, nullptr, 0);
            lock.lock();
            if (state == GST_STATE_CHANGE_FAILURE) {
                const std::string text = busErrorText(pipeline.get());
                facts.problem = path + ": " + (text.empty() ? "cannot be read." : text);
                return false;
            }
            if (std::chrono::steady_clock::now() >= until) {
                facts.problem = path + ": could not be read in time.";
                return false;
            }
            probe.changed.wait_for(lock, std::chrono::milliseconds(10));
        }
        return true;
    };
    gst_element_set_state(pipeline.get(), GST_STATE_PAUSED);
    bool cued = cue();
    if (cued) {
        std::lock_guard lock(probe.mutex);
        facts.hasVideo = probe.video.present;
        facts.hasAudio = probe.audio.present;
        if (probe.video.caps) facts.videoCaps.reset(gst_caps_ref(probe.video.caps.get()));
        if (probe.audio.caps) facts.audioCaps.reset(gst_caps_ref(probe.audio.caps.get()));
        if (GST_CLOCK_TIME_IS_VALID(probe.video.first)) facts.origin = probe.video.first;
    }
    gint64 duration = -1;
    if (cued && gst_element_query_duration(pipeline.get(), GST_FORMAT_TIME, &duration) &&
        duration > 0)
        facts.duration = static_cast<GstClockTime>(duration);
    if (cued && keyFrameBefore && facts.hasVideo) {
        {
            std::lock_guard lock(probe.mutex);
            probe.afterSeek = true;
        }
        const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT |
                                                     GST_SEEK_FLAG_SNAP_BEFORE);
        if (gst_element_seek_simple(pipeline.get(), GST_FORMAT_TIME, flags,
                                    facts.origin + toClockTime(*keyFrameBefore)) &&
            cue()) {
            std::lock_guard lock(probe.mutex);
            facts.keyFrame = probe.keyFrame;
        }
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return facts;
}

bool h264EncoderInstalled() {
    GstPtr<GstElementFactory> factory(gst_element_factory_find("x264enc"));
    return factory != nullptr;
}

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

// Reads the source's streams, and the key frame before the mark when the pictures are copied.
bool readSource(StreamCopyInspection& inspection, const TimelineSource& video, SourceFacts& facts) {
    inspection.markedStart = video.mediaStart;
    std::optional<ReferenceTime> keyFrameWanted;
    if (inspection.copiesVideo) keyFrameWanted = video.mediaStart;
    facts = probeSource(video.mediaName, keyFrameWanted);
    if (!facts.problem.empty())
        return refuse(inspection, RenderStep::ConnectFrontEnd, facts.problem);
    if (!facts.hasVideo || !facts.videoCaps)
        return refuse(inspection, RenderStep::ConnectFrontEnd,
                      video.mediaName + " holds no picture.");
    inspection.sourceHasAudio = facts.hasAudio && facts.audioCaps;
    return true;
}

// Whether the source's pictures go into the AVI file as they are, at the size and rate asked.
bool copyVideo(StreamCopyInspection& inspection, const SourceFacts& facts,
               const TimelineGroup& videoGroup, Fraction sourceRate) {
    const GstStructure* picture = gst_caps_get_structure(facts.videoCaps.get(), 0);
    const std::optional<CopyFormat> format = copyableVideo(picture);
    const CapsPtr caps = copiedCaps(format, facts.videoCaps.get(), true);
    if (!caps)
        return refuse(inspection, RenderStep::RenderVideoStream,
                      "Direct stream copy cannot write the " +
                          codecDescription(facts.videoCaps.get()) +
                          " pictures of the source into an AVI file. Choose a video "
                          "compressor instead.");
    int width = 0;
    int height = 0;
    gst_structure_get_int(picture, "width", &width);
    gst_structure_get_int(picture, "height", &height);
    const BitmapInfoHeader& asked = videoGroup.mediaType.format->bmiHeader;
    if (asked.biWidth != width || asked.biHeight != height)
        return refuse(inspection, RenderStep::RenderVideoStream,
                      "Direct stream copy keeps the source's picture size, " +
                          std::to_string(width) + "*" + std::to_string(height) +
                          ", and cannot make it " + std::to_string(asked.biWidth) + "*" +
                          std::to_string(asked.biHeight) +
                          ". Choose \"Original size\" or a video compressor.");
    if (!FrameRate{sourceRate.numerator, sourceRate.denominator}.known())
        return refuse(inspection, RenderStep::RenderVideoStream,
                      "The source's pictures come at no steady rate, which an AVI file "
                      "needs. Choose a video compressor instead.");
    const Fraction asked_rate = FrameRateFraction(videoGroup.outputFrameRate);
    if (static_cast<gint64>(asked_rate.numerator) * sourceRate.denominator !=
        static_cast<gint64>(sourceRate.numerator) * asked_rate.denominator)
        return refuse(inspection, RenderStep::RenderVideoStream,
                      "Direct stream copy keeps the source's " + rateText(sourceRate) +
                          " frames a second and cannot make " + rateText(asked_rate) +
                          ". Choose \"Original frame rate\" or a video compressor.");
    inspection.videoFormat = format->name;
    inspection.videoCaps = capsText(caps.get(), format->muxCaps);
    return true;
}

// Whether the source's sound goes into the AVI file as it is.
bool copyAudio(StreamCopyInspection& inspection, const SourceFacts& facts) {
    const std::optional<CopyFormat> format = copyableAudio(facts.audioCaps.get());
    const CapsPtr caps = copiedCaps(format, facts.audioCaps.get(), false);
    if (!caps)
        return refuse(inspection, RenderStep::RenderAudioStream,
                      "Direct stream copy cannot write the " +
                          codecDescription(facts.audioCaps.get()) +
                          " sound of the source into an AVI file. Choose an audio "
                          "compressor instead.");
    inspection.audioFormat = format->name;
    inspection.audioCaps = capsText(caps.get(), format->muxCaps);
    return true;
}

// Where copied pictures begin, given the key frame at or before the marked picture.
void chooseCopyStart(StreamCopyInspection& inspection, const SourceFacts& facts, FrameRate rate,
                     ReferenceTime pictureStart, ReferenceTime quarterFrame) {
    const bool keyFrameKnown = GST_CLOCK_TIME_IS_VALID(facts.keyFrame);
    const ReferenceTime keyFrame =
        keyFrameKnown ? fromClockTime(facts.keyFrame) - inspection.fileOrigin : pictureStart;
    const bool markIsKeyFrame =
        !keyFrameKnown ||
        (rate.known() ? FrameStartingAt(keyFrame, rate) >= FrameIndexAt(pictureStart, rate)
                      : keyFrame >= pictureStart);
    if (markIsKeyFrame) {
        inspection.startKind = CopyStart::AtMark;
        inspection.seekToKeyFrame = true;
    } else if (inspection.videoFormat == "H.264" && h264EncoderInstalled()) {
        inspection.startKind = CopyStart::ReencodedToKeyFrame;
        inspection.reencodeHead = true;
    } else {
        inspection.startKind = CopyStart::AtKeyFrameBefore;
        inspection.seekToKeyFrame = true;
        inspection.start = rate.known() ? FrameStart(FrameStartingAt(keyFrame, rate), rate)
                                        : std::max<ReferenceTime>(keyFrame, 0);
    }
    if (inspection.seekToKeyFrame)
        inspection.seekStart = inspection.fileOrigin + inspection.start + quarterFrame;
}

// The span in the file's time. The first picture is time 0 for the marks.
bool placeSpan(StreamCopyInspection& inspection, const SourceFacts& facts,
               const TimelineSource& video, FrameRate rate) {
    inspection.fileOrigin = fromClockTime(facts.origin);
    ReferenceTime end = video.mediaStop;
    if (GST_CLOCK_TIME_IS_VALID(facts.duration))
        end = std::min(end, fromClockTime(facts.duration) - inspection.fileOrigin);
    // The marked picture: the one on show at the mark.
    ReferenceTime pictureStart = video.mediaStart;
    ReferenceTime quarterFrame = 0;
    if (rate.known()) {
        const std::int64_t frame = FrameIndexAt(video.mediaStart, rate);
        pictureStart = FrameStart(frame, rate);
        quarterFrame = (FrameStart(frame + 1, rate) - pictureStart) / 4;
    }
    if (end <= pictureStart)
        return refuse(inspection, RenderStep::ConnectFrontEnd,
                      "The span from " + clockText(video.mediaStart) + " lies past the end of " +
                          video.mediaName + ".");

    inspection.start = pictureStart;
    inspection.stop = end;
    // A quarter of a frame into the marked picture: the picture that overlaps the start of the
    // span is the first kept, and a container that rounds its times cannot move the picture
    // before it in.
    inspection.seekStart = inspection.fileOrigin + pictureStart + quarterFrame;
    inspection.seekStop = inspection.fileOrigin + end;
    if (inspection.copiesVideo)
        chooseCopyStart(inspection, facts, rate, pictureStart, quarterFrame);
    return true;
}

}  // namespace

bool UsesStreamCopy(const RenderPlan& plan) {
    return plan.video.streamCopy || plan.audio.streamCopy;
}

StreamCopyInspection InspectStreamCopy(const RenderPlan& plan) {
    StreamCopyInspection inspection;
    inspection.copiesVideo = plan.video.streamCopy;
    inspection.copiesAudio = plan.audio.streamCopy;

    const CopiedSpan span = copiedSpan(plan, inspection);
    SourceFacts facts;
    if (!span.video || !readSource(inspection, *span.video, facts)) return inspection;

    const GstStructure* picture = gst_caps_get_structure(facts.videoCaps.get(), 0);
    Fraction sourceRate;
    gst_structure_get_fraction(picture, "framerate", &sourceRate.numerator,
                               &sourceRate.denominator);
    if (inspection.copiesVideo && !copyVideo(inspection, facts, *span.videoGroup, sourceRate))
        return inspection;
    if (inspection.copiesAudio && inspection.sourceHasAudio && !copyAudio(inspection, facts))
        return inspection;
    const FrameRate rate{sourceRate.numerator, sourceRate.denominator};
    placeSpan(inspection, facts, *span.video, rate);
    return inspection;
}

std::string CopiedStreamsText(const StreamCopyInspection& inspection) {
    std::string text;
    if (!inspection.videoFormat.empty()) text = inspection.videoFormat + " video";
    if (!inspection.audioFormat.empty())
        text += (text.empty() ? "" : " and ") + inspection.audioFormat + " sound";
    if (text.empty()) return "nothing copied";
    text += " copied";
    if (inspection.startKind == CopyStart::ReencodedToKeyFrame)
        text += ", the pictures up to the first key frame encoded again";
    if (inspection.copiesAudio && !inspection.sourceHasAudio) text += "; the source has no sound";
    return text;
}

}  // namespace media
