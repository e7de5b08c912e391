#pragma once

// The position slider: a trackbar that tells the application while its thumb is held, so
// that the position display stops following playback, and reports the release of the mouse,
// where the dialog seeks.

#include <QSlider>

class PositionSlider : public QSlider {
    Q_OBJECT

public:
    explicit PositionSlider(QWidget* parent = nullptr);

signals:
    // The mouse button was released after a press on the slider (thumb or channel).
    void releasedCapture();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
};
