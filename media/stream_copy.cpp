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

bool isVideoCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return false;
    const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    return g_str_has_prefix(name, "video/") || g_str_has_prefix(name, "image/");
}

bool isAudioCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return false;
    return g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
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
        gchar* text = gst_caps_to_string(caps);
        CopyFormat format{"PCM", text ? text : "audio/x-raw"};
        g_free(text);
        return format;
    }
    return std::nullopt;
}

// Whether the multiplexer's input of that kind takes the stream, with its size and rate.
bool multiplexerTakes(const GstCaps* stream, bool video) {
    GstPtr<GstElementFactory> mux(gst_element_factory_find("avimux"));
    if (!mux) return false;
    for (const GList* item = gst_element_factory_get_static_pad_templates(mux.get()); item;
         item = item->next) {
        auto* tmpl = static_cast<GstStaticPadTemplate*>(item->data);
        if (tmpl->direction != GST_PAD_SINK ||
            !g_str_has_prefix(tmpl->name_template, video ? "video" : "audio"))
            continue;
        CapsPtr accepted(gst_static_pad_template_get_caps(tmpl));
        return gst_caps_can_intersect(accepted.get(), stream);
    }
    return false;
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

std::string codecDescription(const GstCaps* caps) {
    gchar* description = gst_pb_utils_get_codec_description(caps);
    std::string text =
        description ? description : gst_structure_get_name(gst_caps_get_structure(caps, 0));
    g_free(description);
    return text;
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
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return time;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    GstClockTime streamTime = time;
    if (segment->format == GST_FORMAT_TIME) {
        guint64 converted = 0;
        if (gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, time, &converted) > 0)
            streamTime = converted;
    }
    gst_event_unref(event);
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
        if (isVideoCaps(caps.get()) && !link->probe->video.present) {
            link->probe->video.present = watch = video = true;
        } else if (isAudioCaps(caps.get()) && !link->probe->audio.present) {
            link->probe->audio.present = watch = true;
        }
    }
    GstElement* queue = gst_element_factory_make("queue", nullptr);
    GstElement* sink = gst_element_factory_make("fakesink", nullptr);
    if (!queue || !sink) {
        if (queue) gst_object_unref(queue);
        if (sink) gst_object_unref(sink);
        return;
    }
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
    GstMessage* message = gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR);
    if (!message) return {};
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    std::string text = error && error->message ? error->message : "";
    g_clear_error(&error);
    gst_message_unref(message);
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
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* parser = gst_element_factory_make("parsebin", nullptr);
    if (!source || !parser) {
        if (source) gst_object_unref(source);
        if (parser) gst_object_unref(parser);
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

StreamCopyInspection refuse(StreamCopyInspection inspection, RenderStep step, std::string text) {
    inspection.refusal = std::move(text);
    inspection.refusedStep = step;
    return inspection;
}

}  // namespace

bool UsesStreamCopy(const RenderPlan& plan) {
    return plan.video.streamCopy || plan.audio.streamCopy;
}

StreamCopyInspection InspectStreamCopy(const RenderPlan& plan) {
    StreamCopyInspection inspection;
    inspection.copiesVideo = plan.video.streamCopy;
    inspection.copiesAudio = plan.audio.streamCopy;

    // The conversions this writes: one span of one file, a video group and its sound.
    const TimelineGroup* videoGroup = nullptr;
    const TimelineGroup* audioGroup = nullptr;
    for (const TimelineGroup& group : plan.timeline.groups) {
        if (group.isVideo() && !videoGroup)
            videoGroup = &group;
        else if (!group.isVideo() && !audioGroup)
            audioGroup = &group;
    }
    auto onlySource = [](const TimelineGroup* group) -> const TimelineSource* {
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
    };
    const TimelineSource* video = onlySource(videoGroup);
    if (!video || !videoGroup->mediaType.format)
        return refuse(inspection, RenderStep::ConnectFrontEnd,
                      "Direct stream copy writes one span of one video without transitions.");
    const TimelineSource* sound = onlySource(audioGroup);
    if (audioGroup && sound && sound->mediaName != video->mediaName)
        return refuse(inspection, RenderStep::ConnectFrontEnd,
                      "Direct stream copy takes the sound from the video's own file.");

    inspection.markedStart = video->mediaStart;
    std::optional<ReferenceTime> keyFrameWanted;
    if (inspection.copiesVideo) keyFrameWanted = video->mediaStart;
    SourceFacts facts = probeSource(video->mediaName, keyFrameWanted);
    if (!facts.problem.empty())
        return refuse(inspection, RenderStep::ConnectFrontEnd, facts.problem);
    if (!facts.hasVideo || !facts.videoCaps)
        return refuse(inspection, RenderStep::ConnectFrontEnd,
                      video->mediaName + " holds no picture.");
    inspection.sourceHasAudio = facts.hasAudio && facts.audioCaps;

    const GstStructure* picture = gst_caps_get_structure(facts.videoCaps.get(), 0);
    Fraction sourceRate;
    gst_structure_get_fraction(picture, "framerate", &sourceRate.numerator,
                               &sourceRate.denominator);
    const FrameRate rate{sourceRate.numerator, sourceRate.denominator};

    if (inspection.copiesVideo) {
        const std::optional<CopyFormat> format = copyableVideo(picture);
        CapsPtr caps = format ? withSourceFields(format->muxCaps, facts.videoCaps.get()) : nullptr;
        if (!format || !caps || !multiplexerTakes(caps.get(), true))
            return refuse(inspection, RenderStep::RenderVideoStream,
                          "Direct stream copy cannot write the " +
                              codecDescription(facts.videoCaps.get()) +
                              " pictures of the source into an AVI file. Choose a video "
                              "compressor instead.");
        int width = 0;
        int height = 0;
        gst_structure_get_int(picture, "width", &width);
        gst_structure_get_int(picture, "height", &height);
        const BitmapInfoHeader& asked = videoGroup->mediaType.format->bmiHeader;
        if (asked.biWidth != width || asked.biHeight != height)
            return refuse(inspection, RenderStep::RenderVideoStream,
                          "Direct stream copy keeps the source's picture size, " +
                              std::to_string(width) + "*" + std::to_string(height) +
                              ", and cannot make it " + std::to_string(asked.biWidth) + "*" +
                              std::to_string(asked.biHeight) +
                              ". Choose \"Original size\" or a video compressor.");
        if (!rate.known())
            return refuse(inspection, RenderStep::RenderVideoStream,
                          "The source's pictures come at no steady rate, which an AVI file "
                          "needs. Choose a video compressor instead.");
        const Fraction asked_rate = FrameRateFraction(videoGroup->outputFrameRate);
        if (static_cast<gint64>(asked_rate.numerator) * sourceRate.denominator !=
            static_cast<gint64>(sourceRate.numerator) * asked_rate.denominator)
            return refuse(inspection, RenderStep::RenderVideoStream,
                          "Direct stream copy keeps the source's " + rateText(sourceRate) +
                              " frames a second and cannot make " + rateText(asked_rate) +
                              ". Choose \"Original frame rate\" or a video compressor.");
        inspection.videoFormat = format->name;
        gchar* text = gst_caps_to_string(caps.get());
        inspection.videoCaps = text ? text : format->muxCaps;
        g_free(text);
    }
    if (inspection.copiesAudio && inspection.sourceHasAudio) {
        const std::optional<CopyFormat> format = copyableAudio(facts.audioCaps.get());
        CapsPtr caps = format ? withSourceFields(format->muxCaps, facts.audioCaps.get()) : nullptr;
        if (!format || !caps || !multiplexerTakes(caps.get(), false))
            return refuse(inspection, RenderStep::RenderAudioStream,
                          "Direct stream copy cannot write the " +
                              codecDescription(facts.audioCaps.get()) +
                              " sound of the source into an AVI file. Choose an audio "
                              "compressor instead.");
        inspection.audioFormat = format->name;
        gchar* text = gst_caps_to_string(caps.get());
        inspection.audioCaps = text ? text : format->muxCaps;
        g_free(text);
    }

    // The span in the file's time. The first picture is time 0 for the marks.
    inspection.fileOrigin = fromClockTime(facts.origin);
    ReferenceTime end = video->mediaStop;
    if (GST_CLOCK_TIME_IS_VALID(facts.duration))
        end = std::min(end, fromClockTime(facts.duration) - inspection.fileOrigin);
    // The marked picture: the one on show at the mark.
    ReferenceTime pictureStart = video->mediaStart;
    ReferenceTime quarterFrame = 0;
    if (rate.known()) {
        const std::int64_t frame = FrameIndexAt(video->mediaStart, rate);
        pictureStart = FrameStart(frame, rate);
        quarterFrame = (FrameStart(frame + 1, rate) - pictureStart) / 4;
    }
    if (end <= pictureStart)
        return refuse(inspection, RenderStep::ConnectFrontEnd,
                      "The span from " + clockText(video->mediaStart) + " lies past the end of " +
                          video->mediaName + ".");

    inspection.start = pictureStart;
    inspection.stop = end;
    // A quarter of a frame into the marked picture: the picture that overlaps the start of the
    // span is the first kept, and a container that rounds its times cannot move the picture
    // before it in.
    inspection.seekStart = inspection.fileOrigin + pictureStart + quarterFrame;
    inspection.seekStop = inspection.fileOrigin + end;
    if (inspection.copiesVideo) {
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

// --- The pipeline ---

namespace {

// What the copy pipeline's callbacks share; lives as long as the pipeline.
struct CopyPipelineState {
    std::mutex mutex;
    std::condition_variable changed;
    GstElement* pipeline = nullptr;   // not a reference: the state lives inside it
    GstElement* encodebin = nullptr;  // not a reference either
    bool copiesVideo = false;
    bool copiesAudio = false;
    bool wantsAudio = false;
    bool reencodeHead = false;
    int width = 0;
    int height = 0;
    Fraction frameRate;
    bool stretch = false;
    GstClockTime seekStart = 0;
    GstClockTime seekStop = GST_CLOCK_TIME_NONE;
    bool seekToKeyFrame = false;

    bool videoTaken = false;
    bool audioTaken = false;
    bool cued = false;    // a stream holds its first buffer at the block
    bool seeked = false;  // the span is sought: the blocks go
    struct Hold {
        GstPad* pad;  // a parsing-bin pad, with a reference
        gulong block;
        gulong flushDrop;
    };
    std::vector<Hold> blocks;
    GstClockTime written = 0;  // running time of the furthest buffer into the encoding bin
};

CopyPipelineState* stateOf(GstElement* pipeline) {
    return static_cast<CopyPipelineState*>(
        g_object_get_data(G_OBJECT(pipeline), "framewell-copy-state"));
}

GstPad* encodingBinPad(GstElement* encodebin, bool video) {
    GstPad* found = nullptr;
    GstIterator* pads = gst_element_iterate_sink_pads(encodebin);
    GValue item = G_VALUE_INIT;
    while (!found && gst_iterator_next(pads, &item) == GST_ITERATOR_OK) {
        auto* pad = GST_PAD(g_value_get_object(&item));
        if (g_str_has_prefix(GST_PAD_NAME(pad), video ? "video" : "audio") &&
            !gst_pad_is_linked(pad))
            found = GST_PAD(gst_object_ref(pad));
        g_value_reset(&item);
    }
    g_value_unset(&item);
    gst_iterator_free(pads);
    return found;
}

// Runs on a streaming thread: how far the output has come, for progress.
GstPadProbeReturn noteWritten(GstPad* pad, GstPadProbeInfo* info, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstClockTime time = GST_BUFFER_PTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(time)) time = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(time)) return GST_PAD_PROBE_OK;
    if (GST_BUFFER_DURATION_IS_VALID(buffer)) time += GST_BUFFER_DURATION(buffer);
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    const GstClockTime running = gst_segment_to_running_time(segment, GST_FORMAT_TIME, time);
    gst_event_unref(event);
    if (GST_CLOCK_TIME_IS_VALID(running)) {
        std::lock_guard lock(state->mutex);
        state->written = std::max(state->written, running);
    }
    return GST_PAD_PROBE_OK;
}

// Runs on the thread that asks: the position of a copy is how far its output has come. The
// file writer downstream counts bytes, not time.
GstPadProbeReturn answerPosition(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstQuery* query = GST_PAD_PROBE_INFO_QUERY(info);
    if (GST_QUERY_TYPE(query) != GST_QUERY_POSITION) return GST_PAD_PROBE_OK;
    GstFormat format = GST_FORMAT_UNDEFINED;
    gst_query_parse_position(query, &format, nullptr);
    if (format != GST_FORMAT_TIME) return GST_PAD_PROBE_OK;
    auto* state = static_cast<CopyPipelineState*>(data);
    std::lock_guard lock(state->mutex);
    gst_query_set_position(query, GST_FORMAT_TIME, static_cast<gint64>(state->written));
    return GST_PAD_PROBE_HANDLED;
}

void linkIntoEncodingBin(CopyPipelineState* state, GstPad* source, bool video) {
    GstPtr<GstPad> target(encodingBinPad(state->encodebin, video));
    if (!target) return;
    gst_pad_add_probe(target.get(), GST_PAD_PROBE_TYPE_BUFFER, noteWritten, state, nullptr);
    gst_pad_link(source, target.get());
}

// Runs on a streaming thread: PCM is cut to the span to the sample, as a decoder would cut it.
GstPadProbeReturn clipSamples(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    CapsPtr caps(gst_pad_get_current_caps(pad));
    GstAudioInfo audio;
    if (!caps || !gst_audio_info_from_caps(&audio, caps.get())) return GST_PAD_PROBE_OK;
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event) return GST_PAD_PROBE_OK;
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    GstBuffer* clipped =
        gst_audio_buffer_clip(GST_PAD_PROBE_INFO_BUFFER(info), segment, GST_AUDIO_INFO_RATE(&audio),
                              GST_AUDIO_INFO_BPF(&audio));
    gst_event_unref(event);
    GST_PAD_PROBE_INFO_DATA(info) = clipped;
    // Without a sample inside the span the buffer is gone already.
    return clipped ? GST_PAD_PROBE_OK : GST_PAD_PROBE_HANDLED;
}

// Runs on a streaming thread. Some demultiplexers (AVI's among them) go on past the end of a
// sought span; a copied stream ends there. The decoding time decides: a picture decoded after
// the end is shown after it too.
GstPadProbeReturn endAtStop(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    GstClockTime time = GST_BUFFER_DTS(buffer);
    if (!GST_CLOCK_TIME_IS_VALID(time)) time = GST_BUFFER_PTS(buffer);
    GstEvent* event = gst_pad_get_sticky_event(pad, GST_EVENT_SEGMENT, 0);
    if (!event || !GST_CLOCK_TIME_IS_VALID(time)) {
        if (event) gst_event_unref(event);
        return GST_PAD_PROBE_OK;
    }
    const GstSegment* segment = nullptr;
    gst_event_parse_segment(event, &segment);
    const bool past = segment->format == GST_FORMAT_TIME &&
                      GST_CLOCK_TIME_IS_VALID(segment->stop) && time >= segment->stop;
    gst_event_unref(event);
    if (!past) return GST_PAD_PROBE_OK;
    // Once ended, the pad answers every later buffer with end-of-stream itself.
    gst_pad_push_event(pad, gst_event_new_eos());
    return GST_PAD_PROBE_DROP;
}

// Runs on a streaming thread: a decoded picture of a stream that is encoded goes through the
// fitting chain; decoded sound goes straight in (the encoding bin converts it).
void decodedPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    const bool video = isVideoCaps(caps.get());
    if (!video) {
        linkIntoEncodingBin(state, pad, false);
        return;
    }
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement* scale = gst_element_factory_make("videoscale", nullptr);
    GstElement* rate = gst_element_factory_make("videorate", nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    if (!convert || !scale || !rate || !filter) {
        for (GstElement* e : {convert, scale, rate, filter})
            if (e) gst_object_unref(e);
        return;
    }
    // Bars keep the aspect of the picture unless it is to fill the frame, as in a render.
    g_object_set(scale, "add-borders", state->stretch ? FALSE : TRUE, "method", 1, nullptr);
    CapsPtr fitted(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, state->width, "height",
                                       G_TYPE_INT, state->height, "framerate", GST_TYPE_FRACTION,
                                       state->frameRate.numerator, state->frameRate.denominator,
                                       "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr));
    g_object_set(filter, "caps", fitted.get(), nullptr);
    gst_bin_add_many(GST_BIN(state->pipeline), convert, scale, rate, filter, nullptr);
    gst_element_link_many(convert, scale, rate, filter, nullptr);
    for (GstElement* e : {filter, rate, scale, convert}) gst_element_sync_state_with_parent(e);
    GstPtr<GstPad> out(gst_element_get_static_pad(filter, "src"));
    linkIntoEncodingBin(state, out.get(), true);
    GstPtr<GstPad> in(gst_element_get_static_pad(convert, "sink"));
    gst_pad_link(pad, in.get());
}

// Runs on a streaming thread: until the span is sought, the source's streams stop at their
// first buffer.
GstPadProbeReturn holdUntilSought(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    {
        std::lock_guard lock(state->mutex);
        state->cued = true;
    }
    state->changed.notify_all();
    return GST_PAD_PROBE_OK;
}

// Runs on a streaming thread: the seek's flush stays out of the encoding bin, which has seen no
// data yet.
GstPadProbeReturn dropFlush(GstPad*, GstPadProbeInfo*, gpointer) {
    return GST_PAD_PROBE_DROP;
}

// Runs on a streaming thread: a stream that is not written is read and dropped. (A sink of its
// own would answer position queries with its own times.)
GstPadProbeReturn dropAll(GstPad*, GstPadProbeInfo*, gpointer) {
    return GST_PAD_PROBE_DROP;
}

// Runs on a streaming thread: the first picture stream and the first sound stream are taken
// (copied, or decoded for encoding); every other stream is read and dropped.
void parsedPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    bool video = false;
    bool take = false;
    {
        std::lock_guard lock(state->mutex);
        if (isVideoCaps(caps.get()) && !state->videoTaken) {
            state->videoTaken = take = video = true;
        } else if (isAudioCaps(caps.get()) && state->wantsAudio && !state->audioTaken) {
            state->audioTaken = take = true;
        }
        if (take && !state->seeked) {
            const auto held =
                static_cast<GstPadProbeType>(GST_PAD_PROBE_TYPE_BLOCK | GST_PAD_PROBE_TYPE_BUFFER);
            state->blocks.push_back({GST_PAD(gst_object_ref(pad)),
                                     gst_pad_add_probe(pad, held, holdUntilSought, state, nullptr),
                                     gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_FLUSH,
                                                       dropFlush, nullptr, nullptr)});
        }
    }
    if (!take) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, dropAll, nullptr, nullptr);
        return;
    }
    const bool copied = video ? state->copiesVideo : state->copiesAudio;
    if (copied) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, endAtStop, nullptr, nullptr);
        if (!video && isAudioCaps(caps.get()) &&
            gst_structure_has_name(gst_caps_get_structure(caps.get(), 0), "audio/x-raw"))
            gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_BUFFER, clipSamples, nullptr, nullptr);
        linkIntoEncodingBin(state, pad, video);
        return;
    }
    GstElement* decoder = gst_element_factory_make("decodebin", nullptr);
    if (!decoder) return;
    g_signal_connect(decoder, "pad-added", G_CALLBACK(decodedPadAdded), state);
    gst_bin_add(GST_BIN(state->pipeline), decoder);
    gst_element_sync_state_with_parent(decoder);
    GstPtr<GstPad> in(gst_element_get_static_pad(decoder, "sink"));
    gst_pad_link(pad, in.get());
}

// The re-encoded head of an H.264 span should not look worse than the copied rest.
void tuneHeadEncoder(GstBin*, GstBin*, GstElement* element, gpointer) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (!factory || !g_str_equal(GST_OBJECT_NAME(factory), "x264enc")) return;
    gst_util_set_object_arg(G_OBJECT(element), "pass", "qual");
    gst_util_set_object_arg(G_OBJECT(element), "quantizer", "18");
    gst_util_set_object_arg(G_OBJECT(element), "speed-preset", "faster");
}

void freeState(gpointer data) {
    auto* state = static_cast<CopyPipelineState*>(data);
    for (const CopyPipelineState::Hold& hold : state->blocks) gst_object_unref(hold.pad);
    delete state;
}

}  // namespace

GstCaps* CopiedStreamCaps(const std::string& description) {
    return gst_caps_from_string(description.c_str());
}

GstElement* MakeStreamCopyPipeline(const CopyPipelineRequest& request, std::string* error) {
    const StreamCopyInspection& inspection = *request.inspection;
    GstElement* pipeline = gst_pipeline_new(nullptr);
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* parser = gst_element_factory_make("parsebin", nullptr);
    GstElement* encodebin = gst_element_factory_make("encodebin", nullptr);
    GstElement* sink = gst_element_factory_make("filesink", nullptr);
    if (!pipeline || !source || !parser || !encodebin || !sink) {
        for (GstElement* e : {pipeline, source, parser, encodebin, sink})
            if (e) gst_object_unref(e);
        if (error)
            *error = "The media framework lacks an element of the copy (parsebin, encodebin).";
        return nullptr;
    }
    gst_object_ref_sink(pipeline);
    auto* state = new CopyPipelineState;
    state->pipeline = pipeline;
    state->encodebin = encodebin;
    state->copiesVideo = inspection.copiesVideo;
    state->copiesAudio = inspection.copiesAudio;
    state->wantsAudio = inspection.sourceHasAudio;
    state->reencodeHead = inspection.reencodeHead;
    state->width = request.width;
    state->height = request.height;
    state->frameRate = request.frameRate;
    state->stretch = request.stretch;
    state->seekStart = toClockTime(inspection.seekStart);
    state->seekStop = toClockTime(inspection.seekStop);
    state->seekToKeyFrame = inspection.seekToKeyFrame;
    g_object_set_data_full(G_OBJECT(pipeline), "framewell-copy-state", state, freeState);

    g_object_set(source, "location", request.sourcePath.c_str(), nullptr);
    g_object_set(sink, "location", request.location.c_str(), nullptr);
    // Whoever watches the pipeline's elements sees the encoding bin's too: they are made when
    // it gets its profile, below.
    if (request.elementAdded)
        g_signal_connect(pipeline, "deep-element-added", request.elementAdded,
                         request.elementAddedData);
    if (inspection.reencodeHead)
        g_signal_connect(encodebin, "deep-element-added", G_CALLBACK(tuneHeadEncoder), nullptr);
    gst_bin_add_many(GST_BIN(pipeline), source, parser, encodebin, sink, nullptr);
    // Only the head of a span is encoded again; without it the encoding bin passes the copied
    // streams through their parsers alone.
    g_object_set(encodebin, "avoid-reencoding", inspection.reencodeHead ? TRUE : FALSE, "profile",
                 request.container, nullptr);
    if (!gst_element_link(source, parser) || !gst_element_link(encodebin, sink)) {
        gst_object_unref(pipeline);
        if (error) *error = "The copy's elements could not be connected.";
        return nullptr;
    }
    GstPtr<GstPad> sinkPad(gst_element_get_static_pad(sink, "sink"));
    gst_pad_add_probe(sinkPad.get(), GST_PAD_PROBE_TYPE_QUERY_UPSTREAM, answerPosition, state,
                      nullptr);
    g_signal_connect(parser, "pad-added", G_CALLBACK(parsedPadAdded), state);
    return pipeline;
}

bool RunStreamCopyPipeline(GstElement* pipeline, std::string* error) {
    CopyPipelineState* state = stateOf(pipeline);
    if (!state) return false;
    if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE) {
        if (error) *error = "The source could not be read.";
        return false;
    }
    // The streams hold at their first buffer; the pipeline cannot finish its cue before the
    // span is sought, so the wait is for the blocks, a slice at a time, watching for failure.
    // The parsing bin shows all of a file's streams before any data leaves it, so the first
    // block finds every stream linked.
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    std::unique_lock lock(state->mutex);
    while (!state->cued) {
        if (std::chrono::steady_clock::now() >= until) {
            if (error) *error = "The source could not be read in time.";
            return false;
        }
        state->changed.wait_for(lock, std::chrono::milliseconds(20));
        lock.unlock();
        const GstStateChangeReturn now = gst_element_get_state(pipeline, nullptr, nullptr, 0);
        lock.lock();
        if (now == GST_STATE_CHANGE_FAILURE) {
            if (error) *error = "The source could not be read.";
            return false;
        }
    }
    if (state->blocks.empty()) {
        if (error) *error = "The source holds nothing to copy.";
        return false;
    }
    GstPtr<GstPad> seekPad(GST_PAD(gst_object_ref(state->blocks.front().pad)));
    const auto flags = static_cast<GstSeekFlags>(
        GST_SEEK_FLAG_FLUSH |
        (state->seekToKeyFrame ? GST_SEEK_FLAG_KEY_UNIT | GST_SEEK_FLAG_SNAP_BEFORE
                               : GST_SEEK_FLAG_ACCURATE));
    const GstClockTime start = state->seekStart;
    const GstClockTime stop = state->seekStop;
    lock.unlock();
    // Sent up from a source pad of the parsing bin: it reaches the demultiplexer, which seeks
    // every stream.
    const gboolean sought = gst_pad_send_event(
        seekPad.get(), gst_event_new_seek(1.0, GST_FORMAT_TIME, flags, GST_SEEK_TYPE_SET,
                                          static_cast<gint64>(start), GST_SEEK_TYPE_SET,
                                          static_cast<gint64>(stop)));
    lock.lock();
    state->seeked = true;
    std::vector<CopyPipelineState::Hold> blocks = std::move(state->blocks);
    state->blocks.clear();
    lock.unlock();
    for (const CopyPipelineState::Hold& hold : blocks) {
        gst_pad_remove_probe(hold.pad, hold.flushDrop);
        gst_pad_remove_probe(hold.pad, hold.block);
        gst_object_unref(hold.pad);
    }
    if (!sought) {
        if (error) *error = "The span could not be found in the source.";
        return false;
    }
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        if (error) *error = "The copy could not be started.";
        return false;
    }
    return true;
}

}  // namespace media
