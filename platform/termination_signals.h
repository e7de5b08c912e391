#pragma once

// SIGINT, SIGTERM and SIGHUP as events of the event loop. A signal may arrive at any moment,
// also while start-up work blocks the event loop, so its handler only remembers it and writes
// its number into a socket pair; a socket notifier hands it to the loop, and start-up code can
// ask whether one came. A second signal of the same kind ends the program at once, as that
// signal would without a handler, after deleting the hidden files of unfinished outputs.

#include <QObject>

class QSocketNotifier;

namespace platform {

// Installs the handlers. Call first thing in main(), before anything slow, so that no signal
// is lost; once per process.
void InstallTerminationHandlers();

// The first of these signals received since the handlers were installed; 0 when none.
// Readable from any thread and before an event loop runs.
int FirstTerminationSignal();

// "SIGINT", "SIGTERM", "SIGHUP".
QString SignalName(int signalNumber);

// Delivers the signals on the thread that made it, those that came before it included. One
// instance at a time: each signal is delivered once. Without installed handlers it delivers
// nothing.
class TerminationSignals : public QObject {
    Q_OBJECT

public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

signals:
    void received(int signalNumber);

private:
    void readSignals();

    QSocketNotifier* notifier_ = nullptr;
};

}  // namespace platform
