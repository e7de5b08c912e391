#include "cli/conversion_job.h"

#include <QCoreApplication>
#include <QEvent>
#include <QFileInfo>

#include <algorithm>
#include <cmath>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/console_message.h"
#include "clips/clip_list.h"
#include "engine/choice_conflicts.h"
#include "engine/conversion_engine.h"
#include "engine/timeline_builder.h"
#include "media/copy/stream_copy.h"
#include "media/core/frame_time.h"
#include "media/core/media_framework.h"
#include "media/encoders/encoder_registry.h"
#include "media/source/deinterlacing.h"
#include "platform/file_checks.h"
#include "platform/settings_store.h"
#include "platform/termination_signals.h"
#include "platform/window_messages.h"

namespace {

// The dialog's settings branch: the codecs' confirmed settings and the clip defaults are the
// ones the user chose there.
const char* const kDialogProgram = "framewell";

// A size aimed at comes out within this share of it.
constexpr double kSizeTolerance = 0.03;

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

QString clockOf(ReferenceTime t) {
    return QString::fromStdString(media::FormatClockMilliseconds(t));
}

// One picture of the source: how far an end may lie past its last picture and still be it.
ReferenceTime ProbeFramePeriod(const media::ProbeResult& probe) {
    return media::FrameStart(1, {probe.frameRateNumerator, probe.frameRateDenominator});
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

QString megabytes(std::int64_t bytes) {
    return QString::fromStdString(media::FormatMegabytes(bytes));
}

// The output settings the command line asks for, the source's facts standing in for what was
// not asked.
OutputSettings outputSettingsFor(const ConvertOptions& options, const QString& output,
                                 const media::ProbeResult& probe, const CompressorChoice& video,
                                 const CompressorChoice& audio) {
    OutputSettings settings;
    settings.outputName = output;
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

// The timeline Open Video and Convert would make of INPUT's span; the reason when it lost
// something, empty when it is whole.
QString buildTimeline(const QString& input, const media::ProbeResult& probe,
                      ReferenceTime startMark, ReferenceTime endMark,
                      const OutputSettings& settings,
                      const platform::SettingsStore& dialogSettings,
                      media::TimelineModel& timeline) {
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
    if (SUCCEEDED(built) && builder.Complete()) return {};
    // The first loss is the cause; what follows from it says nothing new.
    for (const TimelineFailure& failure : builder.Failures())
        if (failure.losesMaterial() && !failure.reason.isEmpty()) return failure.reason;
    return QStringLiteral("the timeline could not be built");
}

}  // namespace

int UsageError(const QString& error) {
    PrintMessage(QStringLiteral("framewell-convert: %1\n").arg(error));
    PrintMessage(QStringLiteral("Try framewell-convert --help.\n"));
    return kExitUsage;
}

ConversionJob::ConversionJob(const ConvertOptions& options, const CompressorChoice& video,
                             const CompressorChoice& audio, QString input, QString output,
                             bool progressLines)
    : options_(options),
      video_(video),
      audio_(audio),
      input_(std::move(input)),
      output_(std::move(output)),
      progressLines_(progressLines && !options.quiet),
      inPlace_(stderrIsTerminal()) {
    connect(&ticker_, &QTimer::timeout, this, [this] { tick(); });
}

ConversionJob::~ConversionJob() = default;

int ConversionJob::fail(int exitCode, const QString& line) {
    reason_ = line;
    exitCode_ = exitCode;
    PrintMessage(QStringLiteral("framewell-convert: %1\n").arg(line));
    return exitCode;
}

// One conversion's wrong command line says how to get help; one input of several that cannot
// be converted as asked is named.
int ConversionJob::usage(const QString& error) {
    if (options_.toFolder) return fail(kExitUsage, input_ + QStringLiteral(": ") + error);
    reason_ = error;
    exitCode_ = kExitUsage;
    return UsageError(error);
}

// A signal that came while the program looked at its input: nothing has been written, and an
// earlier OUTPUT is as it was. -1 when none came.
int ConversionJob::stoppedBeforeConverting() {
    const int signalNumber = platform::FirstTerminationSignal();
    if (signalNumber == 0) return -1;
    return fail(ExitStopped(signalNumber),
                QStringLiteral("stopped by %1 before the conversion began; %2")
                    .arg(platform::SignalName(signalNumber),
                         QFileInfo::exists(output_) ? output_ + QStringLiteral(" is as it was")
                                                    : QStringLiteral("nothing was written")));
}

// What Open Video says of INPUT: -1 with the probe when it is a video, otherwise the exit
// status after the line that says why.
int ConversionJob::probeInput() {
    // A file that cannot even be read is named before the decoders are asked.
    if (const QString problem = platform::InputFileProblem(input_); !problem.isEmpty())
        return fail(kExitFailed, QStringLiteral("%1: %2").arg(input_, problem));
    // A copy of the pictures reads them without decoding; where that fails the full probe
    // finds what to say.
    if (video_.compressor && video_.compressor->streamCopy)
        probe_ = media::ProbeForStreamCopy(input_.toStdString());
    if (probe_.status != S_OK) probe_ = media::ProbeMediaFile(input_.toStdString());
    if (const int stopped = stoppedBeforeConverting(); stopped >= 0) return stopped;
    if (probe_.status != S_OK)
        return fail(kExitFailed, QStringLiteral("%1: %2").arg(
                                     input_, QString::fromStdString(probe_.errorText)));
    if (!probe_.hasVideo) return fail(kExitFailed, QStringLiteral("%1 holds no video").arg(input_));
    if (probe_.stillImage)
        return fail(kExitFailed, QStringLiteral("%1 is a still picture, not a video").arg(input_));
    return -1;
}

// Only a regular file is ever replaced, and only by a finished conversion: nothing is deleted
// here. False after the line that says why OUTPUT may not be written.
bool ConversionJob::outputMayBeWritten() {
    if (const QString problem = platform::OutputFileProblem(output_); !problem.isEmpty()) {
        fail(kExitFailed, QStringLiteral("%1: %2").arg(output_, problem));
        return false;
    }
    if (QFileInfo::exists(output_) && !options_.overwrite) {
        fail(kExitFailed, QStringLiteral("%1 exists; add --overwrite to replace it").arg(output_));
        return false;
    }
    return true;
}

// The sound track and the subtitles asked for, against INPUT's tracks; a track it does not
// have is refused with the list of those it has. -1 when they fit.
int ConversionJob::checkSourceChoices(media::RenderPlan& plan) {
    media::SourceChoices& choices = plan.source;
    choices.audioTrack = options_.audioTrack;
    choices.subtitleTrack = options_.subtitleTrack;
    choices.subtitleFile = options_.subtitleFile.toStdString();
    choices.deinterlace = options_.deinterlace;
    if (const std::string missing = media::ResolveSourceChoices(choices, probe_.tracks);
        !missing.empty()) {
        QString tracks;
        for (const media::SourceTrack& track : probe_.tracks)
            tracks += QStringLiteral("  ") + QString::fromStdString(media::DescribeTrack(track)) +
                      QLatin1Char('\n');
        const int status = usage(QStringLiteral("%1: %2").arg(input_, QString::fromStdString(missing)));
        PrintMessage(QStringLiteral("Tracks of %1:\n%2").arg(input_, tracks));
        return status;
    }
    if (!options_.subtitleFile.isEmpty())
        if (const QString problem = platform::InputFileProblem(options_.subtitleFile);
            !problem.isEmpty())
            return fail(kExitFailed, QStringLiteral("%1: %2").arg(options_.subtitleFile, problem));
    if (const QString conflict = ChoiceConflict(plan, options_.targetSizeMegabytes.has_value());
        !conflict.isEmpty())
        return usage(conflict);
    return -1;
}

// The bit rate for a size asked for; refused where the compressor has none to set or the size
// cannot hold the sound. -1 when it may go on.
int ConversionJob::planSize(const media::RenderPlan& plan) {
    if (!options_.targetSizeMegabytes) return -1;
    const auto bytes =
        static_cast<std::int64_t>(std::llround(*options_.targetSizeMegabytes * media::kBytesPerMegabyte));
    media::SizeTarget target = media::PlanSizeTarget(
        plan, bytes, length_, {probe_.audioRate, probe_.audioChannels, probe_.audioBitsPerSecond});
    if (!target.ok()) return usage(QString::fromStdString(target.refusal));
    sizeTarget_ = std::move(target);
    return -1;
}

// A copy is refused before anything is written, and a start it cannot keep is named before it
// begins. -1 when it may go on, with what it copies and how long it is; otherwise the exit
// status after the line that says why.
int ConversionJob::inspectCopy(const media::RenderPlan& plan) {
    const media::StreamCopyInspection inspection = media::InspectStreamCopy(plan);
    if (!inspection.ok()) return fail(kExitFailed, QString::fromStdString(inspection.refusal));
    if (inspection.startKind == media::CopyStart::AtKeyFrameBefore)
        PrintMessage(QStringLiteral("framewell-convert: the %1 video has no key frame at %2; the "
                                    "copy starts at the key frame at %3\n")
                         .arg(QString::fromStdString(inspection.videoFormat),
                              clockOf(inspection.markedStart), clockOf(inspection.start)));
    copied_ = QString::fromStdString(media::CopiedStreamsText(inspection));
    if (!inspection.videoFormat.empty() && inspection.frameRate.numerator > 0) {
        copiedRate_ = inspection.frameRate;
        frameRate_ = static_cast<double>(inspection.frameRate.numerator) /
                     inspection.frameRate.denominator;
    }
    length_ = inspection.stop - inspection.start;
    return -1;
}

int ConversionJob::Prepare() {
    if (sameFile(input_, output_)) return usage(QStringLiteral("OUTPUT is the INPUT file"));
    if (const int stopped = stoppedBeforeConverting(); stopped >= 0) return stopped;
    if (const int refused = probeInput(); refused >= 0) return refused;
    const ReferenceTime startMark = options_.startMark.value_or(0);
    const ReferenceTime endMark =
        std::min(options_.endMark.value_or(probe_.duration), probe_.duration);
    if (startMark >= probe_.duration)
        return usage(QStringLiteral("--start lies past the end of INPUT (%1 s)")
                         .arg(static_cast<double>(probe_.duration) / kReferenceTimePerSecond));
    if (endMark <= startMark) return usage(QStringLiteral("--end must come after --start"));

    if (!outputMayBeWritten()) return exitCode_;

    const platform::SettingsStore dialogSettings(QString::fromLatin1(platform::kOrganisation),
                                                 QString::fromLatin1(kDialogProgram));
    OutputSettings settings = outputSettingsFor(options_, output_, probe_, video_, audio_);
    fitSizeToEncoder(settings, options_.quiet);
    media::TimelineModel timeline;
    if (const QString lost = buildTimeline(input_, probe_, startMark, endMark, settings,
                                           dialogSettings, timeline);
        !lost.isEmpty())
        return fail(kExitFailed, lost);
    if (const int stopped = stoppedBeforeConverting(); stopped >= 0) return stopped;

    width_ = settings.outputWidth;
    height_ = settings.outputHeight;
    frameRate_ = settings.outputFrameRate;
    frameRateOrigin_ = FrameRateOrigin(probe_, options_.frameRate.has_value());
    media::RenderPlan plan =
        ConversionPlan(std::move(timeline), CurrentOutputGraphSettings(settings, dialogSettings));
    length_ = endMark - startMark;
    // What the file holds ends the span; an end asked beyond it (a cut or damaged file whose
    // header still claims the whole) is said, not quietly moved.
    if (options_.endMark && *options_.endMark - probe_.duration >= ProbeFramePeriod(probe_))
        shortSource_ = QStringLiteral(
                           "The source ends at %1, before the end of the span at %2 (the file "
                           "is cut short or damaged there); the output ends there too.")
                           .arg(clockOf(probe_.duration), clockOf(*options_.endMark));
    if (const int refused = checkSourceChoices(plan); refused >= 0) return refused;
    if (const int refused = planSize(plan); refused >= 0) return refused;
    if (media::UsesStreamCopy(plan)) {
        if (const int refused = inspectCopy(plan); refused >= 0) return refused;
        if (const int stopped = stoppedBeforeConverting(); stopped >= 0) return stopped;
    }
    if (media::NeedsEditingServices(plan) && FAILED(media::StartEditingServices()))
        return fail(kExitFailed,
                    QStringLiteral("the media framework did not start: %1")
                        .arg(QString::fromStdString(media::LastErrorText())));
    plan_ = std::move(plan);
    return -1;
}

void ConversionJob::Start() {
    // One that came while the sources were looked at, before anyone could hear it.
    stopSignal_ = platform::FirstTerminationSignal();
    ticker_.start(250);
    // Said before the conversion runs; the render finds the decision made (it is kept).
    if (!options_.quiet && !options_.toFolder && !plan_->video.streamCopy) {
        const media::DeinterlaceDecision deinterlacing =
            media::DecideDeinterlacing(plan_->source.deinterlace, input_.toStdString());
        if (deinterlacing.deinterlace)
            PrintMessage(QStringLiteral("Deinterlacing: %1\n")
                             .arg(QString::fromStdString(deinterlacing.reason)));
    }
    conversionEngine = StartConversionRender(
        std::move(*plan_), this, WM_GRAPHNOTIFY,
        [this](const media::RenderSetupResult& result) { setUp(result); }, sizeTarget_);
    plan_.reset();
}

// The set-up's outcome, on the event loop.
void ConversionJob::setUp(const media::RenderSetupResult& result) {
    if (FAILED(result.status)) {
        finish(kExitFailed,
               QString::fromStdString(media::ErrorText(result.status, result.errorText, 0)));
        return;
    }
    // The graph runs: the clock of the estimate starts now, not while the sources were looked
    // at, and the length is what GES really placed.
    running_ = true;
    // The rate is named once the conversion really runs; a refusal stays one line.
    if (!options_.quiet && !options_.toFolder)
        PrintMessage(QStringLiteral("Frame rate: %1, %2\n")
                         .arg(FrameRateText(AskedRate()), frameRateOrigin_));
    if (!options_.quiet && sizeTarget_ && !options_.toFolder)
        PrintMessage(QStringLiteral("Target size: %1, %2 with %3, video at about %4 kbit/s\n")
                         .arg(megabytes(sizeTarget_->bytes),
                              sizeTarget_->twoPasses
                                  ? QStringLiteral("two passes")
                                  : QStringLiteral("one pass (the compressor has no two-pass "
                                                   "mode)"),
                              QString::fromStdString(sizeTarget_->encoderFactory),
                              QString::number(sizeTarget_->videoBitsPerSecond / 1000)));
    const ReferenceTime placed = conversionEngine ? conversionEngine->Duration() : 0;
    progress_ = ConversionProgress(placed > 0 ? placed : length_);
    clock_.start();
    // A signal during the set-up is acted on now: the file gets what was converted.
    if (stopSignal_ != 0) Stop(stopSignal_);
}

bool ConversionJob::event(QEvent* event) {
    if (event->type() != platform::WindowMessageEvent::eventType()) return QObject::event(event);
    long code = 0;
    QString text;
    while (conversionEngine && conversionEngine->GetEvent(&code, &text)) {
        if (code == media::EC_COMPLETE)
            completed(text);
        else if (code == media::EC_ERRORABORT)
            finish(kExitFailed, QStringLiteral("the conversion failed: ") + text);
    }
    return true;
}

void ConversionJob::Stop(int signalNumber) {
    if (stopSignal_ == 0) stopSignal_ = signalNumber;
    if (!running_ || stopping_ || !conversionEngine) return;
    stopping_ = true;
    progress_.Interrupt();
    if (progressLines_ && shown_ && inPlace_) PrintMessage(QStringLiteral("\n"));
    if (!options_.toFolder) PrintMessage(QStringLiteral("Stopping...\n"));
    conversionEngine->Stop();
}

void ConversionJob::SampleProgress() {
    if (!conversionEngine || !clock_.isValid() || !progress_.Running()) return;
    progress_.Sample(std::chrono::milliseconds(clock_.elapsed()), conversionEngine->Position());
}

void ConversionJob::tick() {
    SampleProgress();
    if (!progressLines_ || !conversionEngine || !clock_.isValid() || !progress_.Running()) return;
    if (inPlace_)
        show(QStringLiteral("\r"), QString());
    else if (++ticks_ % 4 == 0)
        show(QString(), QStringLiteral("\n"));
}

void ConversionJob::show(const QString& before, const QString& after) {
    const auto elapsedSeconds = static_cast<std::int32_t>(progress_.Elapsed().count() / 1000);
    PrintMessage(before +
                 ProgressConsoleLine(progress_.Percent(), progress_.FramesPerSecond(frameRate_),
                                     elapsedSeconds, progress_.RemainingSeconds()) +
                 after);
    shown_ = true;
}

// The file is finished and in place: say what it holds.
void ConversionJob::completed(const QString& note) {
    // A source that fell short of its span is converted as far as it goes, and said so even
    // when quiet.
    const QString said = shortSource_.isEmpty() ? note : shortSource_ + QLatin1Char('\n') + note;
    for (const QString& line : said.split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        PrintMessage(QStringLiteral("framewell-convert: warning: %1\n").arg(line));
    const std::optional<media::WrittenVideo> written = conversionEngine->WrittenVideo();
    const ReferenceTime end = conversionEngine->Position().value_or(0);
    const ReferenceTime length = conversionEngine->Duration();
    if (stopSignal_ != 0) {
        finish(ExitStopped(stopSignal_), QString(),
               QStringLiteral("framewell-convert: stopped by %1 at %2 of %3; %4 holds what "
                              "was converted up to there\n")
                   .arg(platform::SignalName(stopSignal_), clockOf(end), clockOf(length), output_));
        return;
    }
    if (!written) {
        finish(kExitFailed, QStringLiteral("the conversion failed: %1 holds no picture").arg(output_));
        return;
    }
    // Compressors that cannot take the asked size or rate are refused before anything is
    // written; should one still adapt it unasked, that is a failure, not "Done.".
    const media::Fraction askedRate = AskedRate();
    if (written->width != width_ || written->height != height_ ||
        !(written->frameRate == askedRate)) {
        finish(kExitFailed,
               QStringLiteral("%1 was written at %2*%3, %4 fps, not at the %5*%6, %7 fps asked "
                              "for")
                   .arg(output_, QString::number(written->width), QString::number(written->height),
                        QString::fromStdString(media::FormatFrameRate(written->frameRate)),
                        QString::number(width_), QString::number(height_),
                        QString::fromStdString(media::FormatFrameRate(askedRate))));
        return;
    }
    checkSize();
    QString summary;
    if (!options_.quiet)
        summary = QStringLiteral("Done. Output File: %1     Resolution: %2*%3%4\n")
                      .arg(output_, QString::number(written->width),
                           QString::number(written->height),
                           copied_.isEmpty()
                               ? QString()
                               : QStringLiteral("     ") +
                                     (written->copied.empty()
                                          ? copied_
                                          : QString::fromStdString(written->copied)));
    finish(kExitConverted, QString(), summary);
}

media::Fraction ConversionJob::AskedRate() const {
    return copiedRate_.value_or(media::FrameRateFraction(frameRate_));
}

void ConversionJob::checkSize() {
    if (!sizeTarget_) return;
    const std::int64_t written = QFileInfo(output_).size();
    const double off = static_cast<double>(written - sizeTarget_->bytes) / sizeTarget_->bytes;
    const QString line = QStringLiteral("%1 came out at %2 for a target of %3 (%4%5%)")
                             .arg(output_, megabytes(written), megabytes(sizeTarget_->bytes),
                                  off >= 0 ? QStringLiteral("+") : QString(),
                                  QString::number(off * 100, 'f', 1));
    if (std::fabs(off) > kSizeTolerance)
        PrintMessage(QStringLiteral("framewell-convert: warning: %1\n").arg(line));
    else if (!options_.quiet)
        PrintMessage(QStringLiteral("Size: %1\n").arg(line));
}

// Ends the job with exitCode (a stop's status once a signal came); failure is the one line
// that says why, report what follows it.
void ConversionJob::finish(int exitCode, const QString& failure, const QString& report) {
    if (finished_) return;
    finished_ = true;
    ticker_.stop();
    if (exitCode == kExitConverted) {
        // The last line's time and pace are those of the end.
        if (clock_.isValid())
            progress_.Sample(std::chrono::milliseconds(clock_.elapsed()), std::nullopt);
        progress_.Complete();
        if (progressLines_) show(inPlace_ ? QStringLiteral("\r") : QString(), QStringLiteral("\n"));
    } else {
        progress_.Interrupt();
        // The line being rewritten in place gets its end, so that what follows starts clean.
        if (progressLines_ && inPlace_ && shown_ && !stopping_) PrintMessage(QStringLiteral("\n"));
    }
    if (conversionEngine) {
        conversionEngine->SetNotifyWindow(nullptr, 0);
        conversionEngine->Stop();
    }
    conversionEngine.reset();
    running_ = false;
    exitCode_ = stopSignal_ != 0 ? ExitStopped(stopSignal_) : exitCode;
    if (!failure.isEmpty()) {
        reason_ = failure;
        PrintMessage(QStringLiteral("framewell-convert: %1\n").arg(failure));
    }
    PrintMessage(report);
    emit finished();
}
