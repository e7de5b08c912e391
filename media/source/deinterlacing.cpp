#include <ges/ges.h>

#include "media/source/deinterlacing.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <mutex>

#include "media/core/gst_handles.h"
#include "media/core/repaired_file_source.h"
#include "media/source/deinterlacing_stage.h"

namespace media {
namespace {

constexpr int kPicturesToCheck = 30;
// When this many pictures with detail show no comb, the rest will not change the verdict.
constexpr int kPlainlyProgressive = 12;
constexpr auto kCheckTimeLimit = std::chrono::seconds(2);
// The picture is looked at in blocks of this many lines and columns.
constexpr int kBlockSide = 16;
// Below this mean step between a line and its neighbours' average a block is plain noise.
constexpr int kDetailStep = 4;
// A picture whose share of combed blocks reaches this is combed.
constexpr double kCombedBlockShare = 0.01;

// Runs on a streaming thread: the check reads the pictures only.
GstPadProbeReturn dropAll(GstPad*, GstPadProbeInfo*, gpointer) {
    return GST_PAD_PROBE_DROP;
}

struct CheckPipeline {
    GstElement* pipeline = nullptr;  // not a reference: the pipeline owns this
    GstElement* convert = nullptr;
    std::atomic<bool> declared{false};
    // Pictures of a palette (an animated GIF's) are dithered, in patterns that comb like
    // fields, and never interlaced.
    std::atomic<bool> palette{false};
    bool linked = false;
};

// Runs on the thread that adds the element (a streaming thread).
void noteDecoder(GstBin*, GstBin*, GstElement* element, gpointer data) {
    GstElementFactory* factory = gst_element_get_factory(element);
    if (factory && g_strrstr(GST_OBJECT_NAME(factory), "gif"))
        static_cast<CheckPipeline*>(data)->palette = true;
}

// Runs on a streaming thread: the first picture stream goes to the sink as grey pictures.
void checkPadAdded(GstElement*, GstPad* pad, gpointer data) {
    auto* check = static_cast<CheckPipeline*>(data);
    CapsPtr caps(gst_pad_get_current_caps(pad));
    if (!caps) caps.reset(gst_pad_query_caps(pad, nullptr));
    const GstStructure* structure =
        caps && !gst_caps_is_empty(caps.get()) ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    if (!structure || !gst_structure_has_name(structure, "video/x-raw") || check->linked) {
        gst_pad_add_probe(pad, GST_PAD_PROBE_TYPE_DATA_DOWNSTREAM, dropAll, nullptr, nullptr);
        return;
    }
    check->linked = true;
    const gchar* mode = gst_structure_get_string(structure, "interlace-mode");
    check->declared = mode && !g_str_equal(mode, "progressive");
    GstPtr<GstPad> sink(gst_element_get_static_pad(check->convert, "sink"));
    gst_pad_link(pad, sink.get());
}

// Each line of a progressive picture is nearer the average of its neighbours than of the lines
// two away; in a moving interlaced picture the neighbours belong to the other field, taken a
// field's time apart, and the lines two away (its own field) match it better. A block where the
// neighbours fit clearly worse is combed, when the differences also run the same way along the
// line, as the teeth of a comb do: the patterns of ordered dithering (an animated GIF's) and of
// fine texture alternate along it as well. Counts the blocks with detail and the combed ones.
void countCombedBlocks(const guint8* pixels, int width, int height, int stride, int* detailed,
                       int* combed) {
    for (int top = 2; top + kBlockSide + 2 <= height; top += kBlockSide) {
        for (int left = 0; left + kBlockSide <= width; left += kBlockSide) {
            long neighbours = 0;
            long ownField = 0;
            long alongLines = 0;
            for (int y = top; y < top + kBlockSide; ++y) {
                const guint8* line = pixels + y * stride;
                long along = 0;
                for (int x = left; x < left + kBlockSide; ++x) {
                    const int twice = 2 * line[x];
                    const int step = twice - line[x - stride] - line[x + stride];
                    neighbours += std::abs(step);
                    ownField += std::abs(twice - line[x - 2 * stride] - line[x + 2 * stride]);
                    along += step;
                }
                alongLines += std::labs(along);
            }
            const long floor = static_cast<long>(kDetailStep) * kBlockSide * kBlockSide;
            if (neighbours + ownField < floor) continue;
            ++*detailed;
            if (neighbours > floor && neighbours * 2 > ownField * 3 && alongLines * 2 > neighbours)
                ++*combed;
        }
    }
}

FieldCheck runCheck(const std::string& path) {
    FieldCheck result;
    const std::string uri = MediaUriOf(path);
    if (uri.empty()) return result;
    PipelinePtr pipeline(GST_ELEMENT(gst_object_ref_sink(gst_pipeline_new(nullptr))));
    GstElement* source = gst_element_factory_make("uridecodebin", nullptr);
    GstElement* convert = gst_element_factory_make("videoconvert", nullptr);
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    GstElement* sink = gst_element_factory_make("appsink", nullptr);
    if (!source || !convert || !filter || !sink) {
        for (GstElement* e : {source, convert, filter, sink})
            if (e) gst_object_unref(gst_object_ref_sink(e));
        return result;
    }
    gst_bin_add_many(GST_BIN(pipeline.get()), source, convert, filter, sink, nullptr);
    CapsPtr grey(gst_caps_new_simple("video/x-raw", "format", G_TYPE_STRING, "GRAY8", nullptr));
    g_object_set(filter, "caps", grey.get(), nullptr);
    g_object_set(sink, "sync", FALSE, "max-buffers", 2, nullptr);
    // Only the pictures are decoded; the sound's streams are left as the file has them.
    CapsPtr pictures(gst_caps_from_string("video/x-raw(ANY)"));
    g_object_set(source, "uri", uri.c_str(), "caps", pictures.get(), nullptr);
    gst_element_link_many(convert, filter, sink, nullptr);
    CheckPipeline check{pipeline.get(), convert};
    g_signal_connect(source, "pad-added", G_CALLBACK(checkPadAdded), &check);
    g_signal_connect(pipeline.get(), "deep-element-added", G_CALLBACK(noteDecoder), &check);
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE)
        return result;

    const auto until = std::chrono::steady_clock::now() + kCheckTimeLimit;
    while (result.picturesChecked < kPicturesToCheck && std::chrono::steady_clock::now() < until) {
        SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink), 200 * GST_MSECOND));
        if (!sample) {
            if (gst_app_sink_is_eos(GST_APP_SINK(sink))) break;
            continue;
        }
        // A source that says what it is needs no picture looked at.
        if (check.declared || check.palette) {
            result.measured = true;
            break;
        }
        GstVideoInfo info;
        GstVideoFrame frame;
        if (!gst_video_info_from_caps(&info, gst_sample_get_caps(sample.get())) ||
            !gst_video_frame_map(&frame, &info, gst_sample_get_buffer(sample.get()), GST_MAP_READ))
            continue;
        result.measured = true;
        int detailed = 0;
        int combed = 0;
        countCombedBlocks(static_cast<const guint8*>(GST_VIDEO_FRAME_PLANE_DATA(&frame, 0)),
                          GST_VIDEO_FRAME_WIDTH(&frame), GST_VIDEO_FRAME_HEIGHT(&frame),
                          GST_VIDEO_FRAME_PLANE_STRIDE(&frame, 0), &detailed, &combed);
        gst_video_frame_unmap(&frame);
        if (detailed == 0) continue;  // a plain picture cannot tell
        ++result.picturesChecked;
        if (combed > 0 && combed >= kCombedBlockShare * detailed) ++result.picturesCombed;
        if (result.picturesChecked == kPlainlyProgressive && result.picturesCombed == 0) break;
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    result.declared = check.declared;
    result.palette = check.palette;
    return result;
}

struct Stamp {
    std::uintmax_t size = 0;
    std::filesystem::file_time_type modified;
    bool operator==(const Stamp&) const = default;
};

}  // namespace

FieldCheck CheckFields(const std::string& path) {
    static std::mutex mutex;
    static std::map<std::string, std::pair<Stamp, FieldCheck>> known;
    std::error_code failed;
    const Stamp stamp{std::filesystem::file_size(path, failed),
                      std::filesystem::last_write_time(path, failed)};
    if (!failed) {
        std::lock_guard lock(mutex);
        const auto found = known.find(path);
        if (found != known.end() && found->second.first == stamp) return found->second.second;
    }
    const FieldCheck check = runCheck(path);
    if (!failed && check.measured) {
        std::lock_guard lock(mutex);
        known[path] = {stamp, check};
    }
    return check;
}

bool LooksInterlaced(const FieldCheck& check) {
    // A few pictures with motion are enough; a cut or a flash may comb one picture of a
    // progressive source, never a quarter of them.
    return check.picturesChecked >= 4 && check.picturesCombed * 4 >= check.picturesChecked;
}

DeinterlaceDecision DecideDeinterlacing(DeinterlaceMode mode, const std::string& path) {
    switch (mode) {
        case DeinterlaceMode::On:
            return {true, "asked for"};
        case DeinterlaceMode::Off:
            return {false, "asked not to"};
        case DeinterlaceMode::Auto:
            break;
    }
    const FieldCheck check = CheckFields(path);
    if (check.declared) return {true, "the source says its pictures are interlaced"};
    if (check.palette) return {false, "its pictures are a palette's (GIF), never interlaced"};
    const std::string counted = std::to_string(check.picturesCombed) + " of " +
                                std::to_string(check.picturesChecked) + " pictures checked are combed";
    if (LooksInterlaced(check)) return {true, counted};
    if (!check.measured) return {false, "the pictures could not be checked"};
    return {false, check.picturesChecked == 0 ? std::string("no picture showed motion to check")
                                              : counted};
}

namespace {

// Each picture is made from its first field alone, its lines in between interpolated: one
// picture comes out for each that goes in, so the rate stays the source's. GStreamer 1.22's
// motion-adaptive methods (greedyh, greedyl, tomsmocomp) leave fast motion combed.
constexpr const char* kDeinterlaceChain =
    "videoconvert ! deinterlace mode=interlaced fields=top method=linear";

}  // namespace

GstElement* MakeDeinterlacer() {
    GError* error = nullptr;
    GstElement* bin = gst_parse_bin_from_description(kDeinterlaceChain, TRUE, &error);
    g_clear_error(&error);
    return bin;
}

bool SetClipDeinterlacing(GESClip* clip, bool deinterlace) {
    bool set = false;
    GList* children = ges_container_get_children(GES_CONTAINER(clip), FALSE);
    for (GList* item = children; item; item = item->next) {
        if (!GES_IS_VIDEO_SOURCE(item->data)) continue;
        // GstDeinterlace's "mode": 1 forces it, 2 passes the pictures through; "fields" 1 and
        // "method" 4 make one picture of each from its first field.
        auto* element = GES_TIMELINE_ELEMENT(item->data);
        GObject* deinterlacer = nullptr;
        GParamSpec* spec = nullptr;
        if (!ges_timeline_element_lookup_child(element, "GstDeinterlace::mode", &deinterlacer,
                                               &spec))
            continue;
        g_object_unref(deinterlacer);
        g_param_spec_unref(spec);
        ges_timeline_element_set_child_properties(element, "GstDeinterlace::mode",
                                                  deinterlace ? 1 : 2, "GstDeinterlace::fields",
                                                  1, "GstDeinterlace::method", 4, nullptr);
        set = true;
    }
    g_list_free_full(children, g_object_unref);
    // They make a deinterlacer only for pictures that say they are interlaced; for the others
    // it comes as an effect on the clip, which works on the source's pictures before the
    // editing services fit them into the frame.
    if (!set && deinterlace) {
        GESEffect* effect = ges_effect_new(kDeinterlaceChain);
        set = effect && ges_container_add(GES_CONTAINER(clip), GES_TIMELINE_ELEMENT(effect));
    }
    return set || !deinterlace;
}

}  // namespace media
