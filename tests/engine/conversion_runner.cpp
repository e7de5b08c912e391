#include "conversion_runner.h"

#include <QTest>

#include "engine/timeline_builder.h"
#include "platform/settings_store.h"
#include "platform/window_messages.h"

namespace testing_support {

bool GraphEventReceiver::event(QEvent* event) {
    if (event->type() != platform::WindowMessageEvent::eventType()) return QObject::event(event);
    long code = 0;
    QString text;
    while (conversionEngine && conversionEngine->GetEvent(&code, &text)) {
        outcome_.eventCodes << code;
        outcome_.eventTexts << text;
    }
    return true;
}

void OpenAsClip(const QString& path, ClipList& clipList, MusicList& musicList) {
    clipList.count = 0;
    musicList.count = 0;
    appendClip(clipList, path, ClipDefaults{});
    musicList[0].fileName = path;
    musicList.count = 1;
}

ConversionOutcome RunConversion(const ConversionJob& job, int timeoutMs) {
    ConversionOutcome outcome;
    ClipList clipList;
    MusicList musicList;
    OpenAsClip(job.source, clipList, musicList);
    OutputSettings settings;
    settings.outputName = job.output;
    settings.outputWidth = job.width;
    settings.outputHeight = job.height;
    settings.outputFrameRate = job.frameRate;
    settings.resizeMode = job.resizeMode;
    ReferenceTime totalDuration = 0;
    TimelineBuilder builder(clipList, musicList, job.startMark, job.endMark, settings,
                            totalDuration);
    activeTimeline.emplace();
    if (FAILED(builder.BuildTimeline(&*activeTimeline))) return outcome;

    OutputGraphSettings output;
    output.outputName = job.output;
    output.videoCompressionOn = job.videoCompressionOn;
    output.audioCompressionOn = job.audioCompressionOn;
    output.videoCompressor = job.videoCompressor;
    output.audioCompressor = job.audioCompressor;
    output.videoProperties = job.videoProperties;

    GraphEventReceiver receiver(outcome);
    StartConversionRender(*activeTimeline, output, &receiver, WM_GRAPHNOTIFY, [&](HRESULT status) {
        outcome.setUpFinished = true;
        outcome.setUpStatus = status;
        if (SUCCEEDED(status) && job.whenRunning) job.whenRunning();
    });
    if (!QTest::qWaitFor([&] { return outcome.setUpFinished; }, timeoutMs))
        qWarning("set-up did not finish");
    if (SUCCEEDED(outcome.setUpStatus)) {
        if (!QTest::qWaitFor([&] { return !outcome.eventCodes.isEmpty(); }, timeoutMs))
            qWarning("the conversion did not end");
        if (conversionEngine) {
            outcome.encoders = conversionEngine->EncoderFactories();
            outcome.duration = conversionEngine->Duration();
        }
    }
    EmptyConversionHolders();
    return outcome;
}

CompressorHandle Compressor(const char* factoryName, media::EncoderKind kind) {
    return CompressorHandle{factoryName, QString::fromLatin1(factoryName), kind};
}

}  // namespace testing_support
