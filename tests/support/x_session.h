#pragma once

// A real X display for the tests that need a window manager's stacking, focus and frames,
// which the offscreen platform does not have: an Xvfb of its own on a free display number,
// with openbox managing it. Made before the QApplication (the display is chosen when the
// application starts) and ended after it. Tools that are missing make the tests skip, saying
// which; tools that are there but fail make them fail.

#include <QList>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWindow>

#include <sys/types.h>

namespace testing_support {

class XSession {
public:
    // Starts Xvfb with one screen of the given size and openbox on it, and points DISPLAY
    // and QT_QPA_PLATFORM at it; on failure leaves the environment alone.
    explicit XSession(QSize screen);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    bool running() const { return problem_.isEmpty() && missing_.isEmpty(); }
    // Programs not installed (a reason to skip), and what went wrong starting them (a fault).
    QString missing() const { return missing_; }
    QString problem() const { return problem_; }

private:
    pid_t xvfb_ = -1;
    pid_t openbox_ = -1;
    QString missing_;
    QString problem_;
};

// What the window manager says, read with xprop. Window ids are those of the clients.
// Bottom to top.
QList<WId> StackingOrder();
WId ActiveWindow();
// The _NET_WM_STATE atoms of a window, without their prefix ("ABOVE", "MODAL", ...).
QStringList WindowStates(WId window);
// The window a dialog belongs to (WM_TRANSIENT_FOR), 0 for none.
WId TransientFor(WId window);
// Runs xdotool with these arguments; true when it succeeded.
bool XdoTool(const QStringList& arguments);

// The screen size the X tests run at: FRAMEWELL_TEST_SCREEN ("1366x768"), else 1600x1000.
QSize TestScreenSize();

}  // namespace testing_support
