#include "conversion_runner.h"

#include <QTest>

#include "engine/timeline_builder.h"
#include "platform/window_messages.h"
#include "support/media_fixtures.h"

namespace testing_support {

void OpenAsClip(const QString& path, ClipList& clipList, MusicList& musicList) {
    clipList.count = 0;
    appendClip(clipList, path, ClipDefaults{});
    musicList[0].fileName = path;
    musicList.count = 1;
}

ConversionOutcome RunConversion(const ConversionJob& job, int timeoutMs) {
    ConversionOutcome outcome;
    ClipList clipList;
    MusicList musicList;
    OpenAsClip(job.source, clipList, musicList);
    OutputSettings settings = job.settings;
    settings.outputName = job.output;
    ReferenceTime totalDuration = 0;
    TimelineBuilder builder(clipList, musicList, job.startMark, job.endMark, settings,
                            totalDuration);
    media::TimelineModel timeline;
    if (FAILED(builder.BuildTimeline(&timeline))) return outcome;
    OutputGraphSettings output = job.graph;
    output.outputName = job.output;

    std::optional<media::RenderSetupResult> setUp;
    media::RenderPlan plan = ConversionPlan(std::move(timeline), output);
    outcome.editingServices = media::NeedsEditingServices(plan);
    const std::unique_ptr<ConversionEngine> engine =
        StartConversionRender(std::move(plan), nullptr, WM_GRAPHNOTIFY,
                              [&](const media::RenderSetupResult& result) { setUp = result; });
    if (QTest::qWaitFor([&] { return setUp.has_value(); }, timeoutMs)) {
        outcome.setUpStatus = setUp->status;
        outcome.setUpStep = setUp->failedStep;
        outcome.setUpText = QString::fromStdString(setUp->errorText);
    }
    // The graph's events, drained as the dialog drains them, without a window to post to.
    auto ended = [&] {
        long code = 0;
        QString text;
        while (engine->GetEvent(&code, &text)) {
            outcome.eventCodes << code;
            outcome.eventTexts << text;
        }
        return !outcome.eventCodes.isEmpty();
    };
    if (SUCCEEDED(outcome.setUpStatus) && QTest::qWaitFor(ended, timeoutMs)) {
        outcome.encoders = engine->EncoderFactories();
        outcome.encoders.sort();  // the graph's order depends on which branch links first
        outcome.duration = engine->Duration();
    }
    return outcome;
}

CompressorHandle Compressor(const char* factoryName, media::EncoderKind kind) {
    return CompressorHandle{factoryName, QString::fromLatin1(factoryName), kind};
}

QString StreamSummary(const QString& path) {
    const QJsonObject probe = Probe(path);
    const QJsonObject video = StreamOf(probe, QStringLiteral("video"));
    const QJsonObject audio = StreamOf(probe, QStringLiteral("audio"));
    auto field = [](const QJsonObject& stream, const char* key) {
        return stream.value(QLatin1String(key)).toVariant().toString();
    };
    QString summary = QStringLiteral("-");
    if (!video.isEmpty())
        summary = QStringLiteral("%1 %2 %3 %4x%5 %6 %7 frames")
                      .arg(field(video, "codec_name"), field(video, "codec_tag_string"),
                           field(video, "pix_fmt"), field(video, "width"), field(video, "height"),
                           field(video, "r_frame_rate"), field(video, "nb_read_frames"));
    summary += QStringLiteral(" | ");
    summary += audio.isEmpty() ? QStringLiteral("-")
                               : QStringLiteral("%1 %2 Hz %3 ch")
                                     .arg(field(audio, "codec_name"), field(audio, "sample_rate"),
                                          field(audio, "channels"));
    return summary;
}

}  // namespace testing_support
