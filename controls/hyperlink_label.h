#pragma once

// A static text of a dialog that acts as a link: drawn in link colours, underlined while the
// pointer is over it (or always, or never), with a hand cursor and a tooltip naming its
// target, and opening that target with the desktop when clicked. The label is bound to its
// place with Attach() once the dialog has laid it out; setters called before that only store.

#include <QBasicTimer>
#include <QColor>
#include <QCursor>
#include <QFont>
#include <QLabel>
#include <QRect>

#include <optional>

class HyperlinkLabel : public QLabel {
    Q_OBJECT

public:
    // Underline rules.
    static constexpr int kUnderlineHover = -1;
    static constexpr int kUnderlineAlways = 1;
    static constexpr int kUnderlineNever = 0;
    // Results of OpenTarget, in the shell's convention: above 32 is success, anything else
    // an error code for ShowOpenError.
    static constexpr int kOpened = 42;
    static constexpr int kFileNotFound = 2;
    static constexpr int kPathNotFound = 3;
    static constexpr int kNoAssociation = 31;

    explicit HyperlinkLabel(const QString& text = QString(), QWidget* parent = nullptr);

    // Takes the label's place and font: an empty target becomes the text, an empty text the
    // target; creates both fonts, fits the label to its text and sets the cursor and tooltip.
    void Attach();
    bool isAttached() const { return attached_; }

    void SetTarget(const QString& target);
    QString GetTarget() const { return target_; }
    // An invalid hover colour means the desktop's highlight colour.
    void SetTextColors(const QColor& link, const QColor& visited, const QColor& hover = QColor());
    QColor GetLinkColor() const { return linkColor_; }
    QColor GetVisitedColor() const { return visitedColor_; }
    QColor GetHoverColor() const { return hoverColor_; }
    void MarkVisited(bool visited = true);
    bool GetVisited() const { return visited_; }
    // nullptr: the platform's hand cursor.
    void SetHoverCursor(const QCursor* cursor);
    std::optional<QCursor> GetHoverCursor() const { return hoverCursor_; }
    void SetUnderlineRule(int rule);
    int GetUnderlineRule() const { return underlineRule_; }
    void SetFitToText(bool fit);
    bool GetFitToText() const { return fitToText_; }

    // Resizes the label around its text, keeping the edge its alignment names.
    void FitToText();

    // Opens a web address or a file with the desktop; falls back to the program registered
    // for web pages. Returns kOpened or an error code.
    static int OpenTarget(const QString& target);
    // "Unable to open hyperlink:" and the text for an OpenTarget error code.
    static QString OpenErrorText(int code);
    static void ShowOpenError(int code);
    // The registered web-page command line with its "%1" placeholder (and what follows) cut
    // off and the target appended.
    static QString BrowserCommandLine(const QString& classCommand, const QString& target);

    bool isHovering() const { return hovering_; }
    bool isUnderlined() const { return underlinedSelected_; }
    // The colour the text is drawn in now.
    QColor currentTextColor() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void timerEvent(QTimerEvent* event) override;

private:
    void selectFont(bool underlined);
    void LoadHandCursor();
    void onClick();

    QColor linkColor_{0, 0, 238};
    QColor visitedColor_{85, 26, 139};
    QColor hoverColor_{255, 0, 0};
    bool hovering_ = false;
    bool visited_ = false;
    int underlineRule_ = kUnderlineHover;
    bool fitToText_ = true;
    QString target_;
    QFont underlinedFont_;
    QFont plainFont_;
    bool underlinedSelected_ = false;
    std::optional<QCursor> hoverCursor_;
    QBasicTimer hoverTimer_;
    bool attached_ = false;
    bool pressedInside_ = false;
};

// Where FitToText puts a label: window is its rectangle in the parent, border what its frame
// adds around the client area, text the measured size of its text. Alignment picks the edge
// kept: left (default), Qt::AlignHCenter shrinks both sides, Qt::AlignRight keeps the right
// edge; Qt::AlignVCenter shrinks top and bottom, otherwise the top is kept.
QRect FitRectToText(const QRect& window, const QSize& border, const QSize& text,
                    Qt::Alignment alignment);
