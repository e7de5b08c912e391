#pragma once

// The video window ("PreviewWindow"): a top-level window that paints the newest picture of its
// player's graph into the picture rectangle on black, and hands its messages (close box, keys,
// mouse, timers, posted graph notifications and menu commands) to its handler, the player.
// Files dragged onto it are its owner's business: the drag goes on to the main dialog as if it
// were over the dialog. The window knows its player only as the handler declared here: the
// player makes, places and shows the window, and the window answers to it alone.

#include <QBasicTimer>
#include <QImage>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QWidget>

#include "media/playback/playback_session.h"

class PreviewWindow : public QWidget {
    Q_OBJECT

public:
    // What the window asks of the player that plays into it. Called on the window's thread,
    // from its event handlers.
    class Handler {
    public:
        // The newest picture of the graph; a null frame without one.
        virtual media::VideoFrame TakeFrame() = 0;
        // Whether the picture is on show, and where it goes in the client area (an invalid
        // rectangle: all of it).
        virtual bool PictureShown() const = 0;
        virtual QRect PictureArea() const = 0;
        // The client area was resized or moved; picture is the picture's own size.
        virtual void FollowClientArea(QSize client, QSize picture) = 0;
        // Whoever decides about files dragged onto the window; null for nobody.
        virtual QObject* DropTarget() const = 0;

        virtual void DrainGraphEvents() = 0;
        virtual void OnCommand(int id) = 0;
        virtual void OnWindowClose() = 0;
        virtual void OnPositionTimer() = 0;
        virtual void OnCursorTimer() = 0;
        virtual void OnMouseActivity() = 0;
        virtual void OnLeftButtonUp() = 0;
        virtual void OnRightButtonUp(QPoint clientPoint) = 0;
        virtual void OnEscape() = 0;
        virtual void StepFrames(int count) = 0;
        virtual void JumpSeconds(int count) = 0;
        virtual void TogglePlayback() = 0;
        virtual void GoToStart() = 0;
        virtual void GoToEnd() = 0;
        // The window manager has told the frame around the window (firstShow: of a window
        // just shown for the first time).
        virtual void KeepWindowOnScreen(bool firstShow) = 0;
        virtual void KeepOwnerInReach() = 0;

    protected:
        ~Handler() = default;
    };

    explicit PreviewWindow(Handler* player);
    ~PreviewWindow() override;

    // From here on every message goes to the default handling only.
    void detachPlayer() { player_ = nullptr; }

    QBasicTimer positionTimer;
    QBasicTimer cursorTimer;
    // Until the window manager has told the size of its frame around a newly shown window.
    QBasicTimer frameTimer;

    // The picture on show; null before the first one.
    const QImage& picture() const { return picture_; }
    // Pictures painted so far.
    int paintedPictures() const { return paintedPictures_; }
    // The picture's own size: a window the user resizes shows it whole, its aspect kept.
    void setPictureSize(QSize size) { pictureSize_ = size; }
    QSize pictureSize() const { return pictureSize_; }

    // Fetches the newest picture from the graph; queued from its streaming thread.
    void takePicture();

signals:
    // A picture reached the screen.
    void picturePainted();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void followClientArea();

    Handler* player_;
    media::VideoFrame frame_;
    QImage picture_;
    int paintedPictures_ = 0;
    QSize pictureSize_;
    int frameChecks_ = 0;
    bool firstShow_ = true;
    bool ownerRaised_ = false;
    bool raiseOwnerOnActivation_ = false;
};
