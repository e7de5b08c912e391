// framewell-convert: the conversion engine without the dialog, for batch use and benchmarks.
// One INPUT is converted into OUTPUT (conversion_job), several into a FOLDER
// (batch_conversion); --list-tracks and --list-compressors say what there is to choose from.

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>

#include "cli/batch_conversion.h"
#include "cli/compressor_choice.h"
#include "cli/console_message.h"
#include "cli/conversion_job.h"
#include "cli/convert_options.h"
#include "media/core/media_framework.h"
#include "media/source/media_probe.h"
#include "platform/event_loop.h"
#include "platform/file_checks.h"
#include "platform/message_boxes.h"
#include "platform/program_version.h"
#include "platform/termination_signals.h"

namespace {

// INPUT's tracks on the standard output, one a line; the exit status.
int listTracks(const ConvertOptions& options) {
    if (const QString problem = platform::InputFileProblem(options.input); !problem.isEmpty()) {
        PrintMessage(QStringLiteral("framewell-convert: %1: %2\n").arg(options.input, problem));
        return kExitFailed;
    }
    const media::ProbeResult probe = media::ProbeMediaFile(options.input.toStdString());
    if (probe.status != S_OK) {
        PrintMessage(QStringLiteral("framewell-convert: %1: %2\n")
                         .arg(options.input, QString::fromStdString(probe.errorText)));
        return kExitFailed;
    }
    for (const media::SourceTrack& track : probe.tracks)
        std::printf("%s\n", media::DescribeTrack(track).c_str());
    std::fflush(stdout);
    return kExitConverted;
}

// One INPUT into OUTPUT, stopped by a termination signal as the dialog's Stop stops it.
int convertOne(const ConvertOptions& options, const CompressorChoice& video,
               const CompressorChoice& audio, platform::TerminationSignals& terminations) {
    ConversionJob job(options, video, audio, options.input, options.output, true);
    if (const int refused = job.Prepare(); refused >= 0) return refused;
    QObject::connect(&terminations, &platform::TerminationSignals::received, &job,
                     [&job](int signalNumber) { job.Stop(signalNumber); });
    QObject::connect(&job, &ConversionJob::finished, &job,
                     [&job] { QCoreApplication::exit(job.ExitCode()); }, Qt::QueuedConnection);
    job.Start();
    return QCoreApplication::exec();
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
    // that needs them.
    if (FAILED(media::StartMediaFramework(false))) {
        PrintMessage(QStringLiteral("framewell-convert: the media framework did not start: %1\n")
                         .arg(QString::fromStdString(media::LastErrorText())));
        return kExitFailed;
    }
    if (options.listCompressors || options.listTracks) {
        const int listed = options.listTracks ? listTracks(options) : (ListCompressors(), 0);
        // A listing cannot be cut short; a signal during it still says it came.
        const int signalNumber = platform::FirstTerminationSignal();
        return signalNumber != 0 ? ExitStopped(signalNumber) : listed;
    }
    // Signals are heard from here on; until a conversion runs, the steps ask after them between
    // their blocking parts.
    platform::TerminationSignals terminations;
    if (const int signalNumber = platform::FirstTerminationSignal(); signalNumber != 0) {
        // An earlier OUTPUT is named: the user may fear for it.
        const bool earlier = !options.toFolder && QFileInfo::exists(options.output);
        PrintMessage(QStringLiteral("framewell-convert: stopped by %1 before the conversion "
                                    "began; %2\n")
                         .arg(platform::SignalName(signalNumber),
                              earlier ? options.output + QStringLiteral(" is as it was")
                                      : QStringLiteral("nothing was written")));
        return ExitStopped(signalNumber);
    }
    const CompressorChoice video =
        ChooseCompressor(media::EncoderKind::Video, options.videoCompressor);
    if (!video.ok)
        return UsageError(QStringLiteral("no video compressor \"%1\"; see --list-compressors")
                              .arg(options.videoCompressor));
    const CompressorChoice audio =
        ChooseCompressor(media::EncoderKind::Audio, options.audioCompressor);
    if (!audio.ok)
        return UsageError(QStringLiteral("no audio compressor \"%1\"; see --list-compressors")
                              .arg(options.audioCompressor));
    if (options.toFolder) {
        BatchConversion batch(options, video, audio, terminations);
        return batch.Run();
    }
    return convertOne(options, video, audio, terminations);
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
    const int exitCode = parsed.ok() ? run(parsed.options) : UsageError(parsed.error);
    platform::InstallMessageBoxes(nullptr);
    return exitCode;
}
