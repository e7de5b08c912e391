#include "engine/conversion_engine.h"

#include <QPointer>

#include <thread>

#include "platform/window_messages.h"
#include "settings/codec_settings.h"

OutputGraphSettings CurrentOutputGraphSettings(const OutputSettings& settings,
                                               const platform::SettingsStore& codecStore) {
    OutputGraphSettings output;
    output.outputName = settings.outputName;
    output.videoCompressionOn = settings.videoCompressionOn;
    output.audioCompressionOn = settings.audioCompressionOn;
    output.videoCompressor = settings.videoCompressor;
    output.audioCompressor = settings.audioCompressor;
    if (settings.videoCompressor && !settings.videoCompressor->streamCopy)
        output.videoProperties =
            LoadCodecSettings(codecStore, settings.videoCompressor->factoryName);
    if (settings.audioCompressor && !settings.audioCompressor->streamCopy)
        output.audioProperties =
            LoadCodecSettings(codecStore, settings.audioCompressor->factoryName);
    return output;
}

ConversionEngine::ConversionEngine(QObject* parent)
    : QObject(parent), session_(std::make_unique<media::RenderSession>()) {}

ConversionEngine::~ConversionEngine() = default;

void ConversionEngine::Start(media::RenderPlan plan,
                             std::function<void(const media::RenderSetupResult&)> done) {
    settingUp_ = true;
    outputName_ = QString::fromStdString(plan.outputPath);
    session_->Start(std::move(plan),
                    [this, done = std::move(done)](const media::RenderSetupResult& result) {
                        settingUp_ = false;
                        running_ = SUCCEEDED(result.status);
                        duration_ = result.duration;
                        if (done) done(result);
                    });
}

void ConversionEngine::SetNotifyWindow(QObject* window, int message) {
    if (!window) {
        session_->SetNotifier(nullptr);
        return;
    }
    // Runs on a streaming thread: it only posts.
    session_->SetNotifier([window, message] { platform::PostWindowMessage(window, message); });
}

bool ConversionEngine::GetEvent(long* code, QString* text) {
    media::RenderEvent event;
    if (!session_->GetEvent(&event)) return false;
    if (code) *code = event.code;
    if (text) *text = QString::fromStdString(event.text);
    return true;
}

bool ConversionEngine::Stop() {
    if (running_ && !session_->Ended()) {
        session_->Drain(kStopDrainBound);
        return false;
    }
    running_ = false;
    session_->Release();
    return true;
}

bool ConversionEngine::StopAndWait(std::chrono::milliseconds bound) {
    if (!running_) return true;
    session_->SetNotifier(nullptr);
    if (!session_->Ended()) session_->Drain(bound);
    // The drain runs on the session's worker and the streaming threads, not on this one's
    // event loop, so a plain wait sees it end.
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!session_->Ended() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    running_ = false;
    session_->Release();
    return session_->Ended();
}

std::optional<ReferenceTime> ConversionEngine::Position() const {
    return session_->Position();
}

std::optional<media::WrittenVideo> ConversionEngine::WrittenVideo() const {
    return session_->WrittenVideo();
}

QStringList ConversionEngine::EncoderFactories() const {
    QStringList names;
    for (const std::string& name : session_->EncoderFactories())
        names << QString::fromStdString(name);
    return names;
}

void DisablePreviewMode(media::TimelineModel& timeline) {
    for (media::TimelineGroup& group : timeline.groups) group.previewMode = false;
}

namespace {

media::StreamRoute routeOf(std::int32_t compressionOn,
                           const std::optional<CompressorHandle>& compressor,
                           const media::EncoderProperties& properties) {
    media::StreamRoute route;
    route.compressionOn = compressionOn == 1;
    if (route.compressionOn && compressor && compressor->streamCopy)
        route.streamCopy = true;
    else if (route.compressionOn && compressor)
        route.encoder = media::EncoderChoice{compressor->factoryName, properties};
    return route;
}

}  // namespace

media::RenderPlan ConversionPlan(media::TimelineModel timeline, const OutputGraphSettings& output) {
    DisablePreviewMode(timeline);
    media::RenderPlan plan;
    plan.timeline = std::move(timeline);
    plan.outputPath = output.outputName.toStdString();
    plan.video = routeOf(output.videoCompressionOn, output.videoCompressor, output.videoProperties);
    plan.audio = routeOf(output.audioCompressionOn, output.audioCompressor, output.audioProperties);
    return plan;
}

std::unique_ptr<ConversionEngine> StartConversionRender(
    media::RenderPlan plan, QObject* notifyWindow, int message,
    std::function<void(const media::RenderSetupResult&)> done) {
    auto engine = std::make_unique<ConversionEngine>();

    QPointer<QObject> window(notifyWindow);
    ConversionEngine* started = engine.get();
    // The answer is a queued call of the engine's own session: it never comes once the engine
    // is gone.
    started->Start(std::move(plan), [started, window, message, done = std::move(done)](
                                        const media::RenderSetupResult& result) {
        if (SUCCEEDED(result.status) && window) started->SetNotifyWindow(window.data(), message);
        if (done) done(result);
    });
    return engine;
}
