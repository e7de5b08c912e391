#pragma once

// Runs whole conversions the way Convert does, minus the dialog: the clip lists and marks as
// Open Video leaves them, the timeline builder, then the render engine, with the graph's
// events collected from the posted window messages.

#include <QEvent>
#include <QObject>
#include <QStringList>

#include <optional>

#include "clips/clip_list.h"
#include "engine/conversion_engine.h"
#include "media/reference_time.h"
#include "settings/output_settings.h"

namespace testing_support {

struct ConversionJob {
    QString source;
    ReferenceTime startMark = 0;
    ReferenceTime endMark = 0;
    int width = 160;
    int height = 120;
    double frameRate = 25.0;
    int resizeMode = kResizePreserveAspectRatio;
    QString output;
    int videoCompressionOn = 0;
    int audioCompressionOn = 0;
    std::optional<CompressorHandle> videoCompressor;
    std::optional<CompressorHandle> audioCompressor;
    media::EncoderProperties videoProperties;
    // Called once the graph runs; a test may stop it from here.
    std::function<void()> whenRunning;
};

struct ConversionOutcome {
    bool setUpFinished = false;
    HRESULT setUpStatus = E_FAIL;
    QList<long> eventCodes;
    QStringList eventTexts;
    QStringList encoders;
    ReferenceTime duration = 0;

    bool completed() const { return eventCodes.contains(1); }
};

// Receives the graph's posted events and drains them, as the dialog does.
class GraphEventReceiver : public QObject {
public:
    explicit GraphEventReceiver(ConversionOutcome& outcome) : outcome_(outcome) {}
    bool event(QEvent* event) override;

private:
    ConversionOutcome& outcome_;
};

// The lists and marks that Open Video makes of one file.
void OpenAsClip(const QString& path, ClipList& clipList, MusicList& musicList);

// Runs the job to its end (completion, error, or the bound), then releases the holders.
ConversionOutcome RunConversion(const ConversionJob& job, int timeoutMs = 60000);

CompressorHandle Compressor(const char* factoryName, media::EncoderKind kind);

}  // namespace testing_support
