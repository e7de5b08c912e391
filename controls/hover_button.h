#pragma once

// The flat push button of the main dialog: an icon left of its centred caption, drawn over a
// copy of the dialog's background. It raises an edge while the pointer is over it and sinks
// while pressed, plays a sound once each time the pointer enters, and shows a cursor and a
// tooltip of its own. Disabled, it greys its icon, embosses its caption and ignores the
// pointer.

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QPoint>
#include <QPushButton>

class HoverButton : public QPushButton {
    Q_OBJECT

public:
    // The three colour pairs, chosen by the state of a drawing pass.
    enum class ColorState { HoverOrPressed = 0, Normal = 1, Focused = 2 };

    // What one drawing pass depends on.
    struct DrawState {
        bool pressed = false;
        bool focused = false;
        bool disabled = false;
        bool hovering = false;
    };

    explicit HoverButton(const QString& text, QWidget* parent = nullptr);

    // Loads icon resources: iconIn while hovered or pressed, iconOut otherwise (0: iconIn
    // always).
    void SetIcon(int iconIn, int iconOut = 0, bool repaint = true);
    // A sound resource of the program, played on entering (or, with onClick, on clicking);
    // 0 removes it.
    void SetSound(int resourceId, bool onClick = false, bool async = true);
    // A wave file; an empty name removes it. A name longer than a stored path allows is
    // refused (false) and the sound left as it was.
    bool SetSound(const QString& fileName, bool onClick = false, bool async = true);
    // Sets the tooltip's text; without activate the tip stays silent until activated.
    void SetTooltipText(const QString& text, bool activate = true);
    // Loads a cursor resource shown over the button; 0 removes it.
    void SetCursorResource(int cursorId);
    // Lets the parent's background show through the face; it is captured again at the next
    // paint.
    void DrawTransparent(bool repaint);
    // 0: icon and caption move 1 right and 1 down while pressed; 1: 2 down only.
    void SetPressedStyle(int style, bool repaint = true);
    // Whether a flat button draws the focus rectangle (it does not by default).
    void SetFlatFocus(bool drawFlatFocus, bool repaint = true);
    // Whether the hover follows the pointer also while no window of the program is active.
    void SetAlwaysTrack(bool alwaysTrack) { alwaysTrack_ = alwaysTrack; }
    void SetStateColors(ColorState state, const QColor& background, const QColor& text,
                        bool repaint = true);
    // Back to the desktop's button face and button text colours.
    void ResetColors(bool repaint = true);

    bool isHovering() const { return hovering_; }
    bool isTransparent() const { return transparent_; }
    QPoint pressedOffset() const { return pressedOffset_; }
    QColor stateBackground(ColorState state) const;
    QColor stateText(ColorState state) const;
    // How often the background under the face was copied from the parent.
    int backgroundCaptures() const { return backgroundCaptures_; }

    // Draws the whole button for a state; paintEvent passes the widget's own.
    void DrawButton(QPainter& painter, const DrawState& state);
    DrawState currentDrawState() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    bool event(QEvent* event) override;

private:
    struct Sound {
        int resourceId = 0;
        QString fileName;
        bool async = true;
        bool isSet() const { return resourceId != 0 || !fileName.isEmpty(); }
    };
    struct StateColors {
        QColor background;
        QColor text;
    };

    void trackPointer(bool pointerInside, bool leftButtonDown);
    void endHover();
    void playSound(const Sound& sound);
    void onClicked();
    void captureBackground();
    void drawEdge(QPainter& painter, const QRect& area, bool sunken) const;
    int iconSide(const QRect& area, const QString& caption) const;
    const StateColors& colorsFor(const DrawState& state) const;

    bool hovering_ = false;
    bool transparent_ = false;
    bool drawBorder_ = true;
    bool drawFlatFocus_ = false;
    bool alwaysTrack_ = true;
    QPoint pressedOffset_{1, 1};
    QPoint iconMargin_{3, 3};
    StateColors colors_[3];
    QIcon iconIn_;
    QIcon iconOut_;
    Sound hoverSound_;
    Sound clickSound_;
    QString tooltipText_;
    QPixmap backgroundCopy_;
    int backgroundCaptures_ = 0;
};
