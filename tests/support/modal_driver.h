#pragma once

// Drives a dialog that the code under test runs with exec(): the action runs inside the
// dialog's own event loop as soon as it is the active modal window.

#include <functional>
#include <memory>

class QDialog;

namespace testing_support {

class ModalDriver {
public:
    // Arms the driver for the next modal dialog that opens after this call (one that is not
    // already the active modal window). The action ends the dialog; one it leaves open
    // (a failed check) is cancelled.
    explicit ModalDriver(std::function<void(QDialog*)> action, int timeoutMs = 20000);
    ~ModalDriver();
    ModalDriver(const ModalDriver&) = delete;
    ModalDriver& operator=(const ModalDriver&) = delete;

    // Whether a dialog opened and the action ran.
    bool ran() const;

private:
    struct State;
    std::shared_ptr<State> state_;
};

}  // namespace testing_support
