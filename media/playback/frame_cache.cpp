#include "media/playback/frame_cache.h"

#include <gst/app/gstappsink.h>
#include <gst/gst.h>
#include <gst/video/video.h>

#include <algorithm>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

#include "media/core/gst_handles.h"
#include "media/core/repaired_file_source.h"
#include "media/source/decoding_repairs.h"

namespace media {
namespace {

constexpr GstClockTime kCueTimeout = 5 * GST_SECOND;
constexpr GstClockTime kPullSlice = 100 * GST_MSECOND;
constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

struct CachedPicture {
    ReferenceTime start = 0;
    ReferenceTime end = 0;
    SamplePtr sample;  // a buffer of its own, not the decoder's
    std::size_t bytes = 0;

    bool holds(ReferenceTime t) const { return start <= t && t < end; }
};

// A converted picture, kept mapped for as long as a copy of its frame exists.
struct ConvertedPicture {
    BufferPtr buffer;
    GstVideoFrame frame{};
    ~ConvertedPicture() {
        if (frame.buffer) gst_video_frame_unmap(&frame);
    }
};

ReferenceTime streamTimeOf(const GstSegment* segment, GstClockTime time) {
    if (!GST_CLOCK_TIME_IS_VALID(time) || !segment || segment->format != GST_FORMAT_TIME) return -1;
    guint64 streamTime = 0;
    const gint sign = gst_segment_to_stream_time_full(segment, GST_FORMAT_TIME, time, &streamTime);
    if (sign == 0) return -1;
    return sign > 0 ? NanosecondsToReferenceTime(static_cast<std::int64_t>(streamTime)) : 0;
}

// Runs on a streaming thread: sound is neither decoded nor kept.
gboolean decodeVideoOnly(GstElement*, GstPad*, GstCaps* caps, gpointer) {
    if (!caps || gst_caps_is_empty(caps) || gst_caps_is_any(caps)) return TRUE;
    return !g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps, 0)), "audio/");
}

}  // namespace

struct FrameCache::State {
    std::mutex mutex;
    std::condition_variable changed;
    const std::size_t budget;

    std::map<ReferenceTime, CachedPicture> pictures;  // by start
    std::size_t bytes = 0;

    // The owner's wishes.
    std::string path;
    bool quit = false;
    bool requested = false;
    ReferenceTime anchorStart = -1;

    // The decode: the anchor it runs toward and keeps pictures for, and how far it has come.
    // Between anchors it rests where it stopped, ready to go on forward.
    bool decoding = false;
    bool positioned = false;
    ReferenceTime decodeAnchor = -1;
    ReferenceTime decodedUpTo = -1;
    // The last finished decode: its key frame and anchor. Marks before that key frame belong
    // to the group before, which that decode never reached.
    ReferenceTime lastKeyFrame = -1;
    ReferenceTime lastAnchor = -1;
    ReferenceTime frameLength = 0;  // of the pictures seen
    std::size_t pictureBytes = 0;

    PipelinePtr pipeline;  // the worker's
    GstElement* sink = nullptr;
    VideoConverterPtr converter;  // the owner's, for Find
    GstVideoInfo converterInput{};
    std::thread worker;

    explicit State(std::size_t budgetBytes) : budget(budgetBytes) {}

    // How many pictures fit the budget before the anchor; a third of it is for the marks.
    std::size_t windowPictures() const {
        if (pictureBytes == 0) return 0;
        return std::max<std::size_t>(budget * 2 / 3 / pictureBytes, 4);
    }

    // Whether a picture is one the next steps back from the anchor ask for: the anchor, the
    // pictures just before it, or the picture one, two, ... seconds back.
    bool wanted(ReferenceTime start, ReferenceTime end, ReferenceTime anchor) const {
        if (start > anchor) return false;
        const ReferenceTime window = static_cast<ReferenceTime>(windowPictures()) * frameLength;
        if (anchor - start <= window) return true;
        const ReferenceTime seconds = (anchor - start) / kSecond;
        return seconds >= 1 && seconds * kSecond > anchor - end;
    }

    // Enough is there for the anchor already: half the window before it without a gap, and
    // the mark a second back (unless that lies before the key frame the last decode began at).
    bool covered(ReferenceTime anchor) const {
        if (pictureBytes == 0 || frameLength <= 0) return false;
        auto found = pictures.upper_bound(anchor);
        std::size_t run = 0;
        ReferenceTime expected = -1;
        while (found != pictures.begin()) {
            --found;
            const CachedPicture& picture = found->second;
            if (expected >= 0 && picture.end + frameLength / 2 < expected) break;
            if (expected < 0 && !picture.holds(anchor)) return false;
            expected = picture.start;
            ++run;
        }
        if (run < windowPictures() / 2) return false;
        const ReferenceTime mark = anchor - kSecond;
        const bool markBeforeGroup =
            lastAnchor >= anchor && lastKeyFrame >= 0 && mark < lastKeyFrame;
        if (mark < 0 || markBeforeGroup) return true;
        auto markPicture = pictures.upper_bound(mark);
        return markPicture != pictures.begin() && std::prev(markPicture)->second.holds(mark);
    }

    // Drops what the anchor does not want, then, over budget, the pictures farthest back.
    void trim(ReferenceTime anchor) {
        for (auto it = pictures.begin(); it != pictures.end();) {
            if (bytes > budget || !wanted(it->second.start, it->second.end, anchor)) {
                bytes -= it->second.bytes;
                it = pictures.erase(it);
            } else {
                ++it;
            }
        }
    }
};

namespace {

using StatePtr = std::shared_ptr<FrameCache::State>;

// Runs on a streaming thread: the pictures go to the worker's sink, anything else nowhere.
void linkDecoded(GstElement*, GstPad* pad, gpointer data) {
    auto* state = static_cast<FrameCache::State*>(data);
    CapsPtr caps(gst_pad_query_caps(pad, nullptr));
    const bool video =
        caps && !gst_caps_is_empty(caps.get()) &&
        g_str_has_prefix(gst_structure_get_name(gst_caps_get_structure(caps.get(), 0)),
                         "video/x-raw");
    GstPtr<GstPad> sinkPad(gst_element_get_static_pad(state->sink, "sink"));
    if (video && !gst_pad_is_linked(sinkPad.get())) {
        gst_pad_link(pad, sinkPad.get());
        return;
    }
    GstElement* fake = gst_element_factory_make("fakesink", nullptr);
    if (!fake) return;
    g_object_set(fake, "sync", FALSE, "async", FALSE, nullptr);
    gst_bin_add(GST_BIN(state->pipeline.get()), fake);
    gst_element_sync_state_with_parent(fake);
    GstPtr<GstPad> fakePad(gst_element_get_static_pad(fake, "sink"));
    gst_pad_link(pad, fakePad.get());
}

void closePipeline(FrameCache::State& state) {
    state.pipeline.reset();  // stopped first
    state.sink = nullptr;
}

// The file is read as the playback graph reads it (the repaired source where the file needs
// it, the decoders' repairs), so that the cached pictures carry the same times as the shown ones.
bool openPipeline(FrameCache::State& state, const std::string& path) {
    PipelinePtr owner(Sunk(gst_pipeline_new(nullptr)).release());
    const GstPtr<GstElement> decoder = MakeElement("uridecodebin");
    const GstPtr<GstElement> sink = MakeElement("appsink");
    if (!owner || !decoder || !sink) return false;
    GstElement* pipeline = owner.get();
    RepairDecodingInside(pipeline);
    g_object_set(decoder.get(), "uri", MediaUriOf(path).c_str(), nullptr);
    CapsPtr raw(gst_caps_from_string("video/x-raw"));
    g_object_set(sink.get(), "caps", raw.get(), "sync", FALSE, "max-buffers", 2u, "drop", FALSE,
                 "enable-last-sample", FALSE, nullptr);
    gst_bin_add_many(GST_BIN(pipeline), decoder.get(), sink.get(), nullptr);
    state.pipeline = std::move(owner);
    state.sink = sink.get();
    g_signal_connect(decoder.get(), "autoplug-continue", G_CALLBACK(decodeVideoOnly), nullptr);
    g_signal_connect(decoder.get(), "pad-added", G_CALLBACK(linkDecoded), &state);
    if (gst_element_set_state(pipeline, GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE ||
        gst_element_get_state(pipeline, nullptr, nullptr, kCueTimeout) !=
            GST_STATE_CHANGE_SUCCESS) {
        closePipeline(state);
        return false;
    }
    return true;
}

// Keeps a decoded picture the anchor wants. Runs on the worker, under no lock.
void keep(FrameCache::State& state, GstSample* sample, ReferenceTime anchor) {
    GstBuffer* buffer = gst_sample_get_buffer(sample);
    const GstSegment* segment = gst_sample_get_segment(sample);
    if (!buffer) return;
    const GstClockTime pts = GST_BUFFER_PTS(buffer);
    const ReferenceTime start = streamTimeOf(segment, pts);
    if (start < 0) return;
    ReferenceTime end = -1;
    if (GST_BUFFER_DURATION_IS_VALID(buffer))
        end = streamTimeOf(segment, pts + GST_BUFFER_DURATION(buffer));
    std::unique_lock lock(state.mutex);
    if (state.decodedUpTo < 0) {
        // The first picture of a decode is its key frame.
        state.lastKeyFrame = start;
    }
    state.decodedUpTo = start;
    if (end > start) state.frameLength = end - start;
    if (end <= start) end = start + std::max<ReferenceTime>(state.frameLength, 1);
    if (state.pictureBytes == 0) state.pictureBytes = gst_buffer_get_size(buffer);
    const bool keepIt = state.wanted(start, end, anchor) && !state.pictures.count(start);
    lock.unlock();
    if (keepIt) {
        // A copy of its own: holding the decoder's buffers would starve its pool.
        const BufferPtr copy(gst_buffer_copy_deep(buffer));
        const std::size_t size = gst_buffer_get_size(copy.get());
        SamplePtr kept(gst_sample_new(copy.get(), gst_sample_get_caps(sample), segment, nullptr));
        lock.lock();
        state.pictures[start] = {start, end, std::move(kept), size};
        state.bytes += size;
        state.trim(anchor);
        lock.unlock();
    }
    state.changed.notify_all();
}

// How far a rested decode goes on forward rather than start again at a key frame.
constexpr ReferenceTime kGoOnLimit = 2 * kSecond;

// Decodes up to the anchor: on from where the last decode rested when the anchor lies a little
// ahead of it, otherwise from the key frame before the anchor. Ends early when asked for an
// anchor it will not come to. Runs on the worker.
void decodeToward(FrameCache::State& state, ReferenceTime anchor) {
    bool goOn = false;
    {
        std::lock_guard lock(state.mutex);
        goOn = state.positioned && anchor > state.decodedUpTo &&
               anchor - state.decodedUpTo <= kGoOnLimit;
        state.decoding = true;
        state.decodeAnchor = anchor;
        if (!goOn) {
            state.positioned = false;
            state.decodedUpTo = -1;
        }
    }
    if (!goOn) {
        const auto flags = static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_KEY_UNIT |
                                                     GST_SEEK_FLAG_SNAP_BEFORE);
        if (gst_element_seek_simple(state.pipeline.get(), GST_FORMAT_TIME, flags,
                                    ReferenceTimeToNanoseconds(anchor))) {
            gst_element_set_state(state.pipeline.get(), GST_STATE_PLAYING);
            std::lock_guard lock(state.mutex);
            state.positioned = true;
        }
    }
    for (;;) {
        {
            std::unique_lock lock(state.mutex);
            if (state.quit || !state.positioned || state.decodedUpTo >= anchor) break;
            if (state.requested) {
                // A new anchor the decode still comes to: it goes on toward that one.
                if (state.anchorStart <= state.decodedUpTo ||
                    state.anchorStart - state.decodedUpTo > kGoOnLimit)
                    break;
                state.requested = false;
                anchor = state.decodeAnchor = state.anchorStart;
            }
        }
        const SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(state.sink), kPullSlice));
        if (!sample) {
            if (gst_app_sink_is_eos(GST_APP_SINK(state.sink))) {
                std::lock_guard lock(state.mutex);
                state.positioned = false;
                break;
            }
            continue;
        }
        keep(state, sample.get(), anchor);
    }
    {
        std::lock_guard lock(state.mutex);
        state.decoding = false;
        state.lastAnchor = anchor;
        state.trim(anchor);
    }
    state.changed.notify_all();
}

void work(StatePtr state) {
    std::string opened;
    for (;;) {
        std::string path;
        ReferenceTime start = -1;
        {
            std::unique_lock lock(state->mutex);
            state->changed.wait(lock, [&] { return state->quit || state->requested; });
            if (state->quit) break;
            path = state->path;
            if (path == opened) {
                state->requested = false;
                start = state->anchorStart;
                if (state->covered(start)) continue;
                // Taken under the same lock, so that a Find in between sees it on its way.
                state->decoding = true;
                state->decodeAnchor = start;
            }
        }
        if (path != opened) {
            // The anchor stays asked for: it is taken once the file is open.
            closePipeline(*state);
            opened = path;
            if (!path.empty() && !openPipeline(*state, path)) opened.clear();
            std::lock_guard lock(state->mutex);
            if (opened.empty()) {
                state->path.clear();
                state->requested = false;
            }
            continue;
        }
        if (state->pipeline && start >= 0) decodeToward(*state, start);
    }
    closePipeline(*state);
}

}  // namespace

FrameCache::FrameCache(std::size_t budgetBytes) : state_(std::make_shared<State>(budgetBytes)) {
    state_->worker = std::thread(work, state_);
}

FrameCache::~FrameCache() {
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
    }
    state_->changed.notify_all();
    state_->worker.join();
}

void FrameCache::Open(const std::string& path, int width, int height) {
    {
        std::lock_guard lock(state_->mutex);
        state_->path = path;
        // Most decoders give 4:2:0 pictures; the first one decoded tells.
        if (width > 0 && height > 0)
            state_->pictureBytes = static_cast<std::size_t>(width) * height * 3 / 2;
    }
}

void FrameCache::Anticipate(ReferenceTime start, ReferenceTime end) {
    if (start < 0) return;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->path.empty()) return;
        state_->requested = true;
        state_->anchorStart = start;
        if (end > start && state_->frameLength <= 0) state_->frameLength = end - start;
    }
    state_->changed.notify_all();
}

VideoFrame FrameCache::Find(ReferenceTime t, std::chrono::milliseconds wait) {
    SamplePtr sample;
    ReferenceTime start = 0;
    ReferenceTime end = 0;
    {
        std::unique_lock lock(state_->mutex);
        auto lookUp = [&] {
            auto found = state_->pictures.upper_bound(t);
            if (found == state_->pictures.begin()) return false;
            --found;
            if (!found->second.holds(t)) return false;
            sample.reset(gst_sample_ref(found->second.sample.get()));
            start = found->second.start;
            end = found->second.end;
            return true;
        };
        // A decode on its way to t brings it sooner than a decode started anew would.
        // (A time inside the anchor's own picture counts as the anchor.)
        auto wantedFor = [&](ReferenceTime anchor) {
            const ReferenceTime at = std::min(t, anchor);
            return t <= anchor + state_->frameLength &&
                   state_->wanted(at, at + state_->frameLength, anchor);
        };
        auto onItsWay = [&] {
            if (state_->decoding && t > state_->decodedUpTo && wantedFor(state_->decodeAnchor))
                return true;
            return state_->requested && wantedFor(state_->anchorStart) &&
                   !state_->covered(state_->anchorStart);
        };
        const auto until = std::chrono::steady_clock::now() + wait;
        while (!lookUp()) {
            if (!onItsWay() || std::chrono::steady_clock::now() >= until) return {};
            state_->changed.wait_until(lock, until);
        }
    }
    GstCaps* caps = gst_sample_get_caps(sample.get());
    GstVideoInfo input;
    if (!caps || !gst_video_info_from_caps(&input, caps)) return {};
    GstVideoInfo output;
    gst_video_info_set_format(&output, GST_VIDEO_FORMAT_RGBx, GST_VIDEO_INFO_WIDTH(&input),
                              GST_VIDEO_INFO_HEIGHT(&input));
    // The converter changes the format alone.
    GST_VIDEO_INFO_FPS_N(&output) = GST_VIDEO_INFO_FPS_N(&input);
    GST_VIDEO_INFO_FPS_D(&output) = GST_VIDEO_INFO_FPS_D(&input);
    GST_VIDEO_INFO_PAR_N(&output) = GST_VIDEO_INFO_PAR_N(&input);
    GST_VIDEO_INFO_PAR_D(&output) = GST_VIDEO_INFO_PAR_D(&input);
    GST_VIDEO_INFO_INTERLACE_MODE(&output) = GST_VIDEO_INFO_INTERLACE_MODE(&input);
    // The converter is made once per picture format and kept for the next steps.
    if (!state_->converter || !gst_video_info_is_equal(&state_->converterInput, &input)) {
        state_->converter.reset(gst_video_converter_new(&input, &output, nullptr));
        state_->converterInput = input;
    }
    auto converted = std::make_shared<ConvertedPicture>();
    converted->buffer.reset(
        gst_buffer_new_allocate(nullptr, GST_VIDEO_INFO_SIZE(&output), nullptr));
    GstVideoFrame in;
    bool ok = state_->converter && converted->buffer &&
              gst_video_frame_map(&in, &input, gst_sample_get_buffer(sample.get()), GST_MAP_READ);
    if (ok) {
        ok =
            gst_video_frame_map(&converted->frame, &output, converted->buffer.get(), GST_MAP_WRITE);
        if (ok) gst_video_converter_frame(state_->converter.get(), &in, &converted->frame);
        gst_video_frame_unmap(&in);
    }
    const GstClockTime pts = GST_BUFFER_PTS(gst_sample_get_buffer(sample.get()));
    sample.reset();
    if (!ok) return {};
    VideoFrame frame;
    frame.width = GST_VIDEO_FRAME_WIDTH(&converted->frame);
    frame.height = GST_VIDEO_FRAME_HEIGHT(&converted->frame);
    frame.stride = GST_VIDEO_FRAME_PLANE_STRIDE(&converted->frame, 0);
    frame.pixels =
        static_cast<const std::uint8_t*>(GST_VIDEO_FRAME_PLANE_DATA(&converted->frame, 0));
    frame.timestamp = GST_CLOCK_TIME_IS_VALID(pts)
                          ? NanosecondsToReferenceTime(static_cast<std::int64_t>(pts))
                          : -1;
    frame.streamStart = start;
    frame.streamEnd = end;
    frame.keeper = std::move(converted);
    return frame;
}

std::size_t FrameCache::PictureCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->pictures.size();
}

std::size_t FrameCache::ByteCount() const {
    std::lock_guard lock(state_->mutex);
    return state_->bytes;
}

}  // namespace media
