#pragma once

// A one-line label for texts that can outgrow it, such as a status line naming a long path:
// what does not fit is left out in the middle ("Output File: /home/…/gui.avi     Resolution:
// 1920*1080"), so that both the start and the end stay readable, and the tooltip shows the
// whole text. text() is always the whole text; screen readers read that too.

#include <QLabel>

namespace platform {

class ElidingLabel : public QLabel {
    Q_OBJECT

public:
    explicit ElidingLabel(const QString& text, QWidget* parent = nullptr);

    // What the label shows in its room now: text() or its elided form.
    QString shownText() const;
    bool isElided() const { return shownText() != text(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    bool event(QEvent* event) override;

private:
    // Where QLabel would lay the text out: the contents less the margin and, on the sides the
    // text is aligned to, the indent.
    QRect textRoom() const;
};

}  // namespace platform
