#include "app/program_arguments.h"

#include <QFileInfo>

namespace {

// The options that QApplication takes off the command line itself, with one dash or two. Those
// that take a value take the next word; -style and -stylesheet also take it after "=".
struct QtOption {
    const char* name;
    bool takesValue;
    bool takesEquals;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true, false},
    {"platformpluginpath", true, false},
    {"platformtheme", true, false},
    {"plugin", true, false},
    {"qwindowgeometry", true, false},
    {"qwindowicon", true, false},
    {"qwindowtitle", true, false},
    {"session", true, false},
    {"display", true, false},
    {"geometry", true, false},
    {"style", true, true},
    {"stylesheet", true, true},
    {"reverse", false, false},
    {"widgetcount", false, false},
};

const QtOption* qtOption(const QString& name) {
    for (const QtOption& option : kQtOptions)
        if (name == QLatin1String(option.name)) return &option;
    return nullptr;
}

}  // namespace

ProgramArguments ParseProgramArguments(const QStringList& arguments) {
    ProgramArguments parsed;
    QStringList files;
    auto wrong = [&parsed](const QString& error) {
        parsed.action = ProgramArguments::Action::Wrong;
        parsed.error = error;
        return parsed;
    };
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QLatin1String("--")) {
            files += arguments.mid(i + 1);
            break;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            files << argument;
            continue;
        }
        // The first of --help and --version wins, as the reader of the command line expects.
        if (argument == QLatin1String("--help") || argument == QLatin1String("--version")) {
            if (parsed.action == ProgramArguments::Action::Run)
                parsed.action = argument == QLatin1String("--help")
                                    ? ProgramArguments::Action::Help
                                    : ProgramArguments::Action::Version;
            continue;
        }
        const QString name = argument.mid(argument.startsWith(QLatin1String("--")) ? 2 : 1);
        const qsizetype equals = name.indexOf(QLatin1Char('='));
        const QtOption* option = qtOption(equals < 0 ? name : name.left(equals));
        if (!option || (equals >= 0 && !option->takesEquals))
            return wrong(QStringLiteral("unknown option ") + argument);
        if (option->takesValue && equals < 0 && ++i >= arguments.size())
            return wrong(argument + QStringLiteral(" needs a value"));
    }
    if (parsed.action != ProgramArguments::Action::Run) return parsed;
    if (files.size() > 1) return wrong(QStringLiteral("one FILE at a time"));
    if (!files.isEmpty()) {
        if (files.front().isEmpty()) return wrong(QStringLiteral("empty file name"));
        // The dialog remembers the file's folder: it must not depend on where this started.
        parsed.file = QFileInfo(files.front()).absoluteFilePath();
    }
    return parsed;
}

QString ProgramUsage() {
    return QStringLiteral(
        "usage: framewell [options] [FILE]\n"
        "Converts a span of a video into an AVI file. FILE, when given, is opened as Open\n"
        "Video opens a chosen file, with the same messages when it cannot be.\n"
        "\n"
        "  --help       show this help and exit\n"
        "  --version    show the version and exit\n"
        "\n"
        "Qt's own options (-style NAME, -platform NAME, -reverse, ...) are taken too.\n"
        "\n"
        "Exit status: 0 when the window was closed, 2 the command line is wrong, 130, 143 or\n"
        "129 ended by SIGINT, SIGTERM or SIGHUP.\n");
}
