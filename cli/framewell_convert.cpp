// framewell-convert: the conversion engine without the dialog, for batch use and benchmarks.
// It opens INPUT as Open Video does, builds the same timeline and renders it through the same
// engine; what the dialog shows in message boxes goes to standard error.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <optional>

#include "cli/convert_options.h"
#include "clips/clip_list.h"
#include "engine/conversion_engine.h"
#include "engine/timeline_builder.h"
#include "media/media_framework.h"
#include "media/media_probe.h"
#include "media/render_session.h"
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
    ConversionWatcher(bool quiet, ReferenceTime duration) : quiet_(quiet), duration_(duration) {
        clock_.start();
        connect(&ticker_, &QTimer::timeout, this, [this] { tick(); });
        ticker_.start(250);
    }

    bool event(QEvent* event) override {
        if (event->type() != platform::WindowMessageEvent::eventType())
            return QObject::event(event);
        long code = 0;
        QString text;
        while (conversionEngine && conversionEngine->GetEvent(&code, &text)) {
            if (code == media::EC_COMPLETE) {
                finish(interrupted_ ? kExitFailed : kExitConverted, QString());
            } else if (code == media::EC_ERRORABORT) {
                finish(kExitFailed, text);
            }
        }
        return true;
    }

private:
    void tick() {
        if (interruptRequested && !interrupted_ && conversionEngine) {
            // Stop as the dialog does: the file written so far is finished first.
            interrupted_ = true;
            print(QStringLiteral("\nStopping...\n"));
            conversionEngine->Stop();
        }
        if (quiet_ || !conversionEngine) return;
        const ReferenceTime position = conversionEngine->Position().value_or(0);
        const int percent =
            duration_ > 0
                ? static_cast<int>(std::min<ReferenceTime>(100, position * 100 / duration_))
                : 0;
        print(QStringLiteral("\r%1%  %2")
                  .arg(percent, 3)
                  .arg(QString::fromStdString(
                      FormatClockSeconds(static_cast<int>(clock_.elapsed() / 1000)))));
    }

    void finish(int exitCode, const QString& failure) {
        ticker_.stop();
        if (!quiet_ && exitCode == kExitConverted)
            print(QStringLiteral("\r100%  %1\n")
                      .arg(QString::fromStdString(
                          FormatClockSeconds(static_cast<int>(clock_.elapsed() / 1000)))));
        else if (!quiet_)
            print(QStringLiteral("\n"));
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
    ReferenceTime duration_;
    bool interrupted_ = false;
    QElapsedTimer clock_;
    QTimer ticker_;
};

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
    settings.sourceFrameRate = probe.frameRate() > 0 ? probe.frameRate() : 23.976;
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

    ConversionWatcher watcher(options.quiet, endMark - startMark);
    int setUpExit = -1;
    StartConversionRender(*activeTimeline, CurrentOutputGraphSettings(settings, dialogSettings),
                          &watcher, WM_GRAPHNOTIFY, [&setUpExit](HRESULT status) {
                              if (FAILED(status)) {
                                  setUpExit = kExitFailed;
                                  QCoreApplication::exit(kExitFailed);
                              }
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
    QCoreApplication application(argc, argv);
    platform::StderrMessageBoxes stderrBoxes;
    platform::InstallMessageBoxes(&stderrBoxes);
    const ParsedCommandLine parsed = ParseConvertArguments(application.arguments().mid(1));
    const int exitCode = parsed.ok() ? run(parsed.options) : usageError(parsed.error);
    platform::InstallMessageBoxes(nullptr);
    return exitCode;
}
