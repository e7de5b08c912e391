#include "controls/hyperlink_label.h"

#include <cmath>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QMouseEvent>
#include <QPainter>
#include <QTimerEvent>
#include <QUrl>

#include "platform/file_classes.h"
#include "platform/message_boxes.h"
#include "platform/shell.h"

namespace {

// How often the label looks whether the pointer has left it.
constexpr int kHoverCheckMs = 100;

}  // namespace

QRect FitRectToText(const QRect& window, const QSize& border, const QSize& text,
                    Qt::Alignment alignment) {
    // Edges as the window system keeps them: right and bottom just outside the rectangle.
    int left = window.x(), top = window.y();
    int right = left + window.width(), bottom = top + window.height();
    const int width = text.width() + border.width();
    const int height = text.height() + border.height();

    if (alignment & Qt::AlignVCenter) {
        // Both halves truncated toward zero, as integer division does.
        const int half = (bottom - top - height) / 2;
        top += half;
        bottom -= half;
    } else {
        bottom = top + height;
    }
    if (alignment & Qt::AlignHCenter) {
        const int half = (right - left - width) / 2;
        left += half;
        right -= half;
    } else if (alignment & Qt::AlignRight) {
        left = right - width;
    } else {
        right = left + width;
    }
    return QRect(left, top, right - left, bottom - top);
}

HyperlinkLabel::HyperlinkLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    // A static text's own default: top left, not QLabel's vertical centring.
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // The hover starts with the first move over the label, pressed button or not.
    setMouseTracking(true);
}

void HyperlinkLabel::Attach() {
    if (attached_) return;
    if (target_.isEmpty()) target_ = text();
    if (text().isEmpty()) setText(target_);

    plainFont_ = font();
    plainFont_.setUnderline(false);
    underlinedFont_ = plainFont_;
    underlinedFont_.setUnderline(true);

    attached_ = true;
    FitToText();
    LoadHandCursor();
    // A rule chosen before the label was attached stays in force.
    selectFont(underlineRule_ == kUnderlineAlways);
    setToolTip(target_);
}

void HyperlinkLabel::SetTarget(const QString& target) {
    target_ = target;
    if (!attached_) return;
    FitToText();
    setToolTip(target_);
}

void HyperlinkLabel::SetTextColors(const QColor& link, const QColor& visited, const QColor& hover) {
    linkColor_ = link;
    visitedColor_ = visited;
    hoverColor_ = hover.isValid() ? hover : QApplication::palette(this).color(QPalette::Highlight);
    if (attached_) update();
}

void HyperlinkLabel::MarkVisited(bool visited) {
    visited_ = visited;
    if (attached_) update();
}

void HyperlinkLabel::SetHoverCursor(const QCursor* cursor) {
    if (cursor) {
        hoverCursor_ = *cursor;
    } else {
        hoverCursor_.reset();
        LoadHandCursor();
    }
    if (hoverCursor_) setCursor(*hoverCursor_);
}

void HyperlinkLabel::LoadHandCursor() {
    if (hoverCursor_) return;
    // The desktop's own hand, so that the link looks like every other link on it.
    hoverCursor_ = QCursor(Qt::PointingHandCursor);
    setCursor(*hoverCursor_);
}

void HyperlinkLabel::SetUnderlineRule(int rule) {
    if (rule != underlineRule_ && attached_) {
        selectFont(rule == kUnderlineAlways);
        update();
    }
    underlineRule_ = rule;
}

void HyperlinkLabel::SetFitToText(bool fit) {
    fitToText_ = fit;
    if (attached_) FitToText();
}

void HyperlinkLabel::FitToText() {
    if (!attached_ || !fitToText_) return;
    const QRect window = geometry();
    const QSize border = size() - contentsRect().size();
    // Rounded up: at a fractional font size the text's last fraction of a pixel is still text.
    const QFontMetricsF metrics(underlinedFont_);
    const QSize measured(static_cast<int>(std::ceil(metrics.horizontalAdvance(text()))),
                         static_cast<int>(std::ceil(metrics.height())));
    setGeometry(FitRectToText(window, border, measured, alignment()));
}

void HyperlinkLabel::selectFont(bool underlined) {
    underlinedSelected_ = underlined;
}

QColor HyperlinkLabel::currentTextColor() const {
    if (hovering_) return hoverColor_;
    return visited_ ? visitedColor_ : linkColor_;
}

void HyperlinkLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), palette().color(QPalette::Button));
    if (attached_) painter.setFont(underlinedSelected_ ? underlinedFont_ : plainFont_);
    painter.setPen(currentTextColor());
    // An address is shown as it is: an ampersand in it is no mnemonic.
    painter.drawText(contentsRect(), int(alignment()) | Qt::TextSingleLine, text());
}

void HyperlinkLabel::mouseMoveEvent(QMouseEvent* event) {
    if (!hovering_) {
        hovering_ = true;
        if (underlineRule_ == kUnderlineHover) selectFont(true);
        update();
        hoverTimer_.start(kHoverCheckMs, this);
    }
    QLabel::mouseMoveEvent(event);
}

void HyperlinkLabel::timerEvent(QTimerEvent* event) {
    if (event->timerId() != hoverTimer_.timerId()) {
        QLabel::timerEvent(event);
        return;
    }
    if (rect().contains(mapFromGlobal(QCursor::pos()))) return;
    hovering_ = false;
    hoverTimer_.stop();
    if (underlineRule_ != kUnderlineAlways) selectFont(false);
    update();
}

void HyperlinkLabel::mousePressEvent(QMouseEvent* event) {
    pressedInside_ = event->button() == Qt::LeftButton;
    QLabel::mousePressEvent(event);
}

void HyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    const bool click = pressedInside_ && event->button() == Qt::LeftButton &&
                       rect().contains(event->position().toPoint());
    pressedInside_ = false;
    QLabel::mouseReleaseEvent(event);
    if (click) onClick();
}

void HyperlinkLabel::onClick() {
    hovering_ = false;
    const int result = OpenTarget(target_);
    visited_ = result > 32;
    if (visited_) {
        MarkVisited(true);
    } else {
        update();
        QApplication::beep();
        ShowOpenError(result);
    }
}

int HyperlinkLabel::OpenTarget(const QString& target) {
    if (target.trimmed().isEmpty()) return kFileNotFound;
    // Addresses as users type them ("www.example.com", "mailto:…") and files, relative ones
    // taken from the working folder.
    const QUrl url = QUrl::fromUserInput(target, QDir::currentPath());
    int result = kNoAssociation;
    if (!url.isValid()) {
        result = kFileNotFound;
    } else if (url.isLocalFile() && !QFileInfo::exists(url.toLocalFile())) {
        const QFileInfo file(url.toLocalFile());
        result = QFileInfo::exists(file.absolutePath()) ? kFileNotFound : kPathNotFound;
    } else if (platform::CurrentShell().openUrl(url)) {
        return kOpened;
    }

    // The shell could not do it: hand the target to the program registered for web pages.
    const std::optional<QString> pageClass = platform::ReadClassDefault(QStringLiteral(".htm"));
    if (!pageClass) return result;
    const std::optional<QString> command =
        platform::ReadClassDefault(*pageClass + QStringLiteral("\\shell\\open\\command"));
    if (!command) return result;
    return platform::CurrentShell().runCommandLine(BrowserCommandLine(*command, target))
               ? kOpened
               : kFileNotFound;
}

QString HyperlinkLabel::BrowserCommandLine(const QString& classCommand, const QString& target) {
    QString commandLine = classCommand;
    int placeholder = commandLine.indexOf(QLatin1String("\"%1\""));
    if (placeholder < 0) placeholder = commandLine.indexOf(QLatin1String("%1"));
    if (placeholder >= 0) commandLine.truncate(placeholder);
    // A file name with blanks would otherwise reach the browser as several arguments.
    const bool quote = target.contains(QLatin1Char(' ')) && !target.startsWith(QLatin1Char('"'));
    return commandLine + QLatin1Char(' ') +
           (quote ? QLatin1Char('"') + target + QLatin1Char('"') : target);
}

QString HyperlinkLabel::OpenErrorText(int code) {
    // The shell's error codes, in the words users of the program have always seen.
    static constexpr struct {
        int code;
        const char* text;
    } kReasons[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30,
         "The DDE transaction could not\nbe completed because other DDE transactions\n"
         "were being processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
    };
    QString detail = QStringLiteral("Unknown Error (%1) occurred.").arg(code);
    for (const auto& reason : kReasons)
        if (reason.code == code) detail = QString::fromLatin1(reason.text);
    return QStringLiteral("Unable to open hyperlink:\n\n") + detail;
}

void HyperlinkLabel::ShowOpenError(int code) {
    platform::ShowFrameworkMessage(OpenErrorText(code));
}
