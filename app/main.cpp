#include <QApplication>

#include "app/converter_app.h"
#include "platform/event_loop.h"

int main(int argc, char* argv[]) {
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    ConverterApp converterApp;
    converterApp.InitInstance();
    return 0;
}
