#pragma once

// One conversion of framewell-convert: INPUT opened as Open Video opens it, the same timeline
// built and rendered through the same engine into OUTPUT. Every failure is one line on standard
// error that gives the real reason and names the file or folder; the exit status says what
// became of OUTPUT. Several of them run side by side for several inputs.
//
// Runs on the thread of the program's event loop.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

#include "cli/compressor_choice.h"
#include "cli/convert_options.h"
#include "engine/conversion_progress.h"
#include "media/render/size_target.h"
#include "media/session/render_session.h"
#include "media/source/media_probe.h"

class ConversionEngine;

inline constexpr int kExitConverted = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
// A conversion ended by a signal exits as the shell reports a program that the signal ended:
// 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP.
inline int ExitStopped(int signalNumber) {
    return 128 + signalNumber;
}

// The line for a wrong command line, with the hint; the usage exit status.
int UsageError(const QString& error);

class ConversionJob : public QObject {
    Q_OBJECT

public:
    // progressLines: the job shows its own progress (one conversion); otherwise whoever runs
    // several shows theirs.
    ConversionJob(const ConvertOptions& options, const CompressorChoice& video,
                  const CompressorChoice& audio, QString input, QString output,
                  bool progressLines);
    ~ConversionJob() override;

    // Looks at INPUT and builds what is rendered; blocks. -1 when the job may start, otherwise
    // its exit status, the reason printed.
    int Prepare();
    // Renders; finished follows.
    void Start();
    // Stops as the dialog's Stop does: the file gets what was converted, finished.
    void Stop(int signalNumber);

    const QString& Input() const { return input_; }
    const QString& Output() const { return output_; }
    // Once finished: the exit status, and the reason of a failure in one line.
    int ExitCode() const { return exitCode_; }
    const QString& Reason() const { return reason_; }
    bool Running() const { return running_; }
    // Takes a reading of the render's position.
    void SampleProgress();
    const ConversionProgress& Progress() const { return progress_; }
    double OutputFrameRate() const { return frameRate_; }

signals:
    void finished();

private:
    int fail(int exitCode, const QString& line);
    int usage(const QString& error);
    int stoppedBeforeConverting();
    int probeInput();
    bool outputMayBeWritten();
    int checkSourceChoices(media::RenderPlan& plan);
    int planSize(const media::RenderPlan& plan);
    int inspectCopy(const media::RenderPlan& plan);

    void setUp(const media::RenderSetupResult& result);
    bool event(QEvent* event) override;
    void tick();
    void show(const QString& before, const QString& after);
    void completed(const QString& note);
    // A size aimed at and missed by more than the tolerance is said, even when quiet.
    void checkSize();
    // The rate the file is to have: a copy keeps its pictures' own, an exact fraction.
    media::Fraction AskedRate() const;
    void finish(int exitCode, const QString& failure, const QString& report = QString());

    ConvertOptions options_;
    CompressorChoice video_;
    CompressorChoice audio_;
    QString input_;
    QString output_;
    bool progressLines_;
    bool inPlace_;

    media::ProbeResult probe_;
    std::optional<media::RenderPlan> plan_;
    std::optional<media::SizeTarget> sizeTarget_;
    ReferenceTime length_ = 0;
    int width_ = 0;
    int height_ = 0;
    double frameRate_ = 0.0;
    QString frameRateOrigin_;
    QString copied_;  // what a direct stream copy writes as it is; empty otherwise
    // A copy of the pictures keeps their own rate (2997/125 stays so).
    std::optional<media::Fraction> copiedRate_;
    // Said with the warnings of the end: the source ends before the span asked of it.
    QString shortSource_;

    ConversionProgress progress_;
    int stopSignal_ = 0;
    bool running_ = false;
    bool stopping_ = false;
    bool shown_ = false;
    bool finished_ = false;
    int ticks_ = 0;
    int exitCode_ = kExitFailed;
    QString reason_;
    QElapsedTimer clock_;
    QTimer ticker_;
    std::unique_ptr<ConversionEngine> conversionEngine;
};
