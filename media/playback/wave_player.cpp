#include "media/playback/wave_player.h"

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>

#include <memory>

#include "media/core/gst_handles.h"
#include "media/core/media_framework.h"
#include "media/playback/sound_device.h"

namespace media {
namespace {

// A button sound lasts a fraction of a second; anything still going after this is cut, so a
// stuck output can never hold the worker.
constexpr auto kLongestSound = std::chrono::seconds(10);
constexpr GstClockTime kBusPoll = 20 * GST_MSECOND;

std::string ErrorMessageText(GstMessage* message) {
    GError* error = nullptr;
    gst_message_parse_error(message, &error, nullptr);
    std::string text = error ? error->message : "The sound could not be played.";
    g_clear_error(&error);
    return text;
}

}  // namespace

WavePlayer::WavePlayer(std::string sinkFactory) : sinkFactory_(std::move(sinkFactory)) {}

WavePlayer::~WavePlayer() {
    {
        std::lock_guard lock(mutex_);
        quitting_ = true;
    }
    wake_.notify_all();
    if (worker_.joinable()) worker_.join();
}

HRESULT WavePlayer::Play(std::vector<std::uint8_t> wave) {
    if (wave.empty()) return E_INVALIDARG;
    if (!MediaFrameworkRunning()) return E_UNEXPECTED;
    {
        std::lock_guard lock(mutex_);
        pending_ = std::move(wave);
        hasPending_ = true;
        outcome_ = SoundOutcome::Playing;
        failure_.clear();
        // The worker starts with the first sound: most players of a session never play.
        if (!worker_.joinable()) worker_ = std::thread(&WavePlayer::run, this);
    }
    wake_.notify_all();
    return S_OK;
}

SoundOutcome WavePlayer::Wait(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    done_.wait_for(lock, timeout, [this] { return outcome_ != SoundOutcome::Playing; });
    return outcome_;
}

SoundOutcome WavePlayer::lastOutcome() const {
    std::lock_guard lock(mutex_);
    return outcome_;
}

std::string WavePlayer::lastFailure() const {
    std::lock_guard lock(mutex_);
    return failure_;
}

bool WavePlayer::shouldCut() const {
    std::lock_guard lock(mutex_);
    return quitting_ || hasPending_;
}

// Runs on the player's own thread: every GStreamer call of a sound happens here, so the
// caller's thread never waits for the audio device to open or close.
void WavePlayer::run() {
    for (;;) {
        std::vector<std::uint8_t> wave;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return quitting_ || hasPending_; });
            if (quitting_) return;
            wave = std::move(pending_);
            pending_.clear();
            hasPending_ = false;
        }
        std::string failure;
        const SoundOutcome outcome = playOne(wave, failure);
        {
            std::lock_guard lock(mutex_);
            // A newer sound already queued keeps the state "playing".
            if (!hasPending_) {
                outcome_ = outcome;
                failure_ = failure;
            }
        }
        done_.notify_all();
    }
}

SoundOutcome WavePlayer::playOne(const std::vector<std::uint8_t>& wave, std::string& failure) {
    if (sinkFactory_.empty() && !DesktopHasSoundDevice()) return SoundOutcome::Silent;
    PipelinePtr pipeline(gst_pipeline_new("wave-player"));
    const GstPtr<GstElement> source = MakeElement("appsrc");
    const GstPtr<GstElement> parser = MakeElement("wavparse");
    const GstPtr<GstElement> convert = MakeElement("audioconvert");
    const GstPtr<GstElement> resample = MakeElement("audioresample");
    const GstPtr<GstElement> sink =
        MakeElement(sinkFactory_.empty() ? "autoaudiosink" : sinkFactory_.c_str());
    if (!source || !parser || !convert || !resample || !sink) {
        failure = "A GStreamer element needed for sounds is not installed.";
        return SoundOutcome::Failed;
    }
    gst_bin_add_many(GST_BIN(pipeline.get()), source.get(), parser.get(), convert.get(),
                     resample.get(), sink.get(), nullptr);
    if (!gst_element_link_many(source.get(), parser.get(), convert.get(), resample.get(),
                               sink.get(), nullptr)) {
        failure = "The sound output could not be linked.";
        return SoundOutcome::Failed;
    }
    g_object_set(source.get(), "format", GST_FORMAT_BYTES, nullptr);
    auto* appSource = GST_APP_SRC(source.get());
    gst_app_src_push_buffer(appSource, gst_buffer_new_memdup(wave.data(), wave.size()));
    gst_app_src_end_of_stream(appSource);

    if (gst_element_set_state(pipeline.get(), GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        failure = "The sound output could not start.";
        return SoundOutcome::Failed;
    }
    GstPtr<GstBus> bus(gst_element_get_bus(pipeline.get()));
    const auto deadline = std::chrono::steady_clock::now() + kLongestSound;
    while (std::chrono::steady_clock::now() < deadline) {
        MessagePtr message(gst_bus_timed_pop_filtered(
            bus.get(), kBusPoll, static_cast<GstMessageType>(GST_MESSAGE_EOS | GST_MESSAGE_ERROR)));
        if (message) {
            if (GST_MESSAGE_TYPE(message.get()) == GST_MESSAGE_EOS) return SoundOutcome::Finished;
            failure = ErrorMessageText(message.get());
            return SoundOutcome::Failed;
        }
        if (shouldCut()) return SoundOutcome::Cut;
    }
    return SoundOutcome::Cut;
}

}  // namespace media
