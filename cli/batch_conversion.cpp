#include "cli/batch_conversion.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

#include "cli/console_message.h"
#include "cli/conversion_job.h"
#include "platform/termination_signals.h"

namespace {

constexpr int kTickMs = 250;
constexpr int kTicksPerLoggedLine = 1000 / kTickMs;

QString clockText(std::int64_t milliseconds) {
    const std::int64_t seconds = milliseconds / 1000;
    return QString::asprintf("%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                             static_cast<long long>(seconds / 60 % 60),
                             static_cast<long long>(seconds % 60));
}

}  // namespace

QString OutputInFolder(const QString& input, const QString& folder) {
    return QDir(folder).filePath(QFileInfo(input).completeBaseName() + QStringLiteral(".avi"));
}

BatchConversion::BatchConversion(const ConvertOptions& options, const CompressorChoice& video,
                                 const CompressorChoice& audio,
                                 platform::TerminationSignals& terminations)
    : options_(options), video_(video), audio_(audio) {
#if defined(_WIN32)
    inPlace_ = _isatty(_fileno(stderr)) != 0;
#else
    inPlace_ = isatty(fileno(stderr)) != 0;
#endif
    connect(&terminations, &platform::TerminationSignals::received, this,
            [this](int signalNumber) { stopAll(signalNumber); });
    connect(&ticker_, &QTimer::timeout, this, [this] {
        for (Entry& entry : entries_)
            if (entry.job) entry.job->SampleProgress();
        if (options_.quiet) return;
        if (inPlace_ || ++ticks_ % kTicksPerLoggedLine == 0) showProgress(false);
    });
    for (const QString& input : options.inputs) {
        Entry entry;
        entry.input = input;
        entry.output = OutputInFolder(input, options.output);
        entries_.push_back(std::move(entry));
    }
}

BatchConversion::~BatchConversion() = default;

int BatchConversion::running() const {
    int count = 0;
    for (const Entry& entry : entries_) count += entry.started && !entry.done;
    return count;
}

int BatchConversion::Run() {
    if (!QFileInfo(options_.output).isDir()) {
        PrintMessage(QStringLiteral("framewell-convert: %1 is not a folder; several INPUTs go "
                                    "into a FOLDER\n")
                         .arg(options_.output));
        PrintMessage(QStringLiteral("Try framewell-convert --help.\n"));
        return kExitUsage;
    }
    // Two inputs named alike would write one file: the second is refused, not mixed in.
    QSet<QString> outputs;
    for (Entry& entry : entries_) {
        const QString key = QFileInfo(entry.output).absoluteFilePath();
        if (!outputs.contains(key)) {
            outputs.insert(key);
            continue;
        }
        entry.done = true;
        entry.exitCode = kExitFailed;
        entry.reason = QStringLiteral("%1 would be written by an earlier INPUT too").arg(entry.output);
        PrintMessage(QStringLiteral("framewell-convert: %1: %2\n").arg(entry.input, entry.reason));
    }
    clock_.start();
    ticker_.start(kTickMs);
    startMore();
    if (running() > 0) QCoreApplication::exec();
    ticker_.stop();
    showProgress(true);

    int converted = 0;
    QStringList failed;
    QStringList stopped;
    for (const Entry& entry : entries_) {
        const QString name = QFileInfo(entry.input).fileName();
        if (entry.started && entry.exitCode == kExitConverted)
            ++converted;
        else if (entry.done && entry.exitCode > kExitUsage)
            stopped << name;
        else if (entry.done)
            failed << name;
    }
    const int total = static_cast<int>(entries_.size());
    QString summary = QStringLiteral("framewell-convert: %1 of %2 converted into %3")
                          .arg(converted)
                          .arg(total)
                          .arg(options_.output);
    if (!failed.isEmpty())
        summary += QStringLiteral("; failed: %1").arg(failed.join(QStringLiteral(", ")));
    if (!stopped.isEmpty())
        summary += QStringLiteral("; stopped: %1").arg(stopped.join(QStringLiteral(", ")));
    const int notStarted =
        total - converted - static_cast<int>(failed.size() + stopped.size());
    if (notStarted > 0) summary += QStringLiteral("; %1 not started").arg(notStarted);
    PrintMessage(summary + QStringLiteral(" (%1)\n").arg(clockText(clock_.elapsed())));
    if (stopSignal_ != 0) return ExitStopped(stopSignal_);
    return converted == total ? kExitConverted : kExitFailed;
}

void BatchConversion::startMore() {
    for (Entry& entry : entries_) {
        if (stopSignal_ != 0 || platform::FirstTerminationSignal() != 0) break;
        if (running() >= options_.jobs) break;
        if (entry.started || entry.done) continue;
        entry.started = true;
        entry.job = std::make_unique<ConversionJob>(options_, video_, audio_, entry.input,
                                                    entry.output, false);
        if (!options_.quiet)
            PrintMessage(QStringLiteral("%1Converting %2 into %3\n")
                             .arg(shown_ && inPlace_ ? QStringLiteral("\n") : QString(),
                                  entry.input, entry.output));
        shown_ = false;
        if (entry.job->Prepare() >= 0) {
            entry.done = true;
            entry.exitCode = entry.job->ExitCode();
            entry.reason = entry.job->Reason();
            entry.job.reset();
            continue;
        }
        connect(entry.job.get(), &ConversionJob::finished, this,
                [this, &entry] { jobFinished(entry); }, Qt::QueuedConnection);
        entry.job->Start();
    }
    if (running() == 0) QCoreApplication::exit(0);
}

void BatchConversion::jobFinished(Entry& entry) {
    if (entry.done) return;
    entry.done = true;
    entry.exitCode = entry.job->ExitCode();
    entry.reason = entry.job->Reason();
    entry.job.reset();
    shown_ = false;
    startMore();
}

void BatchConversion::stopAll(int signalNumber) {
    if (stopSignal_ == 0) stopSignal_ = signalNumber;
    if (!options_.quiet)
        PrintMessage(QStringLiteral("%1Stopping...\n")
                         .arg(shown_ && inPlace_ ? QStringLiteral("\n") : QString()));
    shown_ = false;
    for (Entry& entry : entries_)
        if (entry.job) entry.job->Stop(signalNumber);
}

// "[2 of 4 done] a.mkv 45%  b.mkv 12%  all 38%  Used Time: 00:00:12"
void BatchConversion::showProgress(bool last) {
    if (options_.quiet || (last && !shown_)) return;
    double whole = 0.0;
    int done = 0;
    QString files;
    for (const Entry& entry : entries_) {
        if (entry.done) {
            ++done;
            whole += 1.0;
        } else if (entry.job && entry.job->Running()) {
            whole += entry.job->Progress().Share();
            files += QStringLiteral("  %1 %2%").arg(QFileInfo(entry.input).fileName())
                         .arg(entry.job->Progress().Percent());
        }
    }
    const auto total = static_cast<double>(entries_.size());
    const QString line = QStringLiteral("[%1 of %2 done]%3  all %4%  Used Time: %5")
                             .arg(done)
                             .arg(entries_.size())
                             .arg(files)
                             .arg(static_cast<int>(whole / total * 100))
                             .arg(clockText(clock_.elapsed()));
    if (inPlace_ && !last)
        PrintMessage(QStringLiteral("\r") + line + QStringLiteral("\033[K"));
    else if (!inPlace_ && !last)
        PrintMessage(line + QLatin1Char('\n'));
    else if (inPlace_)
        PrintMessage(QStringLiteral("\n"));
    shown_ = !last;
}
