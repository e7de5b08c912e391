// What showing a conversion's progress costs the UI thread, and how well the time left it shows
// matched the time the conversion really took, on a 20 s 1080p H.264 file converted at its own
// size through the default compressor. The dialog's refresh (position query, bar, title) is
// called every 20 ms, far more often than the dialog does, to see its spread.
//
// Usage: bench_progress_refresh   (QT_QPA_PLATFORM=offscreen unless a display is wanted)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "bench/bench_support.h"
#include "platform/event_loop.h"
#include "app/converter_dialog.h"
#include "engine/conversion_engine.h"
#include "media/media_probe.h"
#include "platform/message_boxes.h"
#include "platform/settings_store.h"

namespace {

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    const QString clip = bench::MakeFullHdClip();
    if (clip.isEmpty()) {
        std::fprintf(stderr, "could not make the 1080p clip with ffmpeg\n");
        return 1;
    }
    QTemporaryDir folder;
    platform::SettingsStore::UseFolderForTesting(folder.path());
    platform::StderrMessageBoxes boxes;
    platform::InstallMessageBoxes(&boxes);

    ConverterDialog dialog;
    dialog.show();
    const media::ProbeResult probe = media::ProbeMediaFile(clip.toStdString());
    ClipDefaults defaults = dialog.clipDefaults;
    defaults.clipDuration = static_cast<std::int32_t>(probe.duration / kReferenceTimePerSecond);
    appendClip(dialog.clipList, clip, defaults);
    dialog.musicList[0] = {clip, probe.duration};
    dialog.musicList.count = 1;
    dialog.endMark = probe.duration;
    OutputSettings& settings = dialog.outputSettings;
    settings.outputName = folder.filePath(QStringLiteral("out.avi"));
    settings.sourceWidth = settings.outputWidth = probe.width;
    settings.sourceHeight = settings.outputHeight = probe.height;
    settings.sourceFrameRate = settings.outputFrameRate = probe.frameRate();

    dialog.OnConvert();
    if (!QTest::qWaitFor([&] { return dialog.converting == 1; }, 60000)) return 1;
    QElapsedTimer clock;
    clock.start();
    std::vector<double> refreshMicroseconds;
    std::vector<double> queryMicroseconds;
    std::vector<std::pair<double, double>> estimates;  // (seconds in, seconds left shown)
    double firstEstimateAt = -1;
    while (dialog.converting == 1) {
        QElapsedTimer call;
        call.start();
        if (dialog.conversion()) (void)dialog.conversion()->Position();
        queryMicroseconds.push_back(static_cast<double>(call.nsecsElapsed()) / 1e3);
        call.start();
        dialog.RefreshProgress();
        refreshMicroseconds.push_back(static_cast<double>(call.nsecsElapsed()) / 1e3);
        if (const auto left = dialog.conversionProgress.RemainingSeconds()) {
            const double at = static_cast<double>(clock.elapsed()) / 1e3;
            if (firstEstimateAt < 0) firstEstimateAt = at;
            estimates.push_back({at, *left});
        }
        QTest::qWait(20);
    }
    const double total = static_cast<double>(clock.elapsed()) / 1e3;

    std::vector<double> errors;
    for (const auto& [at, left] : estimates) errors.push_back(std::fabs(left - (total - at)));
    std::printf("conversion of 20 s 1080p H.264 at its own size: %.2f s\n", total);
    std::printf("refresh on the UI thread (%zu calls): median %.0f us, p99 %.0f us, max %.0f us\n",
                refreshMicroseconds.size(), percentile(refreshMicroseconds, 0.5),
                percentile(refreshMicroseconds, 0.99), percentile(refreshMicroseconds, 1.0));
    std::printf("  of which the position query alone: median %.0f us, p99 %.0f us, max %.0f us\n",
                percentile(queryMicroseconds, 0.5), percentile(queryMicroseconds, 0.99),
                percentile(queryMicroseconds, 1.0));
    std::printf("time left: first shown after %.2f s; error median %.2f s, max %.2f s\n",
                firstEstimateAt, percentile(errors, 0.5), percentile(errors, 1.0));
    platform::InstallMessageBoxes(nullptr);
    return 0;
}
