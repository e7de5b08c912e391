#include "platform/message_boxes.h"

#include <QMessageBox>

#include <cstdio>

#include "platform/settings_store.h"

namespace platform {
namespace {

class QtMessageBoxes : public MessageBoxes {
public:
    BoxAnswer show(const BoxRequest& request) override {
        QMessageBox box(request.owner);
        box.setWindowTitle(request.caption);
        box.setText(request.text);
        switch (request.icon) {
            case BoxIcon::None: box.setIcon(QMessageBox::NoIcon); break;
            case BoxIcon::Exclamation: box.setIcon(QMessageBox::Warning); break;
            case BoxIcon::Error: box.setIcon(QMessageBox::Critical); break;
            case BoxIcon::Information: box.setIcon(QMessageBox::Information); break;
        }
        if (request.buttons == BoxButtons::YesNo) {
            box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box.setDefaultButton(QMessageBox::Yes);
        } else {
            box.setStandardButtons(QMessageBox::Ok);
        }
        const int result = box.exec();
        if (request.buttons == BoxButtons::YesNo)
            return result == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
        return BoxAnswer::Ok;
    }
};

QtMessageBoxes& realBoxes() {
    static QtMessageBoxes boxes;
    return boxes;
}

MessageBoxes* installed = nullptr;

}  // namespace

MessageBoxes& CurrentMessageBoxes() { return installed ? *installed : realBoxes(); }

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
