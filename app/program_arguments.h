#pragma once

// The command line of framewell:
//   framewell [--help | --version] [FILE]
// Qt's own options (-style NAME, -platform NAME, -reverse, ...) pass through to Qt. The command
// line is read before Qt starts, so that --help, --version and a wrong command line are
// answered without a display and without the media framework.

#include <QString>
#include <QStringList>

struct ProgramArguments {
    enum class Action { Run, Help, Version, Wrong };
    Action action = Action::Run;
    QString file;   // absolute; opened as Open Video opens a chosen file; empty for none
    QString error;  // why the command line is wrong
};

// arguments without the program name.
ProgramArguments ParseProgramArguments(const QStringList& arguments);

QString ProgramUsage();
