#include "media/encoders/encoder_registry.h"

#include "media/core/gst_handles.h"
#include "media/encoders/avi_inputs.h"
#include "media/encoders/encoder_trial_cache.h"

#include <gst/gst.h>

#include <algorithm>
#include <atomic>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace media {
namespace {

constexpr GstClockTime kTrialTimeout = 2 * GST_SECOND;

struct Candidate {
    std::string factoryName;
    std::string longName;
    EncoderKind kind;
};

// Does one of the factory's pad templates of this direction intersect with caps?
bool templateMatches(GstElementFactory* factory, GstPadDirection direction, const GstCaps* caps) {
    for (const GList* item = gst_element_factory_get_static_pad_templates(factory); item;
         item = item->next) {
        auto* tmpl = static_cast<GstStaticPadTemplate*>(item->data);
        if (tmpl->direction != direction) continue;
        const CapsPtr own(gst_static_pad_template_get_caps(tmpl));
        if (gst_caps_can_intersect(own.get(), caps)) return true;
    }
    return false;
}

std::vector<Candidate> findCandidates() {
    std::vector<Candidate> result;
    // Raw formats are what "no compressor" writes; an encoder that only passes raw samples
    // through would be the uncompressed entry a second time.
    const CapsPtr aviVideo = AviEncodedCaps(true);
    const CapsPtr aviAudio = AviEncodedCaps(false);
    if (!aviVideo || !aviAudio) return result;
    const CapsPtr rawVideo(gst_caps_from_string("video/x-raw"));
    const CapsPtr rawAudio(gst_caps_from_string("audio/x-raw"));

    // The conversion's encoding bin only takes encoders of at least marginal rank; one ranked
    // lower (an experimental one) would be listed and then fail when chosen.
    GList* factories =
        gst_element_factory_list_get_elements(GST_ELEMENT_FACTORY_TYPE_ENCODER, GST_RANK_MARGINAL);
    for (GList* item = factories; item; item = item->next) {
        auto* factory = GST_ELEMENT_FACTORY(item->data);
        const char* klass = gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS);
        if (!klass) continue;
        const std::string k = klass;
        EncoderKind kind;
        const GstCaps* aviCaps;
        const GstCaps* rawCaps;
        if (k.find("Video") != std::string::npos || k.find("Image") != std::string::npos) {
            kind = EncoderKind::Video;
            aviCaps = aviVideo.get();
            rawCaps = rawVideo.get();
        } else if (k.find("Audio") != std::string::npos) {
            kind = EncoderKind::Audio;
            aviCaps = aviAudio.get();
            rawCaps = rawAudio.get();
        } else {
            continue;
        }
        if (!templateMatches(factory, GST_PAD_SINK, rawCaps)) continue;
        if (!templateMatches(factory, GST_PAD_SRC, aviCaps)) continue;
        const char* longName =
            gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_LONGNAME);
        result.push_back({GST_OBJECT_NAME(factory), longName ? longName : "", kind});
    }
    gst_plugin_feature_list_free(factories);
    return result;
}

// Runs on the encoder's streaming thread: the multiplexer took an encoded buffer.
GstPadProbeReturn tookEncodedBuffer(GstPad* pad, GstPadProbeInfo*, gpointer) {
    if (const GstPtr<GstElement> muxer{gst_pad_get_parent_element(pad)})
        gst_element_post_message(muxer.get(),
                                 gst_message_new_application(GST_OBJECT(muxer.get()),
                                                             gst_structure_new_empty("trial-fed")));
    return GST_PAD_PROBE_REMOVE;
}

// Encodes small frames (or blocks of samples) into an AVI thrown away at once. The encoder
// passes when the multiplexer takes what it makes, or the pipeline reaches its end, without an
// error. The trial ends at the first encoded buffer where it can: draining some encoders at
// the end of the stream prints their library's complaints on standard error (OpenH264's
// "cmInitParaError"), which the user would take for a fault of the program. Encoders that
// hold their first frames back (x264enc looks ahead) still get enough frames to give one.
bool trialPasses(const Candidate& candidate) {
    const std::string description =
        candidate.kind == EncoderKind::Video
            ? "videotestsrc num-buffers=60 ! video/x-raw,width=176,height=144,framerate=25/1 ! "
              "videoconvert ! " +
                  candidate.factoryName + " ! avimux name=muxer ! fakesink"
            : "audiotestsrc num-buffers=16 samplesperbuffer=1152 ! "
              "audio/x-raw,rate=44100,channels=2 ! audioconvert ! audioresample ! " +
                  candidate.factoryName + " ! avimux name=muxer ! fakesink";
    GError* error = nullptr;
    const GstPtr<GstElement> pipeline{gst_parse_launch(description.c_str(), &error)};
    if (error) {
        g_clear_error(&error);
        return false;
    }
    if (!pipeline) return false;
    if (const GstPtr<GstElement> muxer{gst_bin_get_by_name(GST_BIN(pipeline.get()), "muxer")}) {
        const IteratorPtr pads(gst_element_iterate_sink_pads(muxer.get()));
        GValue item = G_VALUE_INIT;
        while (gst_iterator_next(pads.get(), &item) == GST_ITERATOR_OK) {
            gst_pad_add_probe(GST_PAD(g_value_get_object(&item)), GST_PAD_PROBE_TYPE_BUFFER,
                              tookEncodedBuffer, nullptr, nullptr);
            g_value_reset(&item);
        }
        g_value_unset(&item);
    }
    bool passed = false;
    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) != GST_STATE_CHANGE_FAILURE) {
        const GstPtr<GstBus> bus{gst_element_get_bus(pipeline.get())};
        const MessagePtr message{gst_bus_timed_pop_filtered(
            bus.get(), kTrialTimeout,
            static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR |
                                        GST_MESSAGE_APPLICATION))};
        passed = message && GST_MESSAGE_TYPE(message.get()) != GST_MESSAGE_ERROR;
    }
    gst_element_set_state(pipeline.get(), GST_STATE_NULL);
    return passed;
}

struct Catalogue {
    std::vector<EncoderInfo> video;
    std::vector<EncoderInfo> audio;
};

Catalogue buildCatalogue(const std::string& cacheFolder, int* trialsRun) {
    std::vector<Candidate> candidates = findCandidates();
    std::vector<char> passed(candidates.size(), 0);
    // The outcomes with these plugins are known from an earlier run; only the others are tried.
    EncoderTrialCache cache(cacheFolder);
    std::vector<std::size_t> untried;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (const std::optional<bool> known = cache.Known(candidates[i].factoryName))
            passed[i] = *known ? 1 : 0;
        else
            untried.push_back(i);
    }
    if (trialsRun) *trialsRun = static_cast<int>(untried.size());
    // The trials spend most of their time waiting on pipeline threads, so several run at once.
    std::atomic<std::size_t> next{0};
    const unsigned workers = std::clamp(std::thread::hardware_concurrency() * 2, 2u, 8u);
    std::vector<std::thread> pool;
    for (unsigned w = 0; w < workers && w < untried.size(); ++w) {
        pool.emplace_back([&] {
            for (std::size_t i = next++; i < untried.size(); i = next++)
                passed[untried[i]] = trialPasses(candidates[untried[i]]) ? 1 : 0;
        });
    }
    for (auto& thread : pool) thread.join();
    if (!untried.empty()) {
        for (std::size_t i : untried) cache.Record(candidates[i].factoryName, passed[i] != 0);
        cache.Save();
    }

    Catalogue catalogue;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        if (!passed[i]) continue;
        EncoderInfo info{candidates[i].factoryName,
                         EncoderFriendlyName(candidates[i].factoryName, candidates[i].longName),
                         candidates[i].kind};
        (info.kind == EncoderKind::Video ? catalogue.video : catalogue.audio).push_back(info);
    }
    auto byFactory = [](const EncoderInfo& a, const EncoderInfo& b) {
        return a.factoryName < b.factoryName;
    };
    std::sort(catalogue.video.begin(), catalogue.video.end(), byFactory);
    std::sort(catalogue.audio.begin(), catalogue.audio.end(), byFactory);
    return catalogue;
}

const Catalogue& catalogue() {
    static std::once_flag once;
    static Catalogue value;
    std::call_once(once, [] { value = buildCatalogue({}, nullptr); });
    return value;
}

}  // namespace

const std::vector<EncoderInfo>& AviEncoders(EncoderKind kind) {
    return kind == EncoderKind::Video ? catalogue().video : catalogue().audio;
}

void PrepareAviEncoders() {
    // Kept until the process ends, whose exit then waits for the trials to finish.
    static std::once_flag once;
    static std::future<void> preparing;
    std::call_once(once, [] { preparing = std::async(std::launch::async, [] { catalogue(); }); });
}

std::vector<EncoderInfo> ListAviEncoders(EncoderKind kind, const std::string& cacheFolder,
                                         int* trialsRun) {
    Catalogue listed = buildCatalogue(cacheFolder, trialsRun);
    return kind == EncoderKind::Video ? listed.video : listed.audio;
}

std::string EncoderFriendlyName(const std::string& factoryName, const std::string& longName) {
    static const std::map<std::string, std::string> curated = {
        {"avenc_mpeg4", "MPEG-4 Part 2 Video (DivX compatible)"},
        {"avenc_msmpeg4", "Microsoft MPEG-4 Video V3"},
        {"avenc_msmpeg4v2", "Microsoft MPEG-4 Video V2"},
        {"avenc_mpeg1video", "MPEG-1 Video"},
        {"avenc_mpeg2video", "MPEG-2 Video"},
        {"avenc_mjpeg", "Motion JPEG (libav)"},
        {"jpegenc", "Motion JPEG"},
        {"x264enc", "H.264 / AVC Video (x264)"},
        {"avenc_h263", "H.263 Video"},
        {"avenc_huffyuv", "HuffYUV Lossless Video"},
        {"avenc_wmv1", "Windows Media Video 7"},
        {"avenc_wmv2", "Windows Media Video 8"},
        {"vp8enc", "VP8 Video"},
        {"lamemp3enc", "MP3 Audio (LAME)"},
        {"avenc_mp2", "MPEG-1 Audio Layer II"},
        {"avenc_ac3", "AC-3 Audio"},
        {"avenc_ac3_fixed", "AC-3 Audio (fixed point)"},
        {"avenc_aac", "AAC Audio"},
        {"avenc_wmav1", "Windows Media Audio 1"},
        {"avenc_wmav2", "Windows Media Audio 2"},
        {"alawenc", "A-law Audio"},
        {"mulawenc", "Mu-law Audio"},
    };
    if (auto found = curated.find(factoryName); found != curated.end()) return found->second;
    std::string name = longName.empty() ? factoryName : longName;
    if (name.rfind("libav ", 0) == 0) name.erase(0, 6);
    for (const char* suffix : {" encoder", " Encoder"}) {
        const std::string s = suffix;
        if (name.size() > s.size() && name.compare(name.size() - s.size(), s.size(), s) == 0)
            name.erase(name.size() - s.size());
    }
    return name;
}

}  // namespace media
