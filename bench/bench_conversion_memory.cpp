// Whether conversions leak: the main dialog opens one clip, then converts it again and again in
// one process, and the resident memory is read after each conversion. The first conversion
// loads the plugins and fills GStreamer's and GLib's caches, so growth is counted from there.
//
// Usage: bench_conversion_memory [conversions] [seconds of clip]   (defaults 10 and 10)
// Prints, after each conversion, the resident memory and the heap actually in use (what malloc
// has handed out and not had back), then the growth of both. Resident memory also holds the
// C library's per-thread pools: a conversion's streaming threads leave free pages behind that
// small live blocks pin. The heap in use is the measure of leaks.

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <malloc.h>

#include <cstdio>
#include <cstdlib>

#include "app/converter_dialog.h"
#include "bench/bench_support.h"
#include "platform/dialog_template.h"
#include "platform/event_loop.h"
#include "platform/file_chooser.h"
#include "platform/message_boxes.h"
#include "platform/settings_store.h"

namespace {

// Yes to every question (replace the output of the last run), silence otherwise; a box that is
// not a question is counted, since none should appear.
class AnswerYes : public platform::MessageBoxes {
public:
    platform::BoxAnswer show(const platform::BoxRequest& request) override {
        if (request.buttons == platform::BoxButtons::YesNo) return platform::BoxAnswer::Yes;
        ++unexpected;
        std::fprintf(stderr, "message: %s\n", request.text.toLocal8Bit().constData());
        return platform::BoxAnswer::Ok;
    }
    int unexpected = 0;
};

// What malloc has handed out and not had back, over every arena (mallinfo2 sees only the
// main one): the memory malloc_info reports as taken from the system, less what it holds free,
// plus the blocks that it mapped on their own.
double HeapInUseMegabytes() {
    char* text = nullptr;
    std::size_t length = 0;
    FILE* stream = open_memstream(&text, &length);
    if (!stream) return -1.0;
    malloc_info(0, stream);
    std::fclose(stream);
    const QByteArray xml(text, static_cast<qsizetype>(length));
    std::free(text);
    // The totals over all arenas follow the last </heap>.
    const QByteArray totals = xml.mid(xml.lastIndexOf("</heap>"));
    auto value = [&totals](const QByteArray& element) {
        const qsizetype at = totals.indexOf(element);
        if (at < 0) return 0.0;
        const qsizetype size = totals.indexOf("size=\"", at) + 6;
        return totals.mid(size, totals.indexOf('"', size) - size).toDouble();
    };
    const double inUse = value("<system type=\"current\"") - value("<total type=\"fast\"") -
                         value("<total type=\"rest\"") + value("<total type=\"mmap\"");
    return inUse / (1024.0 * 1024.0);
}

double ResidentMegabytes() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) return -1.0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    return -1.0;
}

QString MakeClip(const QString& folder, int seconds) {
    const QString path = QDir(folder).filePath(QStringLiteral("clip.avi"));
    QProcess ffmpeg;
    ffmpeg.start(
        QStringLiteral("ffmpeg"),
        {"-hide_banner", "-loglevel", "error", "-y", "-f", "lavfi", "-i",
         QStringLiteral("testsrc2=size=320x240:rate=25:duration=%1").arg(seconds), "-f", "lavfi",
         "-i", QStringLiteral("sine=frequency=440:sample_rate=44100:duration=%1").arg(seconds),
         "-c:v", "mpeg4", "-q:v", "3", "-c:a", "pcm_s16le", path});
    if (!ffmpeg.waitForFinished(120000) || ffmpeg.exitCode() != 0) return {};
    return path;
}

// The output file, chosen as the Options dialog chooses it.
void writeTo(ConverterDialog& dialog, const QString& output) {
    OutputSettings settings = dialog.settings();
    settings.outputName = output;
    dialog.UseOutputChoices(settings);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    const int conversions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 10;
    const int seconds = argc > 2 ? std::max(1, std::atoi(argv[2])) : 10;

    QTemporaryDir folder;
    platform::SettingsStore::UseFolderForTesting(folder.filePath(QStringLiteral("settings")));
    const QString clip = MakeClip(folder.path(), seconds);
    if (clip.isEmpty()) {
        std::fprintf(stderr, "ffmpeg could not make the clip\n");
        return 2;
    }
    bench::AcceptFile chooser(clip);
    AnswerYes boxes;
    platform::InstallFileChooser(&chooser);
    platform::InstallMessageBoxes(&boxes);

    int failures = 0;
    {
        ConverterDialog dialog;
        dialog.show();
        platform::Control<QAbstractButton>(&dialog, MainDialogIds::kOpenVideo)->click();
        (void)QTest::qWaitFor([&] { return !dialog.isOpeningVideo(); }, 30000);
        if (dialog.videoClips().count != 1) {
            std::fprintf(stderr, "the clip did not open\n");
            return 2;
        }
        writeTo(dialog, folder.filePath(QStringLiteral("output.avi")));
        auto* status = platform::Control<QLabel>(&dialog, MainDialogIds::kStatusLine);
        std::printf("video compressor: %s, %d conversions of %d s\n",
                    dialog.settings().videoCompressionOn ? "on" : "off (raw)", conversions + 1,
                    seconds);
        std::printf("%-12s %10s %12s %12s\n", "conversion", "seconds", "resident MB", "heap MB");

        double first = 0.0;
        double last = 0.0;
        double firstHeap = 0.0;
        double lastHeap = 0.0;
        for (int run = 0; run <= conversions; ++run) {
            QElapsedTimer clock;
            clock.start();
            platform::Control<QAbstractButton>(&dialog, MainDialogIds::kConvert)->click();
            const bool ended = QTest::qWaitFor(
                [&] {
                    return !dialog.isConverting() && !dialog.isOpeningVideo() &&
                           status->text().startsWith(QStringLiteral("Done."));
                },
                300000);
            if (!ended) ++failures;
            status->setText(QString());
            // Whatever the allocator keeps for later is not held by the program.
            malloc_trim(0);
            const double resident = ResidentMegabytes();
            const double heap = HeapInUseMegabytes();
            std::printf("%-12d %10.2f %12.1f %12.2f%s\n", run + 1, clock.elapsed() / 1000.0,
                        resident, heap,
                        run == 0 ? "  (plugins loaded; growth counted from here)" : "");
            if (run == 0) {
                first = resident;
                firstHeap = heap;
            }
            last = resident;
            lastHeap = heap;
        }
        std::printf(
            "growth over the last %d conversions: resident %.1f MB, heap in use %.2f MB "
            "(%.3f MB a conversion)\n",
            conversions, last - first, lastHeap - firstHeap, (lastHeap - firstHeap) / conversions);
        if (failures || boxes.unexpected) {
            std::fprintf(stderr, "%d conversions did not end in Done., %d messages\n", failures,
                         boxes.unexpected);
            return 1;
        }
        platform::InstallMessageBoxes(nullptr);
        platform::InstallFileChooser(nullptr);
        return 0;
    }
}
