#pragma once

// The video window ("PreviewWindow"): a top-level window that paints the newest picture of its
// player's graph into the picture rectangle on black, and hands its messages (close box, keys,
// mouse, timers, posted graph notifications and menu commands) to the player. Files dragged
// onto it are its owner's business: the drag goes on to the main dialog as if it were over
// the dialog.

#include <QBasicTimer>
#include <QImage>
#include <QWidget>

#include "media/playback_session.h"

class PreviewPlayer;

class PreviewWindow : public QWidget {
    Q_OBJECT

public:
    explicit PreviewWindow(PreviewPlayer* player);
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

    PreviewPlayer* player_;
    media::VideoFrame frame_;
    QImage picture_;
    int paintedPictures_ = 0;
    QSize pictureSize_;
    int frameChecks_ = 0;
    bool firstShow_ = true;
    bool ownerRaised_ = false;
    bool raiseOwnerOnActivation_ = false;
};
