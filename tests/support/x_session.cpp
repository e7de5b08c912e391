#include "support/x_session.h"

#include <QByteArray>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>

extern char** environ;

namespace testing_support {
namespace {

pid_t Spawn(const QStringList& command, int displayFd = -1) {
    QList<QByteArray> storage;
    for (const QString& part : command) storage << part.toLocal8Bit();
    std::vector<char*> argv;
    for (QByteArray& part : storage) argv.push_back(part.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // Their chatter would bury the test's own output.
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    if (displayFd >= 0) posix_spawn_file_actions_adddup2(&actions, displayFd, 3);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

void End(pid_t& pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    waitpid(pid, nullptr, 0);
    pid = -1;
}

// Reads what a program prints, before any QCoreApplication exists.
QByteArray Read(const char* command) {
    QByteArray output;
    if (FILE* pipe = popen(command, "r")) {
        char buffer[512];
        while (std::fgets(buffer, sizeof buffer, pipe)) output += buffer;
        pclose(pipe);
    }
    return output;
}

QString Xprop(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xprop"), arguments);
    if (!process.waitForFinished(10000)) return {};
    return QString::fromLocal8Bit(process.readAllStandardOutput());
}

QList<WId> Ids(const QString& text) {
    QList<WId> ids;
    static const QRegularExpression hex(QStringLiteral("0x[0-9a-fA-F]+"));
    for (auto match = hex.globalMatch(text); match.hasNext();)
        ids << match.next().captured().toULongLong(nullptr, 16);
    return ids;
}

}  // namespace

XSession::XSession(QSize screen) {
    QStringList missing;
    for (const char* tool : {"Xvfb", "openbox", "xdotool", "xprop"})
        if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
            missing << QString::fromLatin1(tool);
    if (!missing.isEmpty()) {
        missing_ = missing.join(QStringLiteral(", "));
        return;
    }

    // Xvfb picks a free display number itself and writes it to descriptor 3.
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0) {
        problem_ = QStringLiteral("no pipe for Xvfb");
        return;
    }
    xvfb_ = Spawn({QStringLiteral("Xvfb"), QStringLiteral("-displayfd"), QStringLiteral("3"),
                   QStringLiteral("-screen"), QStringLiteral("0"),
                   QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()),
                   QStringLiteral("-nolisten"), QStringLiteral("tcp")},
                  pipeEnds[1]);
    close(pipeEnds[1]);
    QByteArray number;
    pollfd waiting{pipeEnds[0], POLLIN, 0};
    while (xvfb_ > 0 && !number.contains('\n') && poll(&waiting, 1, 10000) > 0) {
        char buffer[16];
        const ssize_t got = read(pipeEnds[0], buffer, sizeof buffer);
        if (got <= 0) break;
        number.append(buffer, got);
    }
    close(pipeEnds[0]);
    if (!number.contains('\n')) {
        problem_ = QStringLiteral("Xvfb did not start");
        return;
    }
    const QByteArray display = ':' + number.trimmed();
    setenv("DISPLAY", display.constData(), 1);

    openbox_ = Spawn({QStringLiteral("openbox")});
    // Qt reads what the window manager supports when it connects: wait for openbox first.
    bool managed = false;
    for (int i = 0; i < 100 && openbox_ > 0 && !managed; ++i) {
        managed = Read("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null").contains("window id");
        if (!managed) QThread::msleep(50);
    }
    if (!managed) {
        problem_ =
            QStringLiteral("openbox did not take the display %1").arg(QString::fromLatin1(display));
        return;
    }
    setenv("QT_QPA_PLATFORM", "xcb", 1);
}

XSession::~XSession() {
    End(openbox_);
    End(xvfb_);
}

QList<WId> StackingOrder() {
    return Ids(Xprop({QStringLiteral("-root"), QStringLiteral("_NET_CLIENT_LIST_STACKING")})
                   .section(QLatin1Char('#'), 1));
}

WId ActiveWindow() {
    const QList<WId> ids =
        Ids(Xprop({QStringLiteral("-root"), QStringLiteral("_NET_ACTIVE_WINDOW")})
                .section(QLatin1Char('#'), 1));
    return ids.isEmpty() ? 0 : ids.front();
}

QStringList WindowStates(WId window) {
    const QString text =
        Xprop({QStringLiteral("-id"), QString::number(window), QStringLiteral("_NET_WM_STATE")})
            .section(QLatin1Char('='), 1);
    QStringList states;
    for (QString state : text.split(QLatin1Char(','), Qt::SkipEmptyParts))
        states << state.trimmed().remove(QStringLiteral("_NET_WM_STATE_"));
    return states;
}

WId TransientFor(WId window) {
    const QList<WId> ids = Ids(
        Xprop({QStringLiteral("-id"), QString::number(window), QStringLiteral("WM_TRANSIENT_FOR")})
            .section(QLatin1Char('#'), 1));
    return ids.isEmpty() ? 0 : ids.front();
}

bool XdoTool(const QStringList& arguments) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

QSize TestScreenSize() {
    const QString wanted = qEnvironmentVariable("FRAMEWELL_TEST_SCREEN");
    const QStringList parts = wanted.split(QLatin1Char('x'));
    if (parts.size() == 2 && parts[0].toInt() > 0 && parts[1].toInt() > 0)
        return QSize(parts[0].toInt(), parts[1].toInt());
    return QSize(1600, 1000);
}

}  // namespace testing_support
