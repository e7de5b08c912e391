// The About box, from the About button and from the window menu.

#include "app/converter_dialog.h"
#include "controls/about_dialog.h"
#include "platform/system_menu.h"

namespace {
// The window menu item's text; empty would leave the menu as it is.
constexpr const char* kAboutMenuText = "&About Framewell";
}  // namespace

void ConverterDialog::OnAbout() {
    AboutDialog about(this);
    about.exec();
}

void ConverterDialog::AddAboutToSystemMenu() {
    // Elsewhere than on Windows there is no window menu, and the About button is the way in.
    platform::AppendSystemMenuItem(this, IDM_ABOUTBOX, QString::fromLatin1(kAboutMenuText));
}

bool ConverterDialog::nativeEvent(const QByteArray& eventType, void* message, qintptr* result) {
    if (platform::SystemMenuCommand(eventType, message) == IDM_ABOUTBOX) {
        OnAbout();
        if (result) *result = 0;
        return true;
    }
    return QDialog::nativeEvent(eventType, message, result);
}
