// The video window's full-screen mode with its idle cursor, the context menu and the
// left-click toggle that decides whether the main dialog or the video window lies on top.

#include <QAction>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QScreen>
#include <QWidget>
#include <QWindow>

#include <optional>

#include "media/playback/playback_session.h"
#include "platform/message_boxes.h"
#include "platform/resources.h"
#include "platform/window_messages.h"
#include "player/preview_player.h"
#include "player/preview_window.h"
#include "player/window_placement.h"

std::int32_t dialogAbove = 1;

namespace {

std::function<std::uint32_t()>& clockOverride() {
    static std::function<std::uint32_t()> clock;
    return clock;
}

// The display counter of the cursor, shared by the whole program as the window system's
// is: the cursor shows while it is 0 or more.
std::int32_t cursorDisplayCount = 0;

std::int32_t DisplayCursor(QWidget* window, bool show) {
    cursorDisplayCount += show ? 1 : -1;
    if (window) {
        if (cursorDisplayCount < 0)
            window->setCursor(Qt::BlankCursor);
        else
            window->unsetCursor();
    }
    return cursorDisplayCount;
}

// Changes the stays-on-top flag of a shown window without hiding it: QWidget::setWindowFlags
// hides the widget first, and hiding a dialog that runs modally ends its loop.
void SetTopmost(QWidget* widget, bool topmost) {
    if (!widget) return;
    Qt::WindowFlags flags = widget->windowFlags();
    flags.setFlag(Qt::WindowStaysOnTopHint, topmost);
    if (flags == widget->windowFlags()) return;
    if (QWindow* window = widget->windowHandle()) {
        widget->overrideWindowFlags(flags);
        window->setFlags(flags);
    } else {
        widget->setWindowFlags(flags);
    }
}

// The main dialog is "hidden" behind full screen by minimising it, for the reason above.
void HideOwner(QWidget* owner) {
    if (owner) owner->showMinimized();
}

void ShowOwner(QWidget* owner) {
    if (!owner) return;
    if (owner->isMinimized())
        owner->showNormal();
    else
        owner->show();
    owner->raise();
}

struct MenuItem {
    int id = 0;  // 0 for a separator
    QString text;
};

std::optional<QList<MenuItem>> LoadPlayerMenu() {
    QFile file(platform::ResourcePath("menus", kPlayerMenuResource));
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    const QJsonArray popups = document.object().value(QLatin1String("popups")).toArray();
    if (popups.isEmpty()) return std::nullopt;
    // The first popup is the one shown.
    QList<MenuItem> items;
    for (const QJsonValue& value :
         popups.first().toObject().value(QLatin1String("items")).toArray()) {
        const QJsonObject item = value.toObject();
        items.push_back({item.value(QLatin1String("id")).toInt(),
                         item.value(QLatin1String("text")).toString()});
    }
    return items;
}

}  // namespace

std::uint32_t MultimediaClockNow() {
    if (clockOverride()) return clockOverride()();
    static QElapsedTimer started = [] {
        QElapsedTimer timer;
        timer.start();
        return timer;
    }();
    return static_cast<std::uint32_t>(started.elapsed());
}

void SetMultimediaClockForTesting(std::function<std::uint32_t()> clock) {
    clockOverride() = std::move(clock);
}

QRect FullScreenPictureRect(QSize screen, QSize nativeVideo) {
    const int cx = screen.width();
    const int cy = screen.height();
    const int W = 10 * nativeVideo.width();
    const int H = 10 * nativeVideo.height();
    if (W <= 0 || H <= 0) return QRect(0, 0, cx, cy);
    const float aspect = static_cast<float>(W) / static_cast<float>(H);
    const float rx = static_cast<float>(cx) / static_cast<float>(W);
    const float ry = static_cast<float>(cy) / static_cast<float>(H);

    auto fullWidth = [&] {
        const int h = static_cast<int>(static_cast<float>(cx) / aspect);
        const int y = (cy - h) / 2;
        return QRect(0, y, cx, (cy - y) - y);
    };
    auto fullHeight = [&] {
        const int w = static_cast<int>(static_cast<float>(cy) * aspect);
        const int x = (cx - w) / 2;
        return QRect(x, 0, (cx - x) - x, cy);
    };
    if (W <= cx && H <= cy) return QRect((cx - W) / 2, (cy - H) / 2, W, H);
    if (W > cx && H <= cy) return fullWidth();
    if (W <= cx && H > cy) return fullHeight();
    return rx < ry ? fullWidth() : fullHeight();
}

bool CursorIdleExpired(std::uint32_t now, std::uint32_t lastMouseTime) {
    return static_cast<std::uint32_t>(now - lastMouseTime) > kCursorIdleLimitMs;
}

QSize PreviewPlayer::screenSize() const {
    QScreen* screen = QGuiApplication::primaryScreen();
    return screen ? screen->geometry().size() : QSize(1024, 768);
}

void PreviewPlayer::SwitchScreenMode() {
    if (audioOnly || !graph) return;
    if (!fullScreen)
        GoFullScreen();
    else
        GoWindowed();
}

void PreviewPlayer::GoFullScreen() {
    if (!graph || !m_hWnd) return;
    const QSize screen = screenSize();
    savedRect = m_hWnd->geometry();
    savedStyle = static_cast<int>(m_hWnd->windowFlags());

    m_hWnd->setMinimumSize(0, 0);
    m_hWnd->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    m_hWnd->setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    m_hWnd->setGeometry(QRect(QPoint(0, 0), screen));
    m_hWnd->show();
    m_hWnd->raise();
    // The window was made anew by the change of flags; it takes the keys again (Escape, the
    // frame steps), which go to the active window.
    m_hWnd->activateWindow();

    media::VideoFormat format;
    if (FAILED(graph->GetVideoFormat(format))) return;
    pictureRect = FullScreenPictureRect(screen, QSize(format.width, format.height));
    m_hWnd->update();

    lastMouseTime = MultimediaClockNow();
    m_hWnd->cursorTimer.start(kCursorTimerPeriodMs, m_hWnd);
    fullScreen = 1;
    ownerHidden = 1;
}

void PreviewPlayer::GoWindowed() {
    if (!graph || !m_hWnd) return;
    Qt::WindowFlags style = Qt::WindowFlags(savedStyle);
    style.setFlag(Qt::WindowStaysOnTopHint, false);
    if (!savedStyle) style = Qt::Window | Qt::WindowTitleHint;
    m_hWnd->setWindowFlags(style);
    // Back where it was, resizable within the screen as before.
    QScreen* screen = m_hWnd->screen();
    const QRect available = screen ? screen->availableGeometry() : savedRect;
    m_hWnd->setMaximumSize(ClientRoom(available, FrameMargins(hwndOwner)));
    m_hWnd->setGeometry(savedRect);
    pictureRect = WindowedPictureRect(m_hWnd->size(), m_hWnd->pictureSize());
    m_hWnd->setVisible(videoShown == 1);

    m_hWnd->cursorTimer.stop();
    ShowCursorNow();
    fullScreen = 0;

    // Brings back a main dialog that a full-screen click sent away.
    ShowOwner(hwndOwner);
    if (videoShown) m_hWnd->raise();
}

void PreviewPlayer::ShowCursorNow() {
    while (cursorCount < 0) cursorCount = DisplayCursor(m_hWnd, true);
    lastMouseTime = MultimediaClockNow();
}

void PreviewPlayer::HideCursorNow() {
    while (cursorCount >= 0) cursorCount = DisplayCursor(m_hWnd, false);
}

void PreviewPlayer::OnCursorTimer() {
    if (fullScreen && CursorIdleExpired(MultimediaClockNow(), lastMouseTime)) HideCursorNow();
}

void PreviewPlayer::OnMouseActivity() {
    if (fullScreen) ShowCursorNow();
}

void PreviewPlayer::OnLeftButtonUp() {
    ToggleStacking();
}

void PreviewPlayer::OnRightButtonUp(QPoint clientPoint) {
    ShowPlayerMenu(clientPoint);
    ownerHidden = 1;
}

void PreviewPlayer::ToggleStacking() {
    if (!graph || !m_hWnd) return;
    QWidget* owner = hwndOwner;
    if (fullScreen) {
        if (ownerHidden) {
            SetTopmost(owner, false);
            HideOwner(owner);
        } else {
            SetTopmost(owner, true);
            ShowOwner(owner);
        }
        ownerHidden = ownerHidden ? 0 : 1;
        return;
    }
    if (dialogAbove) {
        SetTopmost(owner, false);
        m_hWnd->raise();
        m_hWnd->activateWindow();
    } else {
        SetTopmost(owner, true);
        if (owner) owner->raise();
    }
    dialogAbove = dialogAbove ? 0 : 1;
}

std::unique_ptr<QMenu> PreviewPlayer::BuildPlayerMenu() {
    const auto items = LoadPlayerMenu();
    if (!items) return nullptr;
    auto menu = std::make_unique<QMenu>(m_hWnd);
    menu->setTitle(QStringLiteral("PREVIEW"));
    for (const MenuItem& item : *items) {
        if (item.id == 0) {
            menu->addSeparator();
            continue;
        }
        QAction* action = menu->addAction(item.text);
        action->setData(item.id);
        if (item.id == ID_FULL_SCREEN) {
            action->setCheckable(true);
            action->setChecked(fullScreen == 1);
        }
        const bool grey = (playState == Stopped && (item.id == ID_PAUSE || item.id == ID_STOP)) ||
                          (playState == Paused && item.id == ID_PAUSE) ||
                          (playState == Running && item.id == ID_PLAY);
        action->setEnabled(!grey);
    }
    return menu;
}

void PreviewPlayer::ShowPlayerMenu(QPoint clientPoint) {
    std::unique_ptr<QMenu> menu = BuildPlayerMenu();
    if (!menu) {
        platform::ShowMessage(nullptr, QStringLiteral("error"), QStringLiteral("error"));
        return;
    }
    // Mouse positions here are relative to the whole window in both modes (the picture is
    // painted, not a child window), so the client point maps straight to the screen.
    const QPoint where = m_hWnd ? m_hWnd->mapToGlobal(clientPoint) : clientPoint;
    if (QAction* chosen = menu->exec(where)) {
        // The choice arrives after the menu has closed, as a command to the window.
        if (m_hWnd) platform::PostCommand(m_hWnd, chosen->data().toInt());
    }
}
