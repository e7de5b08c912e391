#include "platform/termination_signals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>

#include "media/render/output_file.h"

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace platform {
namespace {

constexpr int kHandled[] = {SIGINT, SIGTERM,
#if defined(SIGHUP)
                            SIGHUP
#endif
};

// Written by the handlers, so only lock-free atomics and plain descriptors.
std::atomic<int> firstSignal{0};
std::atomic<bool> seen[sizeof kHandled / sizeof kHandled[0]];
int socketEnds[2] = {-1, -1};  // [0] read on the event loop, [1] written by the handlers

#if !defined(_WIN32)
void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    for (std::size_t i = 0; i < sizeof kHandled / sizeof kHandled[0]; ++i) {
        if (kHandled[i] != signalNumber) continue;
        if (seen[i].exchange(true)) {
            // Asked twice: end now, as the signal does by default, leaving no hidden file.
            media::AbandonUnfinishedOutputsNow();
            ::signal(signalNumber, SIG_DFL);
            ::raise(signalNumber);  // delivered as soon as this handler returns
            break;
        }
        int none = 0;
        firstSignal.compare_exchange_strong(none, signalNumber);
        const unsigned char byte = static_cast<unsigned char>(signalNumber);
        [[maybe_unused]] const ssize_t written = ::write(socketEnds[1], &byte, 1);
        break;
    }
    errno = savedErrno;
}
#endif

}  // namespace

void InstallTerminationHandlers() {
#if !defined(_WIN32)
    if (socketEnds[0] >= 0) return;
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, socketEnds) != 0) return;
    for (int end : socketEnds) {
        ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
        ::fcntl(end, F_SETFD, FD_CLOEXEC);
    }
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kHandled) ::sigaction(signalNumber, &action, nullptr);
#endif
    // A port to Windows maps the console's control events (Ctrl+C, closing, logging off) here.
}

int FirstTerminationSignal() {
    return firstSignal.load();
}

QString SignalName(int signalNumber) {
    switch (signalNumber) {
        case SIGINT:
            return QStringLiteral("SIGINT");
        case SIGTERM:
            return QStringLiteral("SIGTERM");
#if defined(SIGHUP)
        case SIGHUP:
            return QStringLiteral("SIGHUP");
#endif
        default:
            return QStringLiteral("signal %1").arg(signalNumber);
    }
}

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (socketEnds[0] < 0) return;
    notifier_ = new QSocketNotifier(socketEnds[0], QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &TerminationSignals::readSignals);
}

TerminationSignals::~TerminationSignals() = default;

void TerminationSignals::readSignals() {
#if !defined(_WIN32)
    unsigned char bytes[16];
    ssize_t count = 0;
    while ((count = ::read(socketEnds[0], bytes, sizeof bytes)) > 0)
        for (ssize_t i = 0; i < count; ++i) emit received(bytes[i]);
#endif
}

}  // namespace platform
