// What showing a conversion's progress costs the UI thread, and how well the time left it shows
// matched the time the conversion really took, on a 20 s 1080p H.264 file converted at its own
// size through the default compressor. The dialog's refresh (position query, bar, title) is
// called every 20 ms, far more often than the dialog does, to see its spread.
//
// Usage: bench_progress_refresh   (QT_QPA_PLATFORM=offscreen unless a display is wanted)

#include <QAbstractButton>
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

#include "app/converter_dialog.h"
#include "bench/bench_support.h"
#include "engine/conversion_engine.h"
#include "media/source/media_probe.h"
#include "platform/dialog_template.h"
#include "platform/event_loop.h"
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
    dialog.OpenVideoFile(clip);
    if (!QTest::qWaitFor([&] { return !dialog.isOpeningVideo(); }, 60000) ||
        dialog.videoClips().count != 1)
        return 1;
    const ReferenceTime duration = dialog.videoClips()[0].duration;
    dialog.SetMarks({0, duration});
    OutputSettings settings = dialog.settings();
    settings.outputName = folder.filePath(QStringLiteral("out.avi"));
    settings.outputWidth = settings.sourceWidth;
    settings.outputHeight = settings.sourceHeight;
    settings.outputFrameRate = settings.sourceFrameRate;
    dialog.UseOutputChoices(settings);

    platform::Control<QAbstractButton>(&dialog, MainDialogIds::kConvert)->click();
    if (!QTest::qWaitFor([&] { return dialog.isConverting(); }, 60000)) return 1;
    QElapsedTimer clock;
    clock.start();
    std::vector<double> refreshMicroseconds;
    std::vector<double> queryMicroseconds;
    std::vector<std::pair<double, double>> estimates;  // (seconds in, seconds left shown)
    double firstEstimateAt = -1;
    while (dialog.isConverting()) {
        QElapsedTimer call;
        call.start();
        if (dialog.conversion()) (void)dialog.conversion()->Position();
        queryMicroseconds.push_back(static_cast<double>(call.nsecsElapsed()) / 1e3);
        // The refresh runs on its timer among the dialog's events: a pass over them.
        call.start();
        QCoreApplication::processEvents();
        refreshMicroseconds.push_back(static_cast<double>(call.nsecsElapsed()) / 1e3);
        if (const auto left = dialog.progress().RemainingSeconds()) {
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
    std::printf(
        "UI thread event passes, the refresh among them (%zu): median %.0f us, p99 %.0f us, max "
        "%.0f us\n",
        refreshMicroseconds.size(), percentile(refreshMicroseconds, 0.5),
        percentile(refreshMicroseconds, 0.99), percentile(refreshMicroseconds, 1.0));
    std::printf("  the position query alone: median %.0f us, p99 %.0f us, max %.0f us\n",
                percentile(queryMicroseconds, 0.5), percentile(queryMicroseconds, 0.99),
                percentile(queryMicroseconds, 1.0));
    std::printf("time left: first shown after %.2f s; error median %.2f s, max %.2f s\n",
                firstEstimateAt, percentile(errors, 0.5), percentile(errors, 1.0));
    platform::InstallMessageBoxes(nullptr);
    return 0;
}
