// framewell-convert: the conversion engine without the dialog, for batch use and benchmarks.
// It opens INPUT as Open Video does, builds the same timeline and renders it through the same
// engine. Every failure is one line on standard error that gives the real reason and names the
// file or folder; the exit status says what became of OUTPUT.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <optional>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/compressor_choice.h"
#include "cli/console_message.h"
#include "cli/convert_options.h"
#include "clips/clip_list.h"
#include "engine/conversion_engine.h"
#include "engine/conversion_progress.h"
#include "engine/timeline_builder.h"
#include "media/frame_time.h"
#include "media/media_framework.h"
#include "media/media_probe.h"
#include "media/render_session.h"
#include "media/stream_copy.h"
#include "platform/event_loop.h"
#include "platform/file_checks.h"
#include "platform/message_boxes.h"
#include "platform/program_version.h"
#include "platform/settings_store.h"
#include "platform/termination_signals.h"
#include "platform/window_messages.h"
#include "settings/compressor_catalogue.h"

namespace {

constexpr int kExitConverted = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// A conversion ended by a signal exits as the shell reports a program that the signal ended:
// 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP.
int ExitStopped(int signalNumber) {
    return 128 + signalNumber;
}

// The dialog's settings branch: the codecs' confirmed settings and the clip defaults are the
// ones the user chose there.
const char* const kDialogProgram = "framewell";


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

// What the conversion was asked to write, to hold against what the file got.
// "25 fps", or "29.97 fps (30000/1001)" for a rate that is not a whole number.
QString FrameRateText(media::Fraction rate) {
    if (rate.denominator <= 1) return QStringLiteral("%1 fps").arg(rate.numerator);
    return QStringLiteral("%1 fps (%2/%3)")
        .arg(QString::fromStdString(media::FormatFrameRate(rate)),
             QString::number(rate.numerator), QString::number(rate.denominator));
}

// Where the output's frame rate came from, for the report.
QString FrameRateOrigin(const media::ProbeResult& probe, bool asked) {
    if (asked) return QStringLiteral("as asked");
    switch (probe.frameRateOrigin) {
        case media::FrameRateOrigin::Declared:
            return QStringLiteral("the source's own");
        case media::FrameRateOrigin::Measured:
            if (probe.statedFrameRateNumerator > 0)
                return QStringLiteral(
                           "the source's own, measured from its pictures (the file "
                           "states %1)")
                    .arg(FrameRateText(media::FrameRateFraction(
                        static_cast<double>(probe.statedFrameRateNumerator) /
                        probe.statedFrameRateDenominator)));
            return QStringLiteral("the source's own, measured from its pictures");
        case media::FrameRateOrigin::Assumed:
            break;
    }
    return QStringLiteral("assumed: the source states no rate");
}

struct AskedOutput {
    QString path;
    int width = 0;
    int height = 0;
    double frameRate = 0.0;
    QString frameRateOrigin;  // where that rate came from, for the line that names it
    QString copied;           // what a direct stream copy writes as it is; empty otherwise
    // A copy of the pictures keeps their own rate, an exact fraction (2997/125 stays so).
    std::optional<media::Fraction> copiedRate;
    // Said with the warnings of the end: the source ends before the span asked of it.
    QString shortSource;
};

QString clockOf(ReferenceTime t) {
    return QString::fromStdString(media::FormatClockMilliseconds(t));
}

// One picture of the source: how far an end may lie past its last picture and still be it.
ReferenceTime ProbeFramePeriod(const media::ProbeResult& probe) {
    return media::FrameStart(1, {probe.frameRateNumerator, probe.frameRateDenominator});
}

// Follows one conversion: its set-up, the graph's events, the progress line and the
// termination signals, which stop it as the dialog's Stop does.
class ConversionWatcher : public QObject {
public:
    ConversionWatcher(bool quiet, ReferenceTime length, AskedOutput asked,
                      platform::TerminationSignals& terminations)
        : quiet_(quiet), inPlace_(stderrIsTerminal()), length_(length), asked_(std::move(asked)) {
        connect(&ticker_, &QTimer::timeout, this, [this] { tick(); });
        connect(&terminations, &platform::TerminationSignals::received, this,
                [this](int signalNumber) { onSignal(signalNumber); });
        // One that came while the sources were looked at, before this could hear it.
        stopSignal_ = platform::FirstTerminationSignal();
        ticker_.start(kTickMs);
    }

    // Renders the plan; the outcome comes back to setUp.
    void start(media::RenderPlan plan) {
        conversionEngine = StartConversionRender(
            std::move(plan), this, WM_GRAPHNOTIFY,
            [this](const media::RenderSetupResult& result) { setUp(result); });
    }

private:
    static constexpr int kTickMs = 250;
    static constexpr int kTicksPerLoggedLine = 1000 / kTickMs;

    // The set-up's outcome, on the event loop.
    void setUp(const media::RenderSetupResult& result) {
        if (FAILED(result.status)) {
            finish(kExitFailed,
                   QString::fromStdString(media::ErrorText(result.status, result.errorText, 0)));
            return;
        }
        // The graph runs: the clock of the estimate starts now, not while the sources were
        // looked at, and the length is what GES really placed.
        running_ = true;
        // The rate is named once the conversion really runs; a refusal stays one line.
        if (!quiet_)
            PrintMessage(QStringLiteral("Frame rate: %1, %2\n")
                      .arg(FrameRateText(asked_.copiedRate.value_or(
                                    media::FrameRateFraction(asked_.frameRate))),
                                asked_.frameRateOrigin));
        const ReferenceTime placed = conversionEngine ? conversionEngine->Duration() : 0;
        progress_ = ConversionProgress(placed > 0 ? placed : length_);
        clock_.start();
        // A signal during the set-up is acted on now: the file gets what was converted.
        if (stopSignal_ != 0) stop();
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
                const QString said = asked_.shortSource.isEmpty()
                                         ? text
                                         : asked_.shortSource + QLatin1Char('\n') + text;
                for (const QString& line : said.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
                    PrintMessage(QStringLiteral("framewell-convert: warning: %1\n").arg(line));
                completed();
            } else if (code == media::EC_ERRORABORT) {
                finish(kExitFailed, QStringLiteral("the conversion failed: ") + text);
            }
        }
        return true;
    }

    void onSignal(int signalNumber) {
        if (stopSignal_ == 0) stopSignal_ = signalNumber;
        if (running_) stop();
    }

    // Stop as the dialog does: the file written so far is finished first.
    void stop() {
        if (stopping_ || !conversionEngine) return;
        stopping_ = true;
        progress_.Interrupt();
        if (shown_ && inPlace_) PrintMessage(QStringLiteral("\n"));
        PrintMessage(QStringLiteral("Stopping...\n"));
        conversionEngine->Stop();
    }

    void tick() {
        if (quiet_ || !conversionEngine || !clock_.isValid() || !progress_.Running()) return;
        progress_.Sample(std::chrono::milliseconds(clock_.elapsed()), conversionEngine->Position());
        if (inPlace_)
            show(QStringLiteral("\r"), QString());
        else if (++ticks_ % kTicksPerLoggedLine == 0)
            show(QString(), QStringLiteral("\n"));
    }

    void show(const QString& before, const QString& after) {
        const auto elapsedSeconds = static_cast<std::int32_t>(progress_.Elapsed().count() / 1000);
        PrintMessage(before +
              ProgressConsoleLine(progress_.Percent(), progress_.FramesPerSecond(asked_.frameRate),
                                  elapsedSeconds, progress_.RemainingSeconds()) +
              after);
        shown_ = true;
    }

    // The file is finished and in place: say what it holds.
    void completed() {
        const std::optional<media::WrittenVideo> written = conversionEngine->WrittenVideo();
        const ReferenceTime end = conversionEngine->Position().value_or(0);
        const ReferenceTime length = conversionEngine->Duration();
        if (stopSignal_ != 0) {
            finish(ExitStopped(stopSignal_), QString(),
                   QStringLiteral("framewell-convert: stopped by %1 at %2 of %3; %4 holds what "
                                  "was converted up to there\n")
                       .arg(platform::SignalName(stopSignal_), clockOf(end), clockOf(length),
                            asked_.path));
            return;
        }
        if (!written) {
            finish(kExitFailed,
                   QStringLiteral("the conversion failed: %1 holds no picture").arg(asked_.path));
            return;
        }
        // Compressors that cannot take the asked size or rate are refused before anything is
        // written; should one still adapt it unasked, that is a failure, not "Done.".
        const media::Fraction askedRate =
            asked_.copiedRate.value_or(media::FrameRateFraction(asked_.frameRate));
        if (written->width != asked_.width || written->height != asked_.height ||
            !(written->frameRate == askedRate)) {
            finish(kExitFailed,
                   QStringLiteral("%1 was written at %2*%3, %4 fps, not at the %5*%6, %7 fps asked "
                                  "for")
                       .arg(asked_.path, QString::number(written->width),
                            QString::number(written->height),
                            QString::fromStdString(media::FormatFrameRate(written->frameRate)),
                            QString::number(asked_.width), QString::number(asked_.height),
                            QString::fromStdString(media::FormatFrameRate(askedRate))));
            return;
        }
        QString summary;
        if (!quiet_)
            summary = QStringLiteral("Done. Output File: %1     Resolution: %2*%3%4\n")
                          .arg(asked_.path, QString::number(written->width),
                               QString::number(written->height),
                               asked_.copied.isEmpty()
                                   ? QString()
                                   : QStringLiteral("     ") +
                                         (written->copied.empty()
                                              ? asked_.copied
                                              : QString::fromStdString(written->copied)));
        finish(kExitConverted, QString(), summary);
    }

    // Ends the program's event loop with exitCode (a stop's status once a signal came); failure
    // is the one line that says why, report what follows it.
    void finish(int exitCode, const QString& failure, const QString& report = QString()) {
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
            if (!quiet_ && inPlace_ && shown_ && !stopping_) PrintMessage(QStringLiteral("\n"));
        }
        if (conversionEngine) {
            conversionEngine->SetNotifyWindow(nullptr, 0);
            conversionEngine->Stop();
        }
        conversionEngine.reset();
        if (!failure.isEmpty()) PrintMessage(QStringLiteral("framewell-convert: %1\n").arg(failure));
        PrintMessage(report);
        QCoreApplication::exit(stopSignal_ != 0 ? ExitStopped(stopSignal_) : exitCode);
    }

    bool quiet_;
    bool inPlace_;
    ReferenceTime length_;
    AskedOutput asked_;
    ConversionProgress progress_;
    int stopSignal_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    bool shown_ = false;
    int ticks_ = 0;
    QElapsedTimer clock_;
    QTimer ticker_;
    std::unique_ptr<ConversionEngine> conversionEngine;
};

int usageError(const QString& error) {
    PrintMessage(QStringLiteral("framewell-convert: %1\n").arg(error));
    PrintMessage(QStringLiteral("Try framewell-convert --help.\n"));
    return kExitUsage;
}

// A signal that came while the program looked at its input: nothing has been written, and an
// earlier OUTPUT is as it was. -1 when none came.
int stoppedBeforeConverting(const ConvertOptions& options) {
    const int signalNumber = platform::FirstTerminationSignal();
    if (signalNumber == 0) return -1;
    PrintMessage(QStringLiteral("framewell-convert: stopped by %1 before the conversion began; %2\n")
              .arg(platform::SignalName(signalNumber),
                   QFileInfo::exists(options.output)
                       ? options.output + QStringLiteral(" is as it was")
                       : QStringLiteral("nothing was written")));
    return ExitStopped(signalNumber);
}

// What Open Video says of INPUT: -1 with the probe when it is a video, otherwise the exit
// status after the line that says why.
int probeInput(const ConvertOptions& options, bool copiesPictures, media::ProbeResult& probe) {
    // A file that cannot even be read is named before the decoders are asked.
    if (const QString problem = platform::InputFileProblem(options.input); !problem.isEmpty()) {
        PrintMessage(QStringLiteral("framewell-convert: %1: %2\n").arg(options.input, problem));
        return kExitFailed;
    }
    // A copy of the pictures reads them without decoding; where that fails the full probe
    // finds what to say.
    if (copiesPictures) probe = media::ProbeForStreamCopy(options.input.toStdString());
    if (probe.status != S_OK) probe = media::ProbeMediaFile(options.input.toStdString());
    if (const int stopped = stoppedBeforeConverting(options); stopped >= 0) return stopped;
    if (probe.status != S_OK) {
        PrintMessage(QStringLiteral("framewell-convert: %1: %2\n")
                  .arg(options.input, QString::fromStdString(probe.errorText)));
        return kExitFailed;
    }
    if (!probe.hasVideo) {
        PrintMessage(QStringLiteral("framewell-convert: %1 holds no video\n").arg(options.input));
        return kExitFailed;
    }
    if (probe.stillImage) {
        PrintMessage(QStringLiteral("framewell-convert: %1 is a still picture, not a video\n")
                  .arg(options.input));
        return kExitFailed;
    }
    return -1;
}

// Only a regular file is ever replaced, and only by a finished conversion: nothing is deleted
// here. False after the line that says why OUTPUT may not be written.
bool outputMayBeWritten(const ConvertOptions& options) {
    if (const QString problem = platform::OutputFileProblem(options.output); !problem.isEmpty()) {
        PrintMessage(QStringLiteral("framewell-convert: %1: %2\n").arg(options.output, problem));
        return false;
    }
    if (QFileInfo::exists(options.output) && !options.overwrite) {
        PrintMessage(QStringLiteral("framewell-convert: %1 exists; add --overwrite to replace it\n")
                  .arg(options.output));
        return false;
    }
    return true;
}

// The output settings the command line asks for, the source's facts standing in for what was
// not asked.
OutputSettings outputSettingsFor(const ConvertOptions& options, const media::ProbeResult& probe,
                                 const CompressorChoice& video, const CompressorChoice& audio) {
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
    settings.videoCompressor = video.compressor;
    settings.audioCompressor = audio.compressor;
    return settings;
}

// The output size the chosen video encoder can take (even sides for 4:2:0), said when it is
// not the size asked for.
void fitSizeToEncoder(OutputSettings& settings, bool quiet) {
    if (settings.videoCompressionOn != 1 || !settings.videoCompressor ||
        settings.videoCompressor->streamCopy)
        return;
    const media::FrameSize fitted = media::FrameSizeForEncoder(
        settings.videoCompressor->factoryName, settings.outputWidth, settings.outputHeight);
    if (fitted == media::FrameSize{settings.outputWidth, settings.outputHeight}) return;
    if (!quiet)
        PrintMessage(QStringLiteral("framewell-convert: %1 takes only frames of even sides; "
                                    "writing %2x%3 for %4x%5\n")
                         .arg(QString::fromStdString(settings.videoCompressor->factoryName))
                         .arg(fitted.width)
                         .arg(fitted.height)
                         .arg(settings.outputWidth)
                         .arg(settings.outputHeight));
    settings.outputWidth = fitted.width;
    settings.outputHeight = fitted.height;
}

// A copy is refused before anything is written, and a start it cannot keep is named before it
// begins. -1 when it may go on, with what it copies and how long it is; otherwise the exit
// status after the line that says why.
int inspectCopy(const media::RenderPlan& plan, AskedOutput& asked, ReferenceTime& length) {
    const media::StreamCopyInspection inspection = media::InspectStreamCopy(plan);
    if (!inspection.ok()) {
        PrintMessage(QStringLiteral("framewell-convert: %1\n")
                  .arg(QString::fromStdString(inspection.refusal)));
        return kExitFailed;
    }
    if (inspection.startKind == media::CopyStart::AtKeyFrameBefore)
        PrintMessage(QStringLiteral("framewell-convert: the %1 video has no key frame at %2; the "
                             "copy starts at the key frame at %3\n")
                  .arg(QString::fromStdString(inspection.videoFormat),
                       clockOf(inspection.markedStart), clockOf(inspection.start)));
    asked.copied = QString::fromStdString(media::CopiedStreamsText(inspection));
    if (!inspection.videoFormat.empty() && inspection.frameRate.numerator > 0) {
        asked.copiedRate = inspection.frameRate;
        asked.frameRate = static_cast<double>(inspection.frameRate.numerator) /
                          inspection.frameRate.denominator;
    }
    length = inspection.stop - inspection.start;
    return -1;
}

// The timeline Open Video and Convert would make of INPUT's span; false after the line that
// names the first thing it lost.
bool buildTimeline(const QString& input, const media::ProbeResult& probe, ReferenceTime startMark,
                   ReferenceTime endMark, const OutputSettings& settings,
                   const platform::SettingsStore& dialogSettings, media::TimelineModel& timeline) {
    ClipList clipList;
    MusicList musicList;
    ClipDefaults defaults = ReadClipDefaults(dialogSettings);
    defaults.clipDuration = static_cast<std::int32_t>(probe.duration / kReferenceTimePerSecond);
    appendClip(clipList, input, defaults);
    musicList[0] = {input, probe.duration};
    musicList.count = 1;

    ReferenceTime totalDuration = 0;
    TimelineBuilder builder(clipList, musicList, startMark, endMark, settings, totalDuration);
    const HRESULT built = builder.BuildTimeline(&timeline);
    if (SUCCEEDED(built) && builder.Complete()) return true;
    // The first loss is the cause; what follows from it says nothing new.
    QString reason = QStringLiteral("the timeline could not be built");
    for (const TimelineFailure& failure : builder.Failures()) {
        if (!failure.losesMaterial() || failure.reason.isEmpty()) continue;
        reason = failure.reason;
        break;
    }
    PrintMessage(QStringLiteral("framewell-convert: %1\n").arg(reason));
    return false;
}

int run(const ConvertOptions& options) {
    if (options.help) {
        std::fputs(ConvertUsage().toLocal8Bit().constData(), stdout);
        return kExitConverted;
    }
    if (options.version) {
        std::printf("framewell-convert %s\n", platform::ProgramVersion());
        return kExitConverted;
    }
    // The editing services (and the Python interpreter they start) are started only for a plan
    // that needs them, below.
    if (FAILED(media::StartMediaFramework(false))) {
        PrintMessage(QStringLiteral("framewell-convert: the media framework did not start: %1\n")
                  .arg(QString::fromStdString(media::LastErrorText())));
        return kExitFailed;
    }
    if (options.listCompressors) {
        ListCompressors();
        // The listing cannot be cut short; a signal during it still says it came.
        const int signalNumber = platform::FirstTerminationSignal();
        return signalNumber != 0 ? ExitStopped(signalNumber) : kExitConverted;
    }
    // Signals are heard from here on; until the conversion runs, the steps below ask after
    // them between their blocking parts.
    platform::TerminationSignals terminations;
    if (const int stopped = stoppedBeforeConverting(options); stopped >= 0) return stopped;

    const CompressorChoice video =
        ChooseCompressor(media::EncoderKind::Video, options.videoCompressor);
    if (!video.ok)
        return usageError(QStringLiteral("no video compressor \"%1\"; see --list-compressors")
                              .arg(options.videoCompressor));
    const CompressorChoice audio =
        ChooseCompressor(media::EncoderKind::Audio, options.audioCompressor);
    if (!audio.ok)
        return usageError(QStringLiteral("no audio compressor \"%1\"; see --list-compressors")
                              .arg(options.audioCompressor));
    if (sameFile(options.input, options.output))
        return usageError(QStringLiteral("OUTPUT is the INPUT file"));
    if (const int stopped = stoppedBeforeConverting(options); stopped >= 0) return stopped;

    media::ProbeResult probe;
    const bool copiesPictures = video.compressor && video.compressor->streamCopy;
    if (const int refused = probeInput(options, copiesPictures, probe); refused >= 0)
        return refused;
    const ReferenceTime startMark = options.startMark.value_or(0);
    const ReferenceTime endMark =
        std::min(options.endMark.value_or(probe.duration), probe.duration);
    if (startMark >= probe.duration)
        return usageError(QStringLiteral("--start lies past the end of INPUT (%1 s)")
                              .arg(static_cast<double>(probe.duration) / kReferenceTimePerSecond));
    if (endMark <= startMark) return usageError(QStringLiteral("--end must come after --start"));

    if (!outputMayBeWritten(options)) return kExitFailed;

    const platform::SettingsStore dialogSettings(QString::fromLatin1(platform::kOrganisation),
                                                 QString::fromLatin1(kDialogProgram));
    OutputSettings settings = outputSettingsFor(options, probe, video, audio);
    fitSizeToEncoder(settings, options.quiet);
    media::TimelineModel timeline;
    if (!buildTimeline(options.input, probe, startMark, endMark, settings, dialogSettings,
                       timeline))
        return kExitFailed;
    if (const int stopped = stoppedBeforeConverting(options); stopped >= 0) return stopped;

    AskedOutput asked{options.output,
                      settings.outputWidth,
                      settings.outputHeight,
                      settings.outputFrameRate,
                      FrameRateOrigin(probe, options.frameRate.has_value()),
                      {},
                      {},
                      {}};
    // What the file holds ends the span; an end asked beyond it (a cut or damaged file whose
    // header still claims the whole) is said, not quietly moved.
    if (options.endMark && *options.endMark - probe.duration >= ProbeFramePeriod(probe))
        asked.shortSource = QStringLiteral(
                                "The source ends at %1, before the end of the span at "
                                "%2 (the file is cut short or damaged there); the "
                                "output ends there too.")
                                .arg(clockOf(probe.duration), clockOf(*options.endMark));
    media::RenderPlan plan =
        ConversionPlan(std::move(timeline), CurrentOutputGraphSettings(settings, dialogSettings));
    ReferenceTime length = endMark - startMark;
    if (media::UsesStreamCopy(plan)) {
        if (const int refused = inspectCopy(plan, asked, length); refused >= 0) return refused;
        if (const int stopped = stoppedBeforeConverting(options); stopped >= 0) return stopped;
    }
    if (media::NeedsEditingServices(plan) && FAILED(media::StartEditingServices())) {
        PrintMessage(QStringLiteral("framewell-convert: the media framework did not start: %1\n")
                  .arg(QString::fromStdString(media::LastErrorText())));
        return kExitFailed;
    }
    ConversionWatcher watcher(options.quiet, length, asked, terminations);
    watcher.start(std::move(plan));
    return QCoreApplication::exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    // First of all, so that a signal at any moment from here on is heard.
    platform::InstallTerminationHandlers();
    platform::UseQtEventLoop();
    QCoreApplication application(argc, argv);
    platform::StderrMessageBoxes stderrBoxes;
    platform::InstallMessageBoxes(&stderrBoxes);
    const ParsedCommandLine parsed = ParseConvertArguments(application.arguments().mid(1));
    const int exitCode = parsed.ok() ? run(parsed.options) : usageError(parsed.error);
    platform::InstallMessageBoxes(nullptr);
    return exitCode;
}
