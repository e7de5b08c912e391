// framewell-convert: the conversion engine without the dialog, for batch use and benchmarks.
// It opens INPUT as Open Video does, builds the same timeline and renders it through the same
// engine; what the dialog shows in message boxes goes to standard error.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/convert_options.h"
#include "clips/clip_list.h"
#include "engine/conversion_engine.h"
#include "engine/conversion_progress.h"
#include "engine/timeline_builder.h"
#include "media/media_framework.h"
#include "media/media_probe.h"
#include "media/render_session.h"
#include "platform/event_loop.h"
#include "platform/file_checks.h"
#include "platform/message_boxes.h"
#include "platform/settings_store.h"
#include "platform/window_messages.h"
#include "settings/compressor_catalogue.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// The dialog's settings branch: the codecs' confirmed settings and the clip defaults are the
// ones the user chose there.
const char* const kDialogProgram = "framewell";

std::atomic<bool> interruptRequested{false};

void print(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}

// A terminal gets one progress line rewritten in place; a pipe or a log gets a line a second.
bool stderrIsTerminal() {
#if defined(_WIN32)
    return _isatty(_fileno(stderr)) != 0;
#else
    return isatty(fileno(stderr)) != 0;
#endif
}

bool sameFile(const QString& a, const QString& b) {
    const QFileInfo first(a), second(b);
    if (first.exists() && second.exists())
        return first.canonicalFilePath() == second.canonicalFilePath();
    return first.absoluteFilePath() == second.absoluteFilePath();
}

// Every compressor of a kind, in catalogue order: the position is the index.
std::vector<CompressorHandle> catalogue(media::EncoderKind kind) {
    std::vector<CompressorHandle> all;
    for (int position = 0;; ++position) {
        std::optional<CompressorHandle> handle;
        if (kind == media::EncoderKind::Video)
            GetCompressor(position, &handle);
        else
            GetAudioCompressor(position, &handle);
        if (!handle) break;
        all.push_back(*handle);
    }
    return all;
}

struct CompressorChoice {
    bool ok = true;
    std::int32_t compressionOn = 0;
    std::optional<CompressorHandle> compressor;
};

// NAME (friendly or factory name, any letter case), a position, "none" or "default".
CompressorChoice chooseCompressor(media::EncoderKind kind, const QString& wanted) {
    CompressorChoice choice;
    if (wanted.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) return choice;
    // A factory named outright needs no catalogue, whose trials cost a good part of a short
    // conversion's time.
    const std::string factory = wanted.toLower().toStdString();
    if (media::EncoderFeedsAvi(factory, kind == media::EncoderKind::Video)) {
        choice.compressionOn = 1;
        choice.compressor = CompressorHandle{factory, wanted, kind};
        return choice;
    }
    const std::vector<CompressorHandle> all = catalogue(kind);
    int position = -1;
    if (wanted.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0) {
        const int found = kind == media::EncoderKind::Video ? FindDefaultVideoCompressor(&position)
                                                            : FindDefaultAudioCompressor(&position);
        if (!found) return choice;  // no default: uncompressed, as the dialog does
    } else {
        bool isNumber = false;
        const int number = wanted.toInt(&isNumber);
        for (std::size_t i = 0; i < all.size() && position < 0; ++i) {
            const bool byName =
                all[i].friendlyName.compare(wanted, Qt::CaseInsensitive) == 0 ||
                QString::fromStdString(all[i].factoryName).compare(wanted, Qt::CaseInsensitive) ==
                    0;
            if (byName || (isNumber && number == static_cast<int>(i)))
                position = static_cast<int>(i);
        }
    }
    if (position < 0 || position >= static_cast<int>(all.size())) {
        choice.ok = false;
        return choice;
    }
    choice.compressionOn = 1;
    choice.compressor = all[static_cast<std::size_t>(position)];
    return choice;
}

void listCompressors() {
    for (media::EncoderKind kind : {media::EncoderKind::Video, media::EncoderKind::Audio}) {
        const std::vector<CompressorHandle> all = catalogue(kind);
        for (std::size_t i = 0; i < all.size(); ++i) {
            std::printf("%zu\t%s\t%s\t%s\n", i,
                        kind == media::EncoderKind::Video ? "video" : "audio",
                        all[i].friendlyName.toUtf8().constData(), all[i].factoryName.c_str());
        }
    }
}

// Follows one conversion: the graph's events, the progress line and Ctrl+C.
class ConversionWatcher : public QObject {
public:
    ConversionWatcher(bool quiet, ReferenceTime length, double outputFrameRate)
        : quiet_(quiet),
          inPlace_(stderrIsTerminal()),
          length_(length),
          outputFrameRate_(outputFrameRate) {
        connect(&ticker_, &QTimer::timeout, this, [this] { tick(); });
        ticker_.start(kTickMs);
    }

    // The graph runs: the clock of the estimate starts now, not while the sources were looked
    // at, and the length is what GES really placed.
    void started() {
        const ReferenceTime placed = conversionEngine ? conversionEngine->Duration() : 0;
        progress_ = ConversionProgress(placed > 0 ? placed : length_);
        clock_.start();
    }

    bool event(QEvent* event) override {
        if (event->type() != platform::WindowMessageEvent::eventType())
            return QObject::event(event);
        long code = 0;
        QString text;
        while (conversionEngine && conversionEngine->GetEvent(&code, &text)) {
            if (code == media::EC_COMPLETE) {
                // A source that fell short of its span is converted as far as it goes, and
                // said so even when quiet.
                for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                    print(QStringLiteral("framewell-convert: warning: %1\n").arg(line));
                finish(interrupted_ ? kExitFailed : kExitConverted, QString());
            } else if (code == media::EC_ERRORABORT) {
                finish(kExitFailed, text);
            }
        }
        return true;
    }

private:
    static constexpr int kTickMs = 250;
    static constexpr int kTicksPerLoggedLine = 1000 / kTickMs;

    void tick() {
        if (interruptRequested && !interrupted_ && conversionEngine) {
            // Stop as the dialog does: the file written so far is finished first.
            interrupted_ = true;
            progress_.Interrupt();
            if (shown_ && inPlace_) print(QStringLiteral("\n"));
            print(QStringLiteral("Stopping...\n"));
            conversionEngine->Stop();
        }
        if (quiet_ || !conversionEngine || !clock_.isValid() || !progress_.Running()) return;
        progress_.Sample(std::chrono::milliseconds(clock_.elapsed()), conversionEngine->Position());
        if (inPlace_)
            show(QStringLiteral("\r"), QString());
        else if (++ticks_ % kTicksPerLoggedLine == 0)
            show(QString(), QStringLiteral("\n"));
    }

    void show(const QString& before, const QString& after) {
        const auto elapsedSeconds = static_cast<std::int32_t>(progress_.Elapsed().count() / 1000);
        print(before +
              ProgressConsoleLine(progress_.Percent(), progress_.FramesPerSecond(outputFrameRate_),
                                  elapsedSeconds, progress_.RemainingSeconds()) +
              after);
        shown_ = true;
    }

    void finish(int exitCode, const QString& failure) {
        ticker_.stop();
        if (exitCode == kExitConverted) {
            // The last line's time and pace are those of the end.
            if (clock_.isValid())
                progress_.Sample(std::chrono::milliseconds(clock_.elapsed()), std::nullopt);
            progress_.Complete();
            if (!quiet_) show(inPlace_ ? QStringLiteral("\r") : QString(), QStringLiteral("\n"));
        } else {
            progress_.Interrupt();
            // The line being rewritten in place gets its end, so that what follows starts clean.
            if (!quiet_ && inPlace_ && shown_ && !interrupted_) print(QStringLiteral("\n"));
        }
        if (conversionEngine) {
            conversionEngine->SetNotifyWindow(nullptr, 0);
            conversionEngine->Stop();
        }
        EmptyConversionHolders();
        if (!failure.isEmpty())
            print(QStringLiteral("framewell-convert: the conversion failed: %1\n").arg(failure));
        if (interrupted_ && failure.isEmpty())
            print(QStringLiteral(
                "framewell-convert: stopped; the output holds what was converted so far\n"));
        QCoreApplication::exit(exitCode);
    }

    bool quiet_;
    bool inPlace_;
    ReferenceTime length_;
    double outputFrameRate_;
    ConversionProgress progress_;
    bool interrupted_ = false;
    bool shown_ = false;
    int ticks_ = 0;
    QElapsedTimer clock_;
    QTimer ticker_;
};

// "25 fps", or "29.97 fps (30000/1001)" for a rate that is not a whole number.
QString FrameRateText(double framesPerSecond) {
    const media::Fraction rate = media::FrameRateFraction(framesPerSecond);
    if (rate.denominator <= 1) return QStringLiteral("%1 fps").arg(rate.numerator);
    return QStringLiteral("%1 fps (%2/%3)")
        .arg(QString::number(framesPerSecond, 'f', 3)
                 .remove(QRegularExpression(QStringLiteral("\\.?0+$"))),
             QString::number(rate.numerator), QString::number(rate.denominator));
}

// Where the output's frame rate came from, for the report.
QString FrameRateOrigin(const media::ProbeResult& probe, bool asked) {
    if (asked) return QStringLiteral("as asked");
    switch (probe.frameRateOrigin) {
        case media::FrameRateOrigin::Declared:
            return QStringLiteral("the source's own");
        case media::FrameRateOrigin::Measured:
            return QStringLiteral("the source's own, measured from its pictures");
        case media::FrameRateOrigin::Assumed:
            break;
    }
    return QStringLiteral("assumed: the source states no rate");
}

int usageError(const QString& error) {
    print(QStringLiteral("framewell-convert: %1\n").arg(error));
    print(QStringLiteral("Try framewell-convert --help.\n"));
    return kExitUsage;
}

int run(const ConvertOptions& options) {
    if (options.help) {
        std::fputs(ConvertUsage().toLocal8Bit().constData(), stdout);
        return kExitConverted;
    }
    if (FAILED(media::StartMediaFramework())) {
        print(QStringLiteral("framewell-convert: the media framework did not start: %1\n")
                  .arg(QString::fromStdString(media::LastErrorText())));
        return kExitFailed;
    }
    if (options.listCompressors) {
        listCompressors();
        return kExitConverted;
    }

    const CompressorChoice video =
        chooseCompressor(media::EncoderKind::Video, options.videoCompressor);
    if (!video.ok)
        return usageError(QStringLiteral("no video compressor \"%1\"; see --list-compressors")
                              .arg(options.videoCompressor));
    const CompressorChoice audio =
        chooseCompressor(media::EncoderKind::Audio, options.audioCompressor);
    if (!audio.ok)
        return usageError(QStringLiteral("no audio compressor \"%1\"; see --list-compressors")
                              .arg(options.audioCompressor));
    if (sameFile(options.input, options.output))
        return usageError(QStringLiteral("OUTPUT is the INPUT file"));

    // What Open Video says of a file that cannot even be read, before the decoders are asked.
    if (const QString problem = platform::InputFileProblem(options.input); !problem.isEmpty()) {
        print(QStringLiteral("framewell-convert: %1: %2\n").arg(options.input, problem));
        return kExitFailed;
    }
    // What Open Video measures.
    const media::ProbeResult probe = media::ProbeMediaFile(options.input.toStdString());
    if (probe.status != S_OK) {
        print(QStringLiteral("framewell-convert: %1: %2\n")
                  .arg(options.input, QString::fromStdString(probe.errorText)));
        return kExitFailed;
    }
    if (!probe.hasVideo) {
        print(QStringLiteral("framewell-convert: %1 holds no video\n").arg(options.input));
        return kExitFailed;
    }
    if (probe.stillImage) {
        print(QStringLiteral("framewell-convert: %1 is a still picture, not a video\n")
                  .arg(options.input));
        return kExitFailed;
    }
    const ReferenceTime startMark = options.startMark.value_or(0);
    const ReferenceTime endMark =
        std::min(options.endMark.value_or(probe.duration), probe.duration);
    if (startMark >= probe.duration)
        return usageError(QStringLiteral("--start lies past the end of INPUT (%1 s)")
                              .arg(static_cast<double>(probe.duration) / kReferenceTimePerSecond));
    if (endMark <= startMark) return usageError(QStringLiteral("--end must come after --start"));

    if (QFileInfo::exists(options.output)) {
        if (!options.overwrite) {
            print(QStringLiteral("framewell-convert: %1 exists; add --overwrite to replace it\n")
                      .arg(options.output));
            return kExitFailed;
        }
        QFile::remove(options.output);
    }

    const platform::SettingsStore dialogSettings(QString::fromLatin1(platform::kOrganisation),
                                                 QString::fromLatin1(kDialogProgram));
    ClipList clipList;
    MusicList musicList;
    ClipDefaults defaults = ReadClipDefaults(dialogSettings);
    defaults.clipDuration = static_cast<std::int32_t>(probe.duration / kReferenceTimePerSecond);
    appendClip(clipList, options.input, defaults);
    musicList[0] = {options.input, probe.duration};
    musicList.count = 1;

    OutputSettings settings;
    settings.outputName = options.output;
    settings.sourceWidth = probe.width;
    settings.sourceHeight = probe.height;
    settings.outputWidth = options.size ? options.size->width() : probe.width;
    settings.outputHeight = options.size ? options.size->height() : probe.height;
    settings.sourceFrameRate = probe.frameRate();
    settings.outputFrameRate = options.frameRate.value_or(settings.sourceFrameRate);
    settings.resizeMode = options.resizeMode;
    settings.videoCompressionOn = video.compressionOn;
    settings.audioCompressionOn = audio.compressionOn;
    heldVideoCompressor = video.compressor;
    heldAudioCompressor = audio.compressor;

    ReferenceTime totalDuration = 0;
    TimelineBuilder builder(clipList, musicList, startMark, endMark, settings, totalDuration);
    activeTimeline.emplace();
    if (FAILED(builder.BuildTimeline(&*activeTimeline))) return kExitFailed;

    if (!options.quiet)
        print(QStringLiteral("Frame rate: %1, %2\n")
                  .arg(FrameRateText(settings.outputFrameRate),
                       FrameRateOrigin(probe, options.frameRate.has_value())));
    ConversionWatcher watcher(options.quiet, endMark - startMark, settings.outputFrameRate);
    int setUpExit = -1;
    StartConversionRender(*activeTimeline, CurrentOutputGraphSettings(settings, dialogSettings),
                          &watcher, WM_GRAPHNOTIFY, [&setUpExit, &watcher](HRESULT status) {
                              if (FAILED(status)) {
                                  setUpExit = kExitFailed;
                                  QCoreApplication::exit(kExitFailed);
                                  return;
                              }
                              watcher.started();
                          });
    std::signal(SIGINT, [](int) { interruptRequested = true; });
    const int exitCode = QCoreApplication::exec();
    EmptyConversionHolders();
    heldVideoCompressor.reset();
    heldAudioCompressor.reset();
    if (exitCode == kExitConverted && !options.quiet)
        print(QStringLiteral("Done. Output File: %1     Resolution: %2*%3\n")
                  .arg(options.output, QString::number(settings.outputWidth),
                       QString::number(settings.outputHeight)));
    return setUpExit >= 0 ? setUpExit : exitCode;
}

}  // namespace

int main(int argc, char* argv[]) {
    platform::UseQtEventLoop();
    QCoreApplication application(argc, argv);
    platform::StderrMessageBoxes stderrBoxes;
    platform::InstallMessageBoxes(&stderrBoxes);
    const ParsedCommandLine parsed = ParseConvertArguments(application.arguments().mid(1));
    const int exitCode = parsed.ok() ? run(parsed.options) : usageError(parsed.error);
    platform::InstallMessageBoxes(nullptr);
    return exitCode;
}
