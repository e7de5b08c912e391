#include <ges/ges.h>

#include "media/render/subtitle_overlay.h"

#include <gst/app/gstappsrc.h>

#include <algorithm>
#include <vector>

#include "media/core/gst_handles.h"

namespace media {
namespace {

// The text's size is set for a picture 640 wide and follows the picture's width from there.
constexpr const char* kTextFont = "Sans Bold 26";
// The text stands this share of the picture's height above its bottom.
constexpr int kBottomMarginPercent = 5;

GstClockTime clockTime(ReferenceTime t) {
    return static_cast<GstClockTime>(ReferenceTimeToNanoseconds(std::max<ReferenceTime>(t, 0)));
}

// What the cue source sends ahead of the first cue.
struct LeadingEvents {
    std::vector<EventPtr> events;
    bool sent = false;
};

// Runs on the cue source's streaming thread: a DVD track's palette reaches the renderer before
// its first picture does.
GstPadProbeReturn sendLeadingEvents(GstPad* pad, GstPadProbeInfo*, gpointer data) {
    auto* leading = static_cast<LeadingEvents*>(data);
    if (leading->sent) return GST_PAD_PROBE_REMOVE;
    leading->sent = true;
    for (EventPtr& event : leading->events) gst_pad_push_event(pad, event.release());
    return GST_PAD_PROBE_REMOVE;
}

void freeLeadingEvents(gpointer data) {
    delete static_cast<LeadingEvents*>(data);
}

// A source that plays the span's cues on the output's time, then ends.
GstElement* makeCueSource(const SubtitleOverlayRequest& request) {
    GstElement* source = gst_element_factory_make("appsrc", nullptr);
    if (!source) return nullptr;
    const SubtitleCues& cues = *request.cues;
    g_object_set(source, "format", GST_FORMAT_TIME, "is-live", FALSE, "max-bytes",
                 static_cast<guint64>(0), "block", FALSE, nullptr);
    gst_app_src_set_caps(GST_APP_SRC(source), cues.caps.get());
    const ReferenceTime spanStop = request.spanStart + request.spanLength;
    for (const SubtitleCue& cue : cues.cues) {
        if (cue.start >= spanStop) break;
        // A text cue that began before the span shows from its start; a subtitle picture
        // carries its own timing and is taken only when it begins inside the span.
        if (cue.stop >= 0 ? cue.stop <= request.spanStart : cue.start < request.spanStart)
            continue;
        GstBuffer* buffer = gst_buffer_copy(cue.buffer.get());
        const ReferenceTime from = std::max(cue.start, request.spanStart);
        GST_BUFFER_PTS(buffer) = clockTime(from - request.spanStart);
        GST_BUFFER_DTS(buffer) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_DURATION(buffer) =
            cue.stop >= 0 ? clockTime(cue.stop - from) : GST_CLOCK_TIME_NONE;
        gst_app_src_push_buffer(GST_APP_SRC(source), buffer);
    }
    gst_app_src_end_of_stream(GST_APP_SRC(source));
    if (!cues.leadingEvents.empty()) {
        auto* leading = new LeadingEvents;
        for (const EventPtr& event : cues.leadingEvents)
            leading->events.emplace_back(gst_event_copy(event.get()));
        GstPtr<GstPad> out(gst_element_get_static_pad(source, "src"));
        gst_pad_add_probe(out.get(), GST_PAD_PROBE_TYPE_BUFFER, sendLeadingEvents, leading,
                          freeLeadingEvents);
    }
    return source;
}

GstElement* sizeFilter(int width, int height, bool squarePixels) {
    GstElement* filter = gst_element_factory_make("capsfilter", nullptr);
    if (!filter) return nullptr;
    CapsPtr caps(gst_caps_new_simple("video/x-raw", "width", G_TYPE_INT, width, "height",
                                     G_TYPE_INT, height, nullptr));
    if (squarePixels)
        gst_caps_set_simple(caps.get(), "pixel-aspect-ratio", GST_TYPE_FRACTION, 1, 1, nullptr);
    g_object_set(filter, "caps", caps.get(), nullptr);
    return filter;
}

}  // namespace

GstPad* AttachSubtitleOverlay(GstBin* bin, GstPad* pictures,
                              const SubtitleOverlayRequest& request) {
    if (!request.cues || !request.cues->caps) return nullptr;
    const bool bitmap = request.cues->bitmap;
    // Subtitle pictures are drawn for the source's picture size: the pictures go back to it
    // for the drawing when the output's differs.
    const bool resized = bitmap && request.sourceWidth > 0 && request.sourceHeight > 0 &&
                         (request.sourceWidth != request.width ||
                          request.sourceHeight != request.height);
    std::vector<GstElement*> chain;
    if (resized) {
        chain.push_back(gst_element_factory_make("videoscale", nullptr));
        chain.push_back(sizeFilter(request.sourceWidth, request.sourceHeight, false));
    }
    chain.push_back(gst_element_factory_make("videoconvert", nullptr));
    GstElement* overlay = gst_element_factory_make(bitmap ? "dvdspu" : "textoverlay", nullptr);
    chain.push_back(overlay);
    if (resized) {
        chain.push_back(gst_element_factory_make("videoscale", nullptr));
        chain.push_back(sizeFilter(request.width, request.height, true));
    }
    GstElement* cueSource = makeCueSource(request);
    const bool complete = cueSource && std::all_of(chain.begin(), chain.end(),
                                                   [](GstElement* e) { return e != nullptr; });
    if (!complete) {
        for (GstElement* e : chain)
            if (e) gst_object_unref(gst_object_ref_sink(e));
        if (cueSource) gst_object_unref(gst_object_ref_sink(cueSource));
        return nullptr;
    }
    if (!bitmap) {
        g_object_set(overlay, "font-desc", kTextFont, "halignment", 1 /* center */, "valignment",
                     1 /* bottom */, "ypad", std::max(4, request.height * kBottomMarginPercent / 100),
                     "draw-outline", TRUE, "draw-shadow", TRUE, "auto-resize", TRUE, nullptr);
    }
    for (GstElement* e : chain) gst_bin_add(bin, e);
    gst_bin_add(bin, cueSource);
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) gst_element_link(chain[i], chain[i + 1]);
    gst_element_link_pads(cueSource, "src", overlay, bitmap ? "subpicture" : "text_sink");
    // Downstream first, so that nothing flows into an element that is not running yet.
    for (auto e = chain.rbegin(); e != chain.rend(); ++e) gst_element_sync_state_with_parent(*e);
    gst_element_sync_state_with_parent(cueSource);
    GstPtr<GstPad> in(gst_element_get_static_pad(chain.front(), "sink"));
    if (gst_pad_link(pictures, in.get()) != GST_PAD_LINK_OK) return nullptr;
    return gst_element_get_static_pad(chain.back(), "src");
}

namespace {

struct PendingOverlay {
    GstElement* pipeline = nullptr;  // not a reference: the pipeline owns the pad watched
    SubtitleOverlayRequest request;
    bool inserted = false;
};

void freePendingOverlay(gpointer data, GClosure*) {
    delete static_cast<PendingOverlay*>(data);
}

// Runs on the thread that starts the pipeline, while the editing services link their output
// to the rest of it, before anything flows: the overlay goes in between.
void insertWhenLinked(GstPad* output, GstPad* fed, gpointer data) {
    auto* pending = static_cast<PendingOverlay*>(data);
    if (pending->inserted) return;
    pending->inserted = true;
    GstPtr<GstPad> next(GST_PAD(gst_object_ref(fed)));
    gst_pad_unlink(output, fed);
    GstPtr<GstPad> drawn(AttachSubtitleOverlay(GST_BIN(pending->pipeline), output, pending->request));
    if (!drawn || gst_pad_link(drawn.get(), next.get()) != GST_PAD_LINK_OK)
        GST_ELEMENT_ERROR(pending->pipeline, CORE, NEGOTIATION,
                          ("The subtitles could not be drawn on the pictures."), (nullptr));
}

}  // namespace

bool InsertSubtitleOverlay(GstElement* pipeline, GESTimeline* timeline,
                           const SubtitleOverlayRequest& request) {
    GESTrack* pictureTrack = nullptr;
    GList* tracks = ges_timeline_get_tracks(timeline);
    for (GList* item = tracks; item; item = item->next)
        if (!pictureTrack && GES_IS_VIDEO_TRACK(item->data)) pictureTrack = GES_TRACK(item->data);
    // The pad is the timeline's; it lives as long as the pipeline holds the timeline.
    GstPad* output = pictureTrack ? ges_timeline_get_pad_for_track(timeline, pictureTrack) : nullptr;
    g_list_free_full(tracks, gst_object_unref);
    if (!output) return false;
    // The editing services link their output to the encoder only as the pipeline starts.
    auto* pending = new PendingOverlay{pipeline, request};
    g_signal_connect_data(output, "linked", G_CALLBACK(insertWhenLinked), pending,
                          freePendingOverlay, GConnectFlags(0));
    return true;
}

}  // namespace media
