#include "platform/message_boxes.h"

#include <cstdio>

#include "platform/settings_store.h"

namespace platform {
namespace {

// Without boxes of its own a program asks nobody: questions are answered No, so that nothing
// is replaced or deleted unasked.
StderrMessageBoxes& fallbackBoxes() {
    static StderrMessageBoxes boxes(BoxAnswer::No);
    return boxes;
}

MessageBoxes* installed = nullptr;

}  // namespace

MessageBoxes& CurrentMessageBoxes() {
    return installed ? *installed : fallbackBoxes();
}

void InstallMessageBoxes(MessageBoxes* boxes) { installed = boxes; }

BoxAnswer ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                      BoxButtons buttons, BoxIcon icon) {
    return CurrentMessageBoxes().show({owner, text, caption, buttons, icon});
}

void ShowFrameworkMessage(const QString& text) {
    CurrentMessageBoxes().show(
        {nullptr, text, ProgramBaseName(), BoxButtons::Ok, BoxIcon::Exclamation});
}

BoxAnswer StderrMessageBoxes::show(const BoxRequest& request) {
    const QByteArray text = request.text.toUtf8();
    const QByteArray caption = request.caption.toUtf8();
    std::fprintf(stderr, "%s: %s\n", caption.constData(), text.constData());
    std::fflush(stderr);
    if (request.buttons == BoxButtons::YesNo) return questionAnswer_;
    return BoxAnswer::Ok;
}

}  // namespace platform
