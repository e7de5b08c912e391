#include "platform/shell.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QProcess>

namespace platform {
namespace {

class DesktopShell : public ShellLauncher {
public:
    bool openUrl(const QUrl& url) override { return QDesktopServices::openUrl(url); }
    bool runCommandLine(const QString& commandLine) override {
        QStringList arguments = QProcess::splitCommand(commandLine);
        if (arguments.isEmpty()) return false;
        const QString program = arguments.takeFirst();
        return QProcess::startDetached(program, arguments);
    }
};

ShellLauncher* installed = nullptr;

}  // namespace

ShellLauncher& CurrentShell() {
    static DesktopShell desktop;
    return installed ? *installed : desktop;
}

void InstallShell(ShellLauncher* shell) { installed = shell; }

QString BuildHelpCommandLine(const QString& programPath, PathStyle style) {
    return QStringLiteral("hh.exe ") + FolderOf(programPath, style) +
           QStringLiteral("help.chm::/Introduction.htm");
}

QString HtmlHelpPath(const QString& programPath) {
    const QDir folder = QFileInfo(programPath).absoluteDir();
    const QStringList candidates = {
        folder.filePath(QStringLiteral("help/Introduction.htm")),
        folder.filePath(QStringLiteral("../share/framewell/help/Introduction.htm")),
        folder.filePath(QStringLiteral("../help/Introduction.htm")),
    };
    for (const QString& candidate : candidates)
        if (QFileInfo::exists(candidate)) return QFileInfo(candidate).canonicalFilePath();
    return candidates.front();
}

void LaunchHelp() {
    const QString programPath = QCoreApplication::applicationFilePath();
#if defined(_WIN32)
    CurrentShell().runCommandLine(BuildHelpCommandLine(QDir::toNativeSeparators(programPath)));
#else
    CurrentShell().openUrl(QUrl::fromLocalFile(HtmlHelpPath(programPath)));
#endif
}

}  // namespace platform
