#pragma once

// The two kinds of message box the program shows. Feature code never creates a QMessageBox
// itself; it calls these functions. The program installs the desktop's boxes
// (desktop_message_boxes.h), the command line a printer, tests a recorder.

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

// The boxes in use. Until some are installed, each box is printed to standard error and every
// question is answered No.
MessageBoxes& CurrentMessageBoxes();
// Installs an implementation (the desktop's boxes, a recorder, the command line's printer);
// nullptr brings back the printer. The caller keeps ownership.
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
