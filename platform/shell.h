#pragma once

// Opening addresses and documents with the desktop, and starting the help viewer.

#include <QString>
#include <QUrl>

#include "platform/paths.h"

namespace platform {

class ShellLauncher {
public:
    virtual ~ShellLauncher() = default;
    // Opens a web address or a document with its associated program.
    virtual bool openUrl(const QUrl& url) = 0;
    // Starts a program from a command line.
    virtual bool runCommandLine(const QString& commandLine) = 0;
};

ShellLauncher& CurrentShell();
// nullptr brings back the desktop's own launcher; the caller keeps ownership.
void InstallShell(ShellLauncher* shell);

// "hh.exe <program folder>help.chm::/Introduction.htm", the program folder taken up to and
// including its last separator (empty when the path has none), with no quotation marks.
QString BuildHelpCommandLine(const QString& programPath, PathStyle style = kNativePathStyle);

// The HTML help shipped beside the program, used where no compiled help viewer exists.
QString HtmlHelpPath(const QString& programPath);

// Starts the help: on Windows the help viewer with the command line above, elsewhere the
// HTML introduction beside the program (or in the installed share folder).
void LaunchHelp();

}  // namespace platform
