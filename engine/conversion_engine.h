#pragma once

// The render engine of a conversion together with its graph's control and events: what the
// main dialog and the command-line converter drive between Convert and the end. It renders a
// timeline into an AVI file through the held compressors (or raw when compression is off),
// reports the graph's events as posted window messages, and stops early with a finished file.
//
// Everything here is called on the UI thread. Set-up, discovery and a stop's drain run on the
// render session's worker, so no call blocks, except StopAndWait: a program about to end
// sleeps there until the file is finished, at most for the bound it gives.

#include <QObject>
#include <QString>
#include <QStringList>

#include <deque>

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "media/core/reference_time.h"
#include "media/core/status.h"
#include "media/encoders/encoder_properties.h"
#include "media/render/size_target.h"
#include "media/render/timeline_model.h"
#include "media/session/render_session.h"
#include "settings/compressor_handle.h"
#include "settings/output_settings.h"

namespace platform {
class SettingsStore;
}

// What the output graph is made of besides the timeline.
struct OutputGraphSettings {
    QString outputName;
    std::int32_t videoCompressionOn = 0;
    std::int32_t audioCompressionOn = 0;
    std::optional<CompressorHandle> videoCompressor;
    std::optional<CompressorHandle> audioCompressor;
    media::EncoderProperties videoProperties;  // the codec's confirmed settings
    media::EncoderProperties audioProperties;
};

// The output name, flags and compressors of the settings, and each compressor's settings as
// the codec configuration stored them.
OutputGraphSettings CurrentOutputGraphSettings(const OutputSettings& settings,
                                               const platform::SettingsStore& codecStore);

// How long a stop may take to finish the file before it is given up.
inline constexpr std::chrono::milliseconds kStopDrainBound{5000};

class QTemporaryDir;

class ConversionEngine : public QObject {
    Q_OBJECT

public:
    explicit ConversionEngine(QObject* parent = nullptr);
    ~ConversionEngine() override;

    // Aims the conversion at a file size; call before Start. With an encoder that keeps
    // statistics between passes the render runs twice: the first pass writes a hidden file
    // beside the output, which is measured, and the second writes the output at the bit rate
    // that is left. A stop before the second pass runs keeps the first pass's file, finished,
    // as the output. The events and the position are those of the whole: Position runs through
    // both passes in one length.
    void AimAtSize(media::SizeTarget target);
    int PassCount() const { return twoPasses_ ? 2 : 1; }
    int Pass() const { return pass_; }
    // The second pass's video bit rate once the first has been measured; 0 before.
    std::int64_t SecondPassBitsPerSecond() const { return secondPassBits_; }

    // Builds the graph for the timeline and runs it, off the UI thread; done is called on the
    // UI thread with the outcome.
    void Start(media::RenderPlan plan, std::function<void(const media::RenderSetupResult&)> done);
    bool SettingUp() const { return settingUp_; }

    // The graph's events arrive as the message posted to the window; nullptr stops them.
    void SetNotifyWindow(QObject* window, int message);
    // Takes the next waiting event without waiting; false when none is left.
    bool GetEvent(long* code, QString* text);

    // Stops the graph. A graph still rendering first drains, so that the file comes out
    // finished: then this returns false, and the completion event follows (or an error event
    // when the drain takes longer than kStopDrainBound). True when the graph is stopped.
    bool Stop();
    // For a program about to end: stops a running graph as Stop does and waits, at most bound,
    // until the file written so far is finished. True when it is (or nothing was running).
    bool StopAndWait(std::chrono::milliseconds bound);

    // How far the render has come and how long the output will be, in timeline time. Once the
    // file is finished, Position is where it ends.
    std::optional<ReferenceTime> Position() const;
    ReferenceTime Duration() const { return duration_; }
    // The finished file's picture size and rate as the multiplexer took them: what the file
    // really holds, to report instead of what was asked for. nullopt until the completion event.
    std::optional<media::WrittenVideo> WrittenVideo() const;
    // The file this graph writes: the output name when it started, whatever the options say
    // now.
    const QString& OutputName() const { return outputName_; }
    // The encoders the graph created (factory names), for reports and checks.
    QStringList EncoderFactories() const;

private:
    // The first pass's events come here rather than to the window; the second pass is started
    // from its completion.
    void onFirstPassEvents();
    void startSecondPass();
    // A stop before the second pass runs: the first pass's finished file becomes the output.
    void keepFirstPass(const std::string& note);
    // An event of the engine's own (the end of a first pass that was kept, a failure between
    // the passes) for the window.
    void forward(long code, const std::string& text);
    void notifyWindow();

    std::unique_ptr<media::RenderSession> session_;
    bool settingUp_ = false;
    bool running_ = false;
    ReferenceTime duration_ = 0;
    QString outputName_;

    QObject* window_ = nullptr;
    int message_ = 0;
    std::deque<media::RenderEvent> forwarded_;

    std::optional<media::SizeTarget> sizeTarget_;
    bool twoPasses_ = false;
    int pass_ = 1;
    bool interceptingFirstPass_ = false;
    bool stopRequested_ = false;
    media::RenderPlan secondPassPlan_;
    std::string firstPassFile_;  // the first pass's finished file until the second pass runs
    std::unique_ptr<QTemporaryDir> statistics_;
    std::string statisticsFile_;
    media::EncoderProperties chosenVideoProperties_;  // the codec's settings, before any pass
    std::int64_t secondPassBits_ = 0;
    // The first pass's session, released, until the second pass's has taken over.
    std::unique_ptr<media::RenderSession> finishedPass_;
};

// Every group renders every frame, none is dropped to keep up with a clock.
void DisablePreviewMode(media::TimelineModel& timeline);

// What the conversion of the timeline writes and through what; turns preview mode off.
media::RenderPlan ConversionPlan(media::TimelineModel timeline, const OutputGraphSettings& output);

// Renders the plan: makes a render engine and starts its set-up. done follows on the UI
// thread, never before this returns, with the outcome: a status of 0 once the graph runs,
// with its events going as `message` to notifyWindow; otherwise the step that failed and why,
// for the caller to tell the user (nothing is shown here). The caller owns the engine;
// releasing it tears down a running graph without draining it, and a done not yet delivered
// is then dropped.
// A size target, when given, is aimed at as AimAtSize says.
std::unique_ptr<ConversionEngine> StartConversionRender(
    media::RenderPlan plan, QObject* notifyWindow, int message,
    std::function<void(const media::RenderSetupResult&)> done,
    std::optional<media::SizeTarget> sizeTarget = std::nullopt);
