#include "player/preview_window.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QShowEvent>

#include <utility>

#include "platform/resources.h"
#include "platform/window_messages.h"
#include "player/window_placement.h"

namespace {
constexpr int kProgramIcon = 128;
// How often, and for how long, a newly shown window waits for its frame.
constexpr int kFrameCheckMs = 100;
constexpr int kFrameChecks = 20;
}  // namespace

PreviewWindow::PreviewWindow(Handler* player) : QWidget(nullptr), player_(player) {
    // A caption, a system menu and a minimise box, and a sizing border: the picture is shown
    // whole at any size the user gives the window.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setObjectName(QStringLiteral("PreviewWindow"));
    setWindowTitle(QStringLiteral("Video Window"));
    setAccessibleName(QStringLiteral("Video Window"));
    setAccessibleDescription(QStringLiteral(
        "Plays the opened clip. A click brings it above the main window or back below it; the "
        "right button opens its menu."));
    setWindowIcon(platform::LoadIconResource(kProgramIcon));
    setAttribute(Qt::WA_OpaquePaintEvent);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(false);
    // Full screen hides an idle cursor, which needs moves without a button held.
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAcceptDrops(true);
}

PreviewWindow::~PreviewWindow() = default;

void PreviewWindow::takePicture() {
    if (!player_) return;
    media::VideoFrame frame = player_->TakeFrame();
    // The picture on show borrows the frame held until now.
    if (frame.isNull()) return;
    frame_ = std::move(frame);
    // The image borrows the decoded buffer, which frame_ keeps alive.
    picture_ =
        QImage(frame_.pixels, frame_.width, frame_.height, frame_.stride, QImage::Format_RGBX8888);
    update();
}

bool PreviewWindow::event(QEvent* event) {
    switch (event->type()) {
        case QEvent::DragEnter:
        case QEvent::DragMove:
        case QEvent::DragLeave:
        case QEvent::Drop:
            // The owner decides whether it takes the file, and its answer is this event's. It
            // gets the event directly: through the application the drop would come back here,
            // to the window the drag is over.
            event->ignore();
            if (QObject* target = player_ ? player_->DropTarget() : nullptr) target->event(event);
            return true;
        case QEvent::WindowActivate:
            if (raiseOwnerOnActivation_ && player_) {
                raiseOwnerOnActivation_ = false;
                player_->KeepOwnerInReach();
            }
            break;
        default:
            break;
    }
    if (event->type() == platform::WindowMessageEvent::eventType()) {
        const auto* message = static_cast<platform::WindowMessageEvent*>(event);
        if (!player_) return true;
        if (message->message() == WM_GRAPHNOTIFY)
            player_->DrainGraphEvents();
        else if (message->message() == WM_COMMAND)
            player_->OnCommand(message->command());
        return true;
    }
    return QWidget::event(event);
}

void PreviewWindow::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (picture_.isNull() || !player_ || !player_->PictureShown()) return;
    const QRect area = player_->PictureArea();
    const QRect target = area.isValid() ? area : rect();
    if (target.size() == picture_.size()) {
        painter.drawImage(target.topLeft(), picture_);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(target, picture_);
    }
    ++paintedPictures_;
    emit picturePainted();
}

void PreviewWindow::followClientArea() {
    if (player_) player_->FollowClientArea(size(), pictureSize_);
}

void PreviewWindow::resizeEvent(QResizeEvent* event) {
    followClientArea();
    QWidget::resizeEvent(event);
}

void PreviewWindow::moveEvent(QMoveEvent* event) {
    followClientArea();
    QWidget::moveEvent(event);
}

void PreviewWindow::closeEvent(QCloseEvent* event) {
    // The owner closes the clip, and with it this window.
    event->ignore();
    if (player_) player_->OnWindowClose();
}

void PreviewWindow::showEvent(QShowEvent* event) {
    // The window was placed with the owner's frame for its own; its real frame is known a
    // moment after it is shown, and may be larger (a resizable window has a sizing border).
    frameChecks_ = 0;
    frameTimer.start(kFrameCheckMs, this);
    QWidget::showEvent(event);
}

void PreviewWindow::keyPressEvent(QKeyEvent* event) {
    if (!player_) return QWidget::keyPressEvent(event);
    const bool shift = event->modifiers().testFlag(Qt::ShiftModifier);
    switch (event->key()) {
        case Qt::Key_Right:
            shift ? player_->JumpSeconds(1) : player_->StepFrames(1);
            break;
        case Qt::Key_Left:
            shift ? player_->JumpSeconds(-1) : player_->StepFrames(-1);
            break;
        case Qt::Key_Space:
            // A held key repeats; play and pause toggle once per press.
            if (!event->isAutoRepeat()) player_->TogglePlayback();
            break;
        case Qt::Key_Home:
            player_->GoToStart();
            break;
        case Qt::Key_End:
            player_->GoToEnd();
            break;
        default:
            return QWidget::keyPressEvent(event);
    }
}

void PreviewWindow::keyReleaseEvent(QKeyEvent* event) {
    if (player_ && event->key() == Qt::Key_Escape) {
        player_->OnEscape();
        return;
    }
    QWidget::keyReleaseEvent(event);
}

void PreviewWindow::mouseMoveEvent(QMouseEvent* event) {
    if (player_) player_->OnMouseActivity();
    QWidget::mouseMoveEvent(event);
}

void PreviewWindow::mouseReleaseEvent(QMouseEvent* event) {
    if (!player_) return QWidget::mouseReleaseEvent(event);
    player_->OnMouseActivity();
    switch (event->button()) {
        case Qt::LeftButton:
            player_->OnLeftButtonUp();
            break;
        case Qt::RightButton:
            player_->OnRightButtonUp(event->position().toPoint());
            break;
        default:
            QWidget::mouseReleaseEvent(event);
            break;
    }
}

void PreviewWindow::timerEvent(QTimerEvent* event) {
    if (player_ && event->timerId() == positionTimer.timerId()) {
        player_->OnPositionTimer();
        return;
    }
    if (player_ && event->timerId() == cursorTimer.timerId()) {
        player_->OnCursorTimer();
        return;
    }
    if (event->timerId() == frameTimer.timerId()) {
        const bool known = !FrameMargins(this).isNull();
        ++frameChecks_;
        if (!known && frameChecks_ < kFrameChecks) return;
        if (!player_) {
            frameTimer.stop();
            return;
        }
        if (known) player_->KeepWindowOnScreen(firstShow_);
        if (firstShow_ && !ownerRaised_) {
            ownerRaised_ = true;
            player_->KeepOwnerInReach();
            // A window manager that is slow to map the window raises it as it gives it the
            // focus, after the raise above: the owner goes up once more then.
            raiseOwnerOnActivation_ = !isActiveWindow();
        }
        // After a first showing the window manager may still place or cut the window a moment
        // later: the checks go on for a while.
        if (!firstShow_ || !known || frameChecks_ >= kFrameChecks) {
            frameTimer.stop();
            firstShow_ = false;
        }
        return;
    }
    QWidget::timerEvent(event);
}
