#pragma once

// Several INPUTs converted into a FOLDER, --jobs at a time: each output is named after its
// input with ".avi"; an input that fails is named with its reason and the others go on;
// progress shows each file being converted and the whole; a summary line ends it. A signal
// stops every conversion that runs, each finishing its file, and starts no more.

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <memory>
#include <vector>

#include "cli/compressor_choice.h"
#include "cli/convert_options.h"

class ConversionJob;
namespace platform {
class TerminationSignals;
}

// The output of an input in the folder: its name with ".avi" for its extension.
QString OutputInFolder(const QString& input, const QString& folder);

class BatchConversion : public QObject {
    Q_OBJECT

public:
    BatchConversion(const ConvertOptions& options, const CompressorChoice& video,
                    const CompressorChoice& audio, platform::TerminationSignals& terminations);
    ~BatchConversion() override;

    // Converts them all; the exit status: 0 when every input was converted, 1 when any failed,
    // a signal's when one stopped them.
    int Run();

private:
    struct Entry {
        QString input;
        QString output;
        std::unique_ptr<ConversionJob> job;
        bool started = false;
        bool done = false;
        int exitCode = 0;
        QString reason;
    };

    void startMore();
    void jobFinished(Entry& entry);
    void stopAll(int signalNumber);
    void showProgress(bool last);
    int running() const;

    ConvertOptions options_;
    CompressorChoice video_;
    CompressorChoice audio_;
    std::vector<Entry> entries_;
    int stopSignal_ = 0;
    bool inPlace_ = false;
    bool shown_ = false;
    int ticks_ = 0;
    QElapsedTimer clock_;
    QTimer ticker_;
};
