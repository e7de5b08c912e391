#include "media/source/subtitle_cues.h"

#include <gst/app/gstappsink.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <mutex>
#include <sstream>

#include "media/core/failure_words.h"
#include "media/core/local_file.h"
#include "media/core/status.h"
#include "media/source/source_timing.h"

namespace media {
namespace {

// A track is read from the start of the file; a long film's is read at the speed of the disk.
constexpr auto kReadTimeLimit = std::chrono::seconds(60);

bool subtitleCaps(const GstCaps* caps) {
    if (!caps || gst_caps_is_empty(caps)) return false;
    const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps, 0));
    return g_str_has_prefix(name, "text/") || g_str_has_prefix(name, "subpicture/") ||
           g_str_equal(name, "application/x-ass") || g_str_equal(name, "application/x-ssa");
}

// "H:MM:SS.cc" as ASS and SSA write times; -1 when it is no such time.
ReferenceTime ssaTime(const std::string& text) {
    int hours = 0, minutes = 0, seconds = 0, hundredths = 0;
    if (std::sscanf(text.c_str(), " %d:%d:%d.%d", &hours, &minutes, &seconds, &hundredths) != 4)
        return -1;
    return ((hours * 60LL + minutes) * 60 + seconds) * kReferenceTimePerSecond +
           hundredths * (kReferenceTimePerSecond / 100);
}

// The dialogue text without its override codes ({\b1}, {\pos(..)}), with its line breaks, as
// Pango markup.
std::string ssaText(const std::string& raw) {
    std::string plain;
    bool inCode = false;
    for (std::size_t i = 0; i < raw.size(); ++i) {
        const char c = raw[i];
        if (inCode) {
            inCode = c != '}';
            continue;
        }
        if (c == '{') {
            inCode = true;
        } else if (c == '\\' && i + 1 < raw.size() &&
                   (raw[i + 1] == 'N' || raw[i + 1] == 'n' || raw[i + 1] == 'h')) {
            plain += raw[i + 1] == 'h' ? ' ' : '\n';
            ++i;
        } else if (c != '\r') {
            plain += c;
        }
    }
    const GCharPtr escaped(g_markup_escape_text(plain.c_str(), -1));
    return escaped ? std::string(escaped.get()) : std::string();
}

BufferPtr textBuffer(const std::string& text) {
    return BufferPtr(gst_buffer_new_memdup(text.data(), text.size()));
}

// A side file's text in UTF-8: as it is when it is UTF-8 (a byte order mark dropped), read as
// Latin-1 otherwise, as older subtitle files are.
std::string utf8Text(std::string bytes) {
    if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) bytes.erase(0, 3);
    if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
    const GCharPtr converted(
        g_convert(bytes.data(), static_cast<gssize>(bytes.size()), "UTF-8", "ISO-8859-1",
                  nullptr, nullptr, nullptr));
    return converted ? std::string(converted.get()) : std::string();
}

// What the reading pipeline's callbacks share; lives as long as the pipeline.
struct TrackReading {
    std::mutex mutex;
    GstElement* pipeline = nullptr;  // not a reference: the reading owns it
    GstElement* sink = nullptr;
    int wantedNumber = 0;
    std::string wantedKey;
    int subtitlesSeen = 0;
    bool linked = false;
    std::vector<EventPtr> leadingEvents;
};

// Runs on a streaming thread: everything but the chosen track is read and dropped.
GstPadProbeReturn dropAll(GstPad*, GstPadProbeInfo*, gpointer) {
    return GST_PAD_PROBE_DROP;
}

// Runs on a streaming thread: a DVD track's palette comes as an event ahead of its pictures.
GstPadProbeReturn keepCustomEvents(GstPad*, GstPadProbeInfo* info, gpointer data) {
    GstEvent* event = GST_PAD_PROBE_INFO_EVENT(info);
    if (GST_EVENT_TYPE(event) == GST_EVENT_CUSTOM_DOWNSTREAM) {
        auto* reading = static_cast<TrackReading*>(data);
        std::lock_guard lock(reading->mutex);
        reading->leadingEvents.emplace_back(gst_event_copy(event));
    }
    return GST_PAD_PROBE_OK;
}

std::string streamKeyOfPad(GstPad* pad) {
    const GCharPtr id(gst_pad_get_stream_id(pad));
    return id ? StreamKeyOf(id.get()) : std::string();
}

// Runs on a streaming thread: the chosen subtitle track goes to the sink, an ASS or SSA track
// through the parser that turns its events into text.
void trackPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* reading = static_cast<TrackReading*>(data);
    CapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    bool take = false;
    if (subtitleCaps(caps.get())) {
        std::lock_guard lock(reading->mutex);
        const int number = ++reading->subtitlesSeen;
        take = !reading->linked && (reading->wantedKey.empty()
                                        ? number == reading->wantedNumber
                                        : streamKeyOfPad(pad) == reading->wantedKey);
        reading->linked = reading->linked || take;
    }
    if (!take) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, dropAll, nullptr, nullptr);
        return;
    }
    gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, keepCustomEvents, reading,
                      nullptr);
    GstElement* into = reading->sink;
    const gchar* name = gst_structure_get_name(gst_caps_get_structure(caps.get(), 0));
    if (g_str_equal(name, "application/x-ass") || g_str_equal(name, "application/x-ssa")) {
        GstElement* parser = gst_element_factory_make("ssaparse", nullptr);
        if (parser) {
            gst_bin_add(GST_BIN(reading->pipeline), parser);
            gst_element_link(parser, reading->sink);
            gst_element_sync_state_with_parent(parser);
            into = parser;
        }
    }
    GstPtr<GstPad> sinkPad(gst_element_get_static_pad(into, "sink"));
    gst_pad_link(pad, sinkPad.get());
}

// Pulls cues from the sink until the end, or until one starts past readUntil (media time).
// False with *error set when the pipeline fails.
bool pullCues(GstElement* pipeline, GstElement* sink, GstClockTime readUntil,
              SubtitleCues& cues, std::string* error) {
    const GstPtr<GstBus> bus(gst_element_get_bus(pipeline));
    const auto until = std::chrono::steady_clock::now() + kReadTimeLimit;
    while (std::chrono::steady_clock::now() < until) {
        if (const MessagePtr failed(gst_bus_pop_filtered(bus.get(), GST_MESSAGE_ERROR)); failed) {
            *error = FailureInWords(failed.get());
            return false;
        }
        SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 100 * GST_MSECOND));
        if (!sample) {
            if (gst_app_sink_is_eos(GST_APP_SINK(sink))) return true;
            continue;
        }
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        if (!buffer || !GST_BUFFER_PTS_IS_VALID(buffer)) continue;
        if (!cues.caps) cues.caps.reset(gst_caps_ref(gst_sample_get_caps(sample.get())));
        if (GST_BUFFER_PTS(buffer) > readUntil) return true;
        SubtitleCue cue;
        cue.start = NanosecondsToReferenceTime(static_cast<std::int64_t>(GST_BUFFER_PTS(buffer)));
        if (GST_BUFFER_DURATION_IS_VALID(buffer))
            cue.stop = cue.start + NanosecondsToReferenceTime(
                                       static_cast<std::int64_t>(GST_BUFFER_DURATION(buffer)));
        cue.buffer.reset(gst_buffer_ref(buffer));
        cues.cues.push_back(std::move(cue));
    }
    *error = "could not be read in time";
    return false;
}

// A file read through a parser into a sink that takes the cues as fast as they come; the
// parser and the sink are held by the pipeline. Null pipeline with *error set when the
// framework lacks an element.
struct CueReader {
    PipelinePtr pipeline;
    GstElement* parser = nullptr;
    GstElement* sink = nullptr;
};

CueReader newCueReader(const std::string& path, const char* parserName, std::string* error) {
    CueReader reader;
    GstElement* source = gst_element_factory_make("filesrc", nullptr);
    GstElement* parser = gst_element_factory_make(parserName, nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!source || !parser || !sink) {
        for (GstElement* e : {source, parser, sink})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        *error = std::string("the media framework lacks an element to read them (") + parserName +
                 ")";
        return reader;
    }
    g_object_set(sink, "sync", FALSE, nullptr);
    g_object_set(source, "location", path.c_str(), nullptr);
    reader.pipeline.reset(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    gst_bin_add_many(GST_BIN(reader.pipeline.get()), source, parser, sink, nullptr);
    gst_element_link(source, parser);
    reader.parser = parser;
    reader.sink = sink;
    return reader;
}

// The track of the source, its times turned into the source's own from its first picture.
std::shared_ptr<SubtitleCues> readTrack(const SourceChoices& choices, const std::string& path,
                          ReferenceTime readUntil, std::string* error) {
    const SourceTiming timing = MeasureSourceTiming(path);
    CueReader reader = newCueReader(path, "parsebin", error);
    if (!reader.pipeline) return nullptr;
    const PipelinePtr& pipeline = reader.pipeline;
    GstElement* sink = reader.sink;
    GstElement* parser = reader.parser;
    auto reading = std::make_unique<TrackReading>();
    reading->pipeline = pipeline.get();
    reading->sink = sink;
    reading->wantedNumber = choices.subtitleTrack;
    reading->wantedKey = choices.subtitleStreamKey;
    g_signal_connect(parser, "pad-added", G_CALLBACK(trackPadAdded), reading.get());
    auto cues = std::make_shared<SubtitleCues>();
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        *error = "the file could not be read";
        return nullptr;
    }
    const bool read = pullCues(pipeline.get(), sink,
                               static_cast<GstClockTime>(ReferenceTimeToNanoseconds(
                                   timing.ToMedia(std::max<ReferenceTime>(readUntil, 0)))),
                               *cues, error);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (!read) return nullptr;
    {
        std::lock_guard lock(reading->mutex);
        if (!reading->linked) {
            *error = "the track could not be found in the file";
            return nullptr;
        }
        cues->leadingEvents = std::move(reading->leadingEvents);
    }
    for (SubtitleCue& cue : cues->cues) {
        const ReferenceTime length = cue.stop >= 0 ? cue.stop - cue.start : -1;
        cue.start = timing.ToUser(cue.start);
        cue.stop = length >= 0 ? cue.start + length : -1;
    }
    return cues;
}

// A side file that GStreamer's subtitle parser reads (SRT, WebVTT, MicroDVD, SAMI and more).
std::shared_ptr<SubtitleCues> readParsedFile(const std::string& path, std::string* error) {
    CueReader reader = newCueReader(path, "subparse", error);
    if (!reader.pipeline) return nullptr;
    const PipelinePtr& pipeline = reader.pipeline;
    GstElement* sink = reader.sink;
    gst_element_link(reader.parser, sink);
    auto cues = std::make_shared<SubtitleCues>();
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        *error = "the file could not be read";
        return nullptr;
    }
    const bool read = pullCues(pipeline.get(), sink, GST_CLOCK_TIME_NONE - 1, *cues, error);
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    if (!read) return nullptr;
    return cues;
}

std::shared_ptr<SubtitleCues> readSideFile(const std::string& path, std::string* error) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    if (!file) {
        *error = "the file could not be read";
        return nullptr;
    }
    const std::string text = utf8Text(bytes.str());
    // GStreamer's parser does not read ASS and SSA scripts.
    std::vector<SubtitleCue> ssa = ParseSsaScript(text);
    if (!ssa.empty()) {
        auto cues = std::make_shared<SubtitleCues>();
        cues->caps.reset(gst_caps_new_simple("text/x-raw", "format", G_TYPE_STRING,
                                             "pango-markup", nullptr));
        cues->cues = std::move(ssa);
        return cues;
    }
    return readParsedFile(path, error);
}

}  // namespace

std::vector<SubtitleCue> ParseSsaScript(const std::string& script) {
    std::vector<SubtitleCue> cues;
    std::istringstream lines(script);
    std::string line;
    bool events = false;
    std::vector<std::string> format;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty() && line.front() == '[') {
            events = line.rfind("[Events]", 0) == 0;
            continue;
        }
        if (!events) continue;
        auto fieldsOf = [](const std::string& rest, std::size_t count) {
            std::vector<std::string> fields;
            std::size_t at = 0;
            // The last field (the text) keeps its commas.
            while (fields.size() + 1 < count) {
                const std::size_t comma = rest.find(',', at);
                if (comma == std::string::npos) break;
                fields.push_back(rest.substr(at, comma - at));
                at = comma + 1;
            }
            fields.push_back(rest.substr(std::min(at, rest.size())));
            for (std::string& field : fields) {
                const auto first = field.find_first_not_of(' ');
                field.erase(0, first == std::string::npos ? field.size() : first);
            }
            return fields;
        };
        if (line.rfind("Format:", 0) == 0) {
            format = fieldsOf(line.substr(7), 64);
            for (std::string& name : format)
                while (!name.empty() && name.back() == ' ') name.pop_back();
            continue;
        }
        if (line.rfind("Dialogue:", 0) != 0 || format.empty()) continue;
        const std::vector<std::string> fields = fieldsOf(line.substr(9), format.size());
        if (fields.size() != format.size()) continue;
        ReferenceTime start = -1;
        ReferenceTime stop = -1;
        std::string text;
        for (std::size_t i = 0; i < format.size(); ++i) {
            if (format[i] == "Start") start = ssaTime(fields[i]);
            if (format[i] == "End") stop = ssaTime(fields[i]);
            if (format[i] == "Text") text = ssaText(fields[i]);
        }
        if (start < 0 || stop <= start || text.empty()) continue;
        cues.push_back({start, stop, textBuffer(text)});
    }
    std::stable_sort(cues.begin(), cues.end(),
                     [](const SubtitleCue& a, const SubtitleCue& b) { return a.start < b.start; });
    return cues;
}

SubtitleCuesPtr ReadSubtitleCues(const SourceChoices& choices, const std::string& sourcePath,
                                 ReferenceTime readUntil, std::string* error) {
    std::string why;
    std::shared_ptr<SubtitleCues> cues;
    std::string named;
    if (!choices.subtitleFile.empty()) {
        named = choices.subtitleFile;
        if (FAILED(CheckLocalMediaFile(named)))
            why = LastErrorText();
        else
            cues = readSideFile(named, &why);
    } else if (choices.subtitleTrack > 0) {
        named = "subtitle track " + std::to_string(choices.subtitleTrack) + " of " + sourcePath;
        cues = readTrack(choices, sourcePath, readUntil, &why);
    } else {
        return nullptr;
    }
    if (cues && !cues->caps && cues->cues.empty() && why.empty()) {
        // A track or a file without a single cue burns nothing in; that is not an error.
        auto empty = std::make_shared<SubtitleCues>();
        empty->caps.reset(
            gst_caps_new_simple("text/x-raw", "format", G_TYPE_STRING, "utf8", nullptr));
        return empty;
    }
    if (!cues) {
        if (error) *error = "The subtitles of " + named + " cannot be used: " + why;
        return nullptr;
    }
    const GstStructure* structure = gst_caps_get_structure(cues->caps.get(), 0);
    cues->bitmap = g_str_has_prefix(gst_structure_get_name(structure), "subpicture/");
    return cues;
}

}  // namespace media
