#include "app/converter_app.h"

#include <QCoreApplication>

#include "app/converter_dialog.h"
#include "platform/settings_store.h"

namespace {
ConverterApp* instance = nullptr;
}

ConverterApp* theApp() {
    if (!instance) {
        // Code that runs without the program's own start-up (tests) still finds an object.
        static ConverterApp fallback;
        return &fallback;
    }
    return instance;
}

ConverterApp::ConverterApp() {
    if (!instance) instance = this;
}

ConverterApp::~ConverterApp() {
    if (instance == this) instance = nullptr;
}

bool ConverterApp::InitInstance() {
    // Every profile value lives under the maker's key and the program's base name.
    QCoreApplication::setOrganizationName(QString::fromLatin1(platform::kOrganisation));
    QCoreApplication::setApplicationName(platform::ProgramBaseName());
    ConverterDialog dialog;
    // As if chosen with Open Video once the dialog shows, so that its messages stand on it.
    if (!startFile.isEmpty())
        QMetaObject::invokeMethod(
            &dialog, [&dialog, file = startFile] { dialog.OpenVideoFile(file); },
            Qt::QueuedConnection);
    dialog.exec();
    return false;
}
