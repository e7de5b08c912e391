#include <QApplication>

#include "app/converter_app.h"
#include "platform/desktop_message_boxes.h"
#include "platform/event_loop.h"
#include "platform/termination_signals.h"

int main(int argc, char* argv[]) {
    platform::InstallTerminationHandlers();
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    platform::InstallMessageBoxes(&platform::DesktopMessageBoxes());
    ConverterApp converterApp;
    converterApp.InitInstance();
    // Ended by a signal: the shell's convention for a program that a signal stopped.
    const int signalNumber = platform::FirstTerminationSignal();
    return signalNumber != 0 ? 128 + signalNumber : 0;
}
