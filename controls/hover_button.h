#pragma once

// The flat push button of the main dialog: an icon left of its centred caption, drawn over
// the dialog's background, with a tooltip and a cursor of its own.

#include <QIcon>
#include <QPushButton>

class HoverButton : public QPushButton {
    Q_OBJECT

public:
    explicit HoverButton(const QString& text, QWidget* parent = nullptr);

    // Loads an icon resource as the button's icon.
    void SetIcon(int iconId);
    // Sets the tooltip's text and, with activate, shows it on hover.
    void SetTooltipText(const QString& text, bool activate = true);
    // Loads a cursor resource; 0 removes it.
    void SetCursorResource(int cursorId);
    // Lets the parent's background show through the face.
    void DrawTransparent(bool repaint);

    bool isTransparent() const { return transparent_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QIcon icon_;
    bool transparent_ = false;
};
