#include "app/position_slider.h"

#include <QMouseEvent>

#include "app/converter_app.h"

PositionSlider::PositionSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {}

void PositionSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) theApp()->sliderDragging = 1;
    QSlider::mousePressEvent(event);
    update();
}

void PositionSlider::mouseReleaseEvent(QMouseEvent* event) {
    const bool left = event->button() == Qt::LeftButton;
    if (left) theApp()->sliderDragging = 0;
    QSlider::mouseReleaseEvent(event);
    update();
    if (left) emit releasedCapture();
}
