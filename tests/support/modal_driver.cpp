#include "support/modal_driver.h"

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

namespace testing_support {

struct ModalDriver::State {
    std::function<void(QDialog*)> action;
    QPointer<QWidget> before;
    QTimer timer;
    QElapsedTimer clock;
    int timeoutMs = 0;
    bool ran = false;
};

ModalDriver::ModalDriver(std::function<void(QDialog*)> action, int timeoutMs)
    : state_(std::make_shared<State>()) {
    state_->action = std::move(action);
    state_->before = QApplication::activeModalWidget();
    state_->timeoutMs = timeoutMs;
    state_->clock.start();
    state_->timer.setInterval(10);
    std::weak_ptr<State> weak = state_;
    QObject::connect(&state_->timer, &QTimer::timeout, [weak] {
        const std::shared_ptr<State> state = weak.lock();
        if (!state || state->ran) return;
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        if (dialog && dialog != state->before.data()) {
            state->timer.stop();
            state->ran = true;
            QPointer<QDialog> guard(dialog);
            state->action(dialog);
            // An action that stopped early (a failed check) must not leave the test waiting.
            if (guard && guard->isVisible()) guard->reject();
        } else if (state->clock.elapsed() > state->timeoutMs) {
            state->timer.stop();
        }
    });
    state_->timer.start();
}

ModalDriver::~ModalDriver() {
    state_->timer.stop();
}

bool ModalDriver::ran() const {
    return state_->ran;
}

}  // namespace testing_support
