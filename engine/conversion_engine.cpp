#include "engine/conversion_engine.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTemporaryDir>

#include <filesystem>
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

ConversionEngine::~ConversionEngine() {
    // Stops the sessions' notifications before the window can be told of anything more.
    session_.reset();
    finishedPass_.reset();
    if (!firstPassFile_.empty()) {
        std::error_code ignored;
        std::filesystem::remove(firstPassFile_, ignored);
    }
}

void ConversionEngine::AimAtSize(media::SizeTarget target) {
    sizeTarget_ = std::move(target);
}

namespace {

// The first pass's file: hidden beside the output, so that it can take the output's place.
std::string firstPassPath(const std::string& output) {
    const QFileInfo file(QString::fromStdString(output));
    return file.dir()
        .filePath(QStringLiteral(".%1.first-pass.avi").arg(file.fileName()))
        .toStdString();
}

}  // namespace

void ConversionEngine::Start(media::RenderPlan plan,
                             std::function<void(const media::RenderSetupResult&)> done) {
    settingUp_ = true;
    outputName_ = QString::fromStdString(plan.outputPath);
    if (sizeTarget_ && plan.video.encoder) {
        media::EncoderChoice& encoder = *plan.video.encoder;
        chosenVideoProperties_ = encoder.properties;
        const media::EncoderProperties& chosen = chosenVideoProperties_;
        twoPasses_ = sizeTarget_->twoPasses;
        if (plan.audio.encoder)
            plan.audio.encoder->properties = media::SoundPropertiesForSize(plan.audio);
        if (twoPasses_) {
            statistics_ = std::make_unique<QTemporaryDir>();
            statisticsFile_ =
                statistics_->filePath(QStringLiteral("video-passes.stats")).toStdString();
            secondPassPlan_ = plan;
            encoder.properties = media::PassProperties(
                *sizeTarget_, chosen, 1, sizeTarget_->videoBitsPerSecond, statisticsFile_);
            plan.outputPath = firstPassPath(plan.outputPath);
            interceptingFirstPass_ = true;
        } else {
            encoder.properties =
                media::PassProperties(*sizeTarget_, chosen, 0, sizeTarget_->videoBitsPerSecond, {});
        }
    }
    if (interceptingFirstPass_) firstPassFile_ = plan.outputPath;
    session_->Start(std::move(plan),
                    [this, done = std::move(done)](const media::RenderSetupResult& result) {
                        settingUp_ = false;
                        running_ = SUCCEEDED(result.status);
                        duration_ = result.duration;
                        if (!running_) firstPassFile_.clear();
                        // The first pass's events are the engine's, whoever listens. Runs on
                        // a streaming thread: it only posts, and the session clears it before
                        // the engine goes; a call still queued then goes with the engine.
                        if (running_ && interceptingFirstPass_)
                            session_->SetNotifier([this] {
                                QMetaObject::invokeMethod(
                                    this, [this] { onFirstPassEvents(); }, Qt::QueuedConnection);
                            });
                        if (done) done(result);
                    });
}

void ConversionEngine::SetNotifyWindow(QObject* window, int message) {
    window_ = window;
    message_ = message;
    if (interceptingFirstPass_) return;
    if (!window) {
        session_->SetNotifier(nullptr);
        return;
    }
    // Runs on a streaming thread: it only posts.
    session_->SetNotifier([window, message] { platform::PostWindowMessage(window, message); });
}

void ConversionEngine::notifyWindow() {
    if (window_) platform::PostWindowMessage(window_, message_);
}

void ConversionEngine::forward(long code, const std::string& text) {
    forwarded_.push_back({code, text});
    notifyWindow();
}

bool ConversionEngine::GetEvent(long* code, QString* text) {
    media::RenderEvent event;
    if (!forwarded_.empty()) {
        event = std::move(forwarded_.front());
        forwarded_.pop_front();
    } else if (interceptingFirstPass_ || !session_->GetEvent(&event)) {
        return false;
    }
    if (code) *code = event.code;
    if (text) *text = QString::fromStdString(event.text);
    return true;
}

void ConversionEngine::onFirstPassEvents() {
    if (!interceptingFirstPass_) return;
    media::RenderEvent event;
    while (session_->GetEvent(&event)) {
        if (event.code == media::EC_COMPLETE) {
            if (stopRequested_)
                keepFirstPass(event.text);
            else
                startSecondPass();
            return;
        }
        if (event.code == media::EC_ERRORABORT) {
            interceptingFirstPass_ = false;
            forward(event.code, event.text);
            return;
        }
    }
}

void ConversionEngine::keepFirstPass(const std::string& note) {
    interceptingFirstPass_ = false;
    std::string problem;
    const bool placed =
        media::PlaceFinishedFile(firstPassFile_, outputName_.toStdString(), &problem);
    firstPassFile_.clear();
    forward(placed ? media::EC_COMPLETE : media::EC_ERRORABORT, placed ? note : problem);
}

void ConversionEngine::startSecondPass() {
    interceptingFirstPass_ = false;
    pass_ = 2;
    const media::AviPayload first = media::ReadAviPayload(firstPassFile_);
    secondPassBits_ = media::SecondPassBitsPerSecond(*sizeTarget_, first, duration_);
    secondPassPlan_.video.encoder->properties = media::PassProperties(
        *sizeTarget_, chosenVideoProperties_, 2, secondPassBits_, statisticsFile_);
    session_->Release();
    finishedPass_ = std::move(session_);
    session_ = std::make_unique<media::RenderSession>();
    settingUp_ = true;
    session_->Start(std::move(secondPassPlan_), [this](const media::RenderSetupResult& result) {
        settingUp_ = false;
        running_ = SUCCEEDED(result.status);
        if (FAILED(result.status)) {
            std::error_code ignored;
            std::filesystem::remove(firstPassFile_, ignored);
            firstPassFile_.clear();
            forward(media::EC_ERRORABORT,
                    "The second pass could not start: " +
                        media::ErrorText(result.status, result.errorText));
            return;
        }
        if (stopRequested_) {
            // Stopped while the second pass was being set up: the first pass is the output,
            // and its session says what the file holds.
            session_->Release();
            session_ = std::move(finishedPass_);
            pass_ = 1;
            keepFirstPass(std::string());
            return;
        }
        // The second pass writes the output; the first's file has served.
        std::error_code ignored;
        std::filesystem::remove(firstPassFile_, ignored);
        firstPassFile_.clear();
        finishedPass_.reset();
        SetNotifyWindow(window_, message_);
    });
}

bool ConversionEngine::Stop() {
    if (twoPasses_ && (interceptingFirstPass_ || (pass_ == 2 && settingUp_))) {
        stopRequested_ = true;
        if (interceptingFirstPass_ && !session_->Ended()) session_->Drain(kStopDrainBound);
        return false;
    }
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
    stopRequested_ = true;
    session_->SetNotifier(nullptr);
    if (!session_->Ended()) session_->Drain(bound);
    // The drain runs on the session's worker and the streaming threads, not on this one's
    // event loop, so a plain wait sees it end.
    const auto until = std::chrono::steady_clock::now() + bound;
    while (!session_->Ended() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    running_ = false;
    session_->Release();
    if (interceptingFirstPass_) {
        // Nobody is left to hear the first pass's end: its file is put in place now.
        media::RenderEvent event;
        while (session_->GetEvent(&event))
            if (event.code == media::EC_COMPLETE) keepFirstPass(event.text);
    }
    return session_->Ended();
}

std::optional<ReferenceTime> ConversionEngine::Position() const {
    const std::optional<ReferenceTime> position = session_->Position();
    if (!twoPasses_ || !position || session_->Ended()) return position;
    // Both passes in one length: the first fills its first half, the second the rest.
    return pass_ == 1 ? *position / 2 : duration_ / 2 + *position / 2;
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
    std::function<void(const media::RenderSetupResult&)> done,
    std::optional<media::SizeTarget> sizeTarget) {
    auto engine = std::make_unique<ConversionEngine>();
    if (sizeTarget) engine->AimAtSize(std::move(*sizeTarget));

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
