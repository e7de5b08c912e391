#include <QApplication>

#include "app/converter_app.h"

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    ConverterApp converterApp;
    converterApp.InitInstance();
    return 0;
}
