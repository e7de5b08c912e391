#include "platform/desktop_message_boxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>

namespace platform {
namespace {

// A window the user can see now: shown, not minimised, and a window of its own rather than a
// menu or a tooltip.
bool OnScreen(const QWidget* widget) {
    if (!widget || !widget->isVisible() || widget->isMinimized()) return false;
    const Qt::WindowType type = widget->windowType();
    return type == Qt::Window || type == Qt::Dialog;
}

// Whether a window stays above the others, itself or through the window it belongs to (a
// dialog of a window that stays on top stands above it, in the same layer).
bool StaysOnTop(const QWidget* window) {
    for (const QWidget* w = window; w;
         w = w->parentWidget() ? w->parentWidget()->window() : nullptr)
        if (w->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) return true;
    return false;
}

class QtMessageBoxes : public MessageBoxes {
public:
    BoxAnswer show(const BoxRequest& request) override {
        // Owned by the window on top now, whichever window asked: a box under a window that
        // stays on top would take the input unseen and leave the program looking frozen.
        QWidget* owner = TopWindow(request.owner);
        // On the heap: should its owner go while it is open, the box goes with it and exec()
        // returns, rather than a box on the stack being deleted twice.
        const QPointer<QMessageBox> box = new QMessageBox(owner);
        if (owner && StaysOnTop(owner)) box->setWindowFlag(Qt::WindowStaysOnTopHint, true);
        // Brought to the front and given the keys once shown, also where the window manager
        // would leave a new window behind the active one.
        QTimer::singleShot(0, box, [box] {
            box->raise();
            box->activateWindow();
        });
        box->setWindowTitle(request.caption);
        box->setText(request.text);
        switch (request.icon) {
            case BoxIcon::None:
                box->setIcon(QMessageBox::NoIcon);
                break;
            case BoxIcon::Exclamation:
                box->setIcon(QMessageBox::Warning);
                break;
            case BoxIcon::Error:
                box->setIcon(QMessageBox::Critical);
                break;
            case BoxIcon::Information:
                box->setIcon(QMessageBox::Information);
                break;
        }
        if (request.buttons == BoxButtons::YesNo) {
            box->setStandardButtons(QMessageBox::Yes | QMessageBox::No);
            box->setDefaultButton(QMessageBox::Yes);
        } else {
            box->setStandardButtons(QMessageBox::Ok);
        }
        const int result = box->exec();
        delete box;  // nothing when its owner took it along
        if (request.buttons == BoxButtons::YesNo)
            return result == QMessageBox::Yes ? BoxAnswer::Yes : BoxAnswer::No;
        return BoxAnswer::Ok;
    }
};

}  // namespace

QWidget* TopWindow(QWidget* preferred) {
    QList<QWidget*> onTop;
    QList<QWidget*> shown;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (!OnScreen(widget)) continue;
        shown << widget;
        if (StaysOnTop(widget)) onTop << widget;
    }
    QWidget* active = QApplication::activeWindow();
    if (!OnScreen(active)) active = nullptr;
    QWidget* modal = QApplication::activeModalWidget();
    if (!OnScreen(modal)) modal = nullptr;
    QWidget* asked = preferred ? preferred->window() : nullptr;
    if (!OnScreen(asked)) asked = nullptr;

    // The active window, unless another one stays above it.
    if (active && (onTop.isEmpty() || onTop.contains(active))) return active;
    if (!onTop.isEmpty()) {
        for (QWidget* candidate : {modal, asked})
            if (candidate && onTop.contains(candidate)) return candidate;
        return onTop.front();
    }
    for (QWidget* candidate : {modal, asked})
        if (candidate) return candidate;
    return shown.isEmpty() ? nullptr : shown.front();
}

MessageBoxes& DesktopMessageBoxes() {
    static QtMessageBoxes boxes;
    return boxes;
}

}  // namespace platform
