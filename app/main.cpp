#include <QApplication>

#include <cstdio>

#include "app/converter_app.h"
#include "app/program_arguments.h"
#include "platform/desktop_message_boxes.h"
#include "platform/event_loop.h"
#include "platform/program_version.h"
#include "platform/termination_signals.h"

namespace {

constexpr int kExitWrongCommandLine = 2;

}  // namespace

int main(int argc, char* argv[]) {
    platform::InstallTerminationHandlers();
    // Answered before Qt starts, which needs a display, and before the media framework.
    QStringList words;
    for (int i = 1; i < argc; ++i) words << QString::fromLocal8Bit(argv[i]);
    const ProgramArguments arguments = ParseProgramArguments(words);
    switch (arguments.action) {
        case ProgramArguments::Action::Help:
            std::fputs(ProgramUsage().toLocal8Bit().constData(), stdout);
            return 0;
        case ProgramArguments::Action::Version:
            std::printf("framewell %s\n", platform::ProgramVersion());
            return 0;
        case ProgramArguments::Action::Wrong:
            std::fprintf(stderr, "framewell: %s\nTry framewell --help.\n",
                         arguments.error.toLocal8Bit().constData());
            return kExitWrongCommandLine;
        case ProgramArguments::Action::Run:
            break;
    }

    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    platform::InstallMessageBoxes(&platform::DesktopMessageBoxes());
    ConverterApp converterApp;
    converterApp.startFile = arguments.file;
    converterApp.InitInstance();
    // Ended by a signal: the shell's convention for a program that a signal stopped.
    const int signalNumber = platform::FirstTerminationSignal();
    return signalNumber != 0 ? 128 + signalNumber : 0;
}
