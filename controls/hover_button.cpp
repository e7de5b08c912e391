#include "controls/hover_button.h"

#include <QApplication>
#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionFocusRect>

#include <algorithm>

#include "platform/paths.h"
#include "platform/resources.h"
#include "platform/sound.h"

namespace {

// The size an icon resource is made for; a button too low for it gets a smaller copy.
constexpr int kIconSize = 32;
constexpr int kSmallIconSize = 16;
// The tip of the pointing finger in cursor 141.
constexpr QPoint kCursorHotSpot(10, 2);

}  // namespace

HoverButton::HoverButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFlat(true);
    // Every pixel of the face is painted, from the background copy or the state's colour.
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    // Moves without a pressed button are needed to notice the pointer arriving after a drag
    // that began elsewhere.
    setMouseTracking(true);
    ResetColors(false);
    // Connected before any owner's handler, so the focus moves and the sound starts first.
    connect(this, &QAbstractButton::clicked, this, &HoverButton::onClicked);
}

void HoverButton::SetIcon(int iconIn, int iconOut, bool repaint) {
    iconIn_ = platform::LoadIconResource(iconIn);
    iconOut_ = iconOut != 0 ? platform::LoadIconResource(iconOut) : QIcon();
    if (repaint) update();
}

void HoverButton::SetSound(int resourceId, bool onClick, bool async) {
    Sound& sound = onClick ? clickSound_ : hoverSound_;
    sound = Sound{resourceId, QString(), async};
}

bool HoverButton::SetSound(const QString& fileName, bool onClick, bool async) {
    if (fileName.size() > platform::kMaxPathLength) return false;
    Sound& sound = onClick ? clickSound_ : hoverSound_;
    sound = Sound{0, fileName, async};
    return true;
}

void HoverButton::SetTooltipText(const QString& text, bool activate) {
    tooltipText_ = text;
    setToolTip(activate ? text : QString());
}

void HoverButton::SetCursorResource(int cursorId) {
    if (cursorId == 0) {
        unsetCursor();
    } else {
        setCursor(platform::LoadCursorResource(cursorId, kCursorHotSpot));
    }
}

void HoverButton::DrawTransparent(bool repaint) {
    transparent_ = true;
    backgroundCopy_ = QPixmap();
    if (repaint) update();
}

void HoverButton::SetPressedStyle(int style, bool repaint) {
    pressedOffset_ = style == 1 ? QPoint(0, 2) : QPoint(1, 1);
    if (repaint) update();
}

void HoverButton::SetFlatFocus(bool drawFlatFocus, bool repaint) {
    drawFlatFocus_ = drawFlatFocus;
    if (repaint) update();
}

void HoverButton::SetStateColors(ColorState state, const QColor& background, const QColor& text,
                                 bool repaint) {
    colors_[static_cast<int>(state)] = StateColors{background, text};
    if (repaint) update();
}

void HoverButton::ResetColors(bool repaint) {
    const QPalette desktop = QApplication::palette(this);
    for (StateColors& colors : colors_)
        colors = StateColors{desktop.color(QPalette::Button), desktop.color(QPalette::ButtonText)};
    if (repaint) update();
}

QColor HoverButton::stateBackground(ColorState state) const {
    return colors_[static_cast<int>(state)].background;
}

QColor HoverButton::stateText(ColorState state) const {
    return colors_[static_cast<int>(state)].text;
}

// --- Pointer tracking ---

void HoverButton::trackPointer(bool pointerInside, bool leftButtonDown) {
    // A drag that began elsewhere does not light the button up on its way across.
    if (leftButtonDown && !hovering_) return;
    if (!isFlat() || !isEnabled()) return;
    if (!pointerInside) {
        endHover();
        return;
    }
    if (hovering_) return;
    if (!alwaysTrack_ && !QApplication::activeWindow()) return;
    hovering_ = true;
    update();
    playSound(hoverSound_);
}

void HoverButton::endHover() {
    if (!isFlat() || !hovering_) return;
    hovering_ = false;
    update();
}

void HoverButton::enterEvent(QEnterEvent* event) {
    trackPointer(true, QApplication::mouseButtons() & Qt::LeftButton);
    QPushButton::enterEvent(event);
}

void HoverButton::leaveEvent(QEvent* event) {
    endHover();
    QPushButton::leaveEvent(event);
}

void HoverButton::mouseMoveEvent(QMouseEvent* event) {
    // While the button holds the mouse, moves outside it still arrive here.
    trackPointer(rect().contains(event->position().toPoint()), event->buttons() & Qt::LeftButton);
    QPushButton::mouseMoveEvent(event);
}

void HoverButton::focusOutEvent(QFocusEvent* event) {
    endHover();
    QPushButton::focusOutEvent(event);
}

void HoverButton::changeEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::EnabledChange:
            // Qt itself passes the focus on when a focused button is disabled.
            endHover();
            break;
        case QEvent::ActivationChange:
            if (!isActiveWindow()) endHover();
            break;
        case QEvent::PaletteChange:
        case QEvent::StyleChange:
            // The desktop's colours changed: the face's copy and colours are stale.
            backgroundCopy_ = QPixmap();
            ResetColors(true);
            break;
        default:
            break;
    }
    QPushButton::changeEvent(event);
}

bool HoverButton::event(QEvent* event) {
    if (event->type() == QEvent::ApplicationPaletteChange) {
        backgroundCopy_ = QPixmap();
        ResetColors(true);
    }
    return QPushButton::event(event);
}

void HoverButton::resizeEvent(QResizeEvent* event) {
    backgroundCopy_ = QPixmap();
    QPushButton::resizeEvent(event);
}

void HoverButton::moveEvent(QMoveEvent* event) {
    backgroundCopy_ = QPixmap();
    QPushButton::moveEvent(event);
}

void HoverButton::onClicked() {
    setFocus(Qt::MouseFocusReason);
    playSound(clickSound_);
}

void HoverButton::playSound(const Sound& sound) {
    if (!sound.isSet()) return;
    platform::PlaySound({sound.resourceId, sound.fileName, sound.async});
}

// --- Drawing ---

HoverButton::DrawState HoverButton::currentDrawState() const {
    return DrawState{isDown(), hasFocus(), !isEnabled(), hovering_};
}

const HoverButton::StateColors& HoverButton::colorsFor(const DrawState& state) const {
    if (state.hovering || state.pressed)
        return colors_[static_cast<int>(ColorState::HoverOrPressed)];
    if (state.focused) return colors_[static_cast<int>(ColorState::Focused)];
    return colors_[static_cast<int>(ColorState::Normal)];
}

void HoverButton::captureBackground() {
    const qreal ratio = devicePixelRatioF();
    QPixmap copy(size() * ratio);
    copy.setDevicePixelRatio(ratio);
    copy.fill(palette().color(QPalette::Window));
    // Only the parent's own painting: siblings and this button are not part of the background.
    if (QWidget* parent = parentWidget())
        parent->render(&copy, QPoint(), QRegion(geometry()), QWidget::DrawWindowBackground);
    backgroundCopy_ = copy;
    ++backgroundCaptures_;
}

void HoverButton::drawEdge(QPainter& painter, const QRect& area, bool sunken) const {
    const QColor highlight = palette().color(QPalette::Active, QPalette::Light);
    const QColor shadow = palette().color(QPalette::Active, QPalette::Dark);
    const QColor& topLeft = sunken ? shadow : highlight;
    const QColor& bottomRight = sunken ? highlight : shadow;
    const int x = area.x(), y = area.y(), w = area.width(), h = area.height();
    painter.fillRect(QRect(x, y, w - 1, 1), topLeft);
    painter.fillRect(QRect(x, y, 1, h - 1), topLeft);
    painter.fillRect(QRect(x + w - 1, y, 1, h), bottomRight);
    painter.fillRect(QRect(x, y + h - 1, w, 1), bottomRight);
}

int HoverButton::iconSide(const QRect& area, const QString& caption) const {
    int side = std::max(1, std::min(kIconSize, area.height() - 2));
    if (caption.isEmpty()) return side;
    // A caption cut at the button's edge says nothing: the icon gives way to it first, down
    // to the small icon size.
    const QFontMetrics metrics = fontMetrics();
    const int flags = Qt::TextWordWrap | Qt::AlignHCenter | Qt::TextShowMnemonic;
    for (; side > kSmallIconSize; side -= 2) {
        const int room = area.width() - 2 * iconMargin_.x() - side;
        if (metrics.boundingRect(QRect(0, 0, room, area.height()), flags, caption).width() <= room)
            break;
    }
    return side;
}

void HoverButton::DrawButton(QPainter& painter, const DrawState& state) {
    const QRect area = rect();
    const StateColors& colors = colorsFor(state);
    painter.setFont(font());

    // Face.
    if (transparent_) {
        if (backgroundCopy_.isNull() || backgroundCopy_.deviceIndependentSize().toSize() != size())
            captureBackground();
        painter.drawPixmap(0, 0, backgroundCopy_);
    } else {
        painter.fillRect(area, colors.background);
    }

    // Edge.
    if (isFlat()) {
        if (state.pressed && drawBorder_) {
            drawEdge(painter, area, true);
        } else if (state.hovering && drawBorder_) {
            drawEdge(painter, area, false);
        }
    } else if (drawBorder_) {
        drawEdge(painter, area, state.pressed);
    }

    const QPoint shift = state.pressed ? pressedOffset_ : QPoint();
    const QString caption = text();

    // Icon, left of the caption; centred when there is no caption.
    QRect captionArea = area;
    const QIcon& icon = (state.pressed || state.hovering || iconOut_.isNull()) ? iconIn_ : iconOut_;
    if (!icon.isNull()) {
        const int side = iconSide(area, caption);
        QRect iconRect(0, 0, side, side);
        const int top = area.top() + (area.height() - side) / 2;
        if (caption.isEmpty()) {
            iconRect.moveTopLeft(QPoint(area.left() + (area.width() - side) / 2, top));
        } else {
            iconRect.moveTopLeft(QPoint(area.left() + iconMargin_.x(), top));
            captionArea.setLeft(iconRect.right() + 1 + iconMargin_.x());
        }
        icon.paint(&painter, iconRect.translated(shift), Qt::AlignCenter,
                   state.disabled ? QIcon::Disabled : QIcon::Normal);
    }

    // Caption, its word-wrapped box centred in the caption area.
    if (!caption.isEmpty()) {
        captionArea.translate(shift);
        const int mnemonic = style()->styleHint(QStyle::SH_UnderlineShortcut, nullptr, this)
                                 ? Qt::TextShowMnemonic
                                 : Qt::TextHideMnemonic;
        const int flags = Qt::TextWordWrap | Qt::AlignHCenter | mnemonic;
        QRect box = painter.fontMetrics().boundingRect(captionArea, flags, caption);
        box.moveCenter(captionArea.center());
        if (state.disabled) {
            // The desktop's highlight and shadow, whatever the disabled palette would say.
            painter.setPen(palette().color(QPalette::Active, QPalette::Light));
            painter.drawText(box.translated(1, 1), flags, caption);
            painter.setPen(palette().color(QPalette::Active, QPalette::Dark));
        } else {
            painter.setPen(colors.text);
        }
        painter.drawText(box, flags, caption);
    }

    // A flat button shows its focus only when asked to.
    if (state.focused && (!isFlat() || drawFlatFocus_)) {
        QStyleOptionFocusRect option;
        option.initFrom(this);
        option.rect = area.adjusted(3, 3, -3, -3);
        // Drawn whenever focused, not only after keyboard navigation as some styles prefer.
        option.state |= QStyle::State_KeyboardFocusChange;
        style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
}

void HoverButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    DrawButton(painter, currentDrawState());
}
