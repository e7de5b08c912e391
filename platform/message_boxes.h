#pragma once

// The two kinds of message box the program shows. Feature code never creates a QMessageBox
// itself; it calls these functions, and tests install a recorder in place of the real boxes.

#include <QString>

class QWidget;

namespace platform {

enum class BoxButtons { Ok, YesNo };
enum class BoxIcon { None, Exclamation, Error, Information };
enum class BoxAnswer { Ok, Yes, No };

struct BoxRequest {
    QWidget* owner = nullptr;
    QString text;
    QString caption;
    BoxButtons buttons = BoxButtons::Ok;
    BoxIcon icon = BoxIcon::None;
};

class MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    virtual BoxAnswer show(const BoxRequest& request) = 0;
};

// The window a box is to stand above: the program's window on top now, which may not be the
// window that asks (the video window in full screen, or the main dialog once a click in the
// video window has made it stay on top). In this order: the active window, unless another
// window stays above it; then a window that stays on top, the modal one or the preferred one
// first; then the modal window, the preferred one's window, any window shown. Hidden and
// minimised windows never own a box, which would be out of sight with them. nullptr when the
// program shows no window.
QWidget* TopWindow(QWidget* preferred);

// The boxes in use; by default real modal message boxes, each owned by TopWindow(owner) and
// staying on top where that window does.
MessageBoxes& CurrentMessageBoxes();
// Installs another implementation (a recorder, or the command line's printer); nullptr
// brings back the real boxes. The caller keeps ownership.
void InstallMessageBoxes(MessageBoxes* boxes);

// A box of the caller's own: explicit caption, buttons and icon.
BoxAnswer ShowMessage(QWidget* owner, const QString& text, const QString& caption,
                      BoxButtons buttons = BoxButtons::Ok, BoxIcon icon = BoxIcon::None);

// A box of the application framework: the application's name as caption, an OK button and
// the exclamation icon.
void ShowFrameworkMessage(const QString& text);

// Prints each box to standard error instead of showing it; answers Yes to questions unless
// told otherwise. For the command-line tools.
class StderrMessageBoxes : public MessageBoxes {
public:
    explicit StderrMessageBoxes(BoxAnswer questionAnswer = BoxAnswer::Yes)
        : questionAnswer_(questionAnswer) {}
    BoxAnswer show(const BoxRequest& request) override;

private:
    BoxAnswer questionAnswer_;
};

}  // namespace platform
