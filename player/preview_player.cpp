#include "player/preview_player.h"

#include <cstdlib>

#include <QGuiApplication>
#include <QMetaObject>
#include <QScreen>
#include <QWidget>

#include "media/playback/playback_session.h"
#include "platform/message_boxes.h"
#include "platform/paths.h"
#include "platform/window_messages.h"
#include "player/preview_window.h"
#include "player/window_placement.h"

namespace {

const QString kCaption = QStringLiteral("Framewell");

void ShowPlayerFailure(const QString& text) {
    platform::ShowMessage(nullptr, text, kCaption);
}

QString HexStatus(HRESULT hr) {
    return QString::number(static_cast<std::uint32_t>(hr), 16);
}

}  // namespace

PreviewPlayer::PreviewPlayer(QWidget* owner) : hwndOwner(owner) {}

PreviewPlayer::~PreviewPlayer() {
    // The owner normally unloaded the clip; a window left over must still not call back into
    // a player that is gone.
    if (m_hWnd) {
        if (graph) {
            graph->SetFrameListener({});
            graph->SetEventListener({});
        }
        m_hWnd->detachPlayer();
        delete m_hWnd;
    }
}

void PreviewPlayer::CreateVideoWindow() {
    // Placed once the picture's size is known (InitVideoWindow).
    m_hWnd = new PreviewWindow(this);
    windowCreated = true;
}

void PreviewPlayer::DestroyVideoWindow() {
    if (graph) {
        // No streaming thread may post to the window from here on.
        graph->SetFrameListener({});
        graph->SetEventListener({});
        m_hWnd->hide();
        if (fullScreen) {
            videoShown = 0;
            GoWindowed();
            m_hWnd->hide();
        }
    }
    if (hwndOwner) hwndOwner->update();
    if (m_hWnd) {
        m_hWnd->detachPlayer();
        m_hWnd->positionTimer.stop();
        m_hWnd->cursorTimer.stop();
        // Deleted later: this may run inside one of the window's own handlers.
        m_hWnd->hide();
        m_hWnd->deleteLater();
        m_hWnd = nullptr;
    }
}

int PreviewPlayer::LoadClipFile() {
    playState = Stopped;
    CreateVideoWindow();

    graph = std::make_unique<media::PlaybackSession>();
    HRESULT hr = graph->Create();
    if (FAILED(hr)) {
        ShowPlayerFailure(
            QStringLiteral("FAILED(hr=0x%1) in CoCreateInstance(CLSID_FilterGraph, NULL, "
                           "CLSCTX_INPROC_SERVER, IID_IGraphBuilder, (void **)&pGB)\n")
                .arg(HexStatus(hr)));
        UnloadClip();
        return 0;
    }

    // Pictures reach the window by a queued call; the listener is cleared before the window
    // goes (DestroyVideoWindow).
    PreviewWindow* window = m_hWnd;
    graph->SetFrameListener([window] {
        // Runs on a streaming thread.
        QMetaObject::invokeMethod(window, &PreviewWindow::takePicture, Qt::QueuedConnection);
    });

    hr = graph->RenderFile(clipName.toStdString());
    if (FAILED(hr)) {
        ShowPlayerFailure(QStringLiteral(
            "Cannot play the file.  The file is either corrupt or\nthe player does not support "
            "the format you are trying to play.\nYou need to install appropriate decoders."));
        UnloadClip();
        return 0;
    }

    DetectAudioOnly();

    graph->SetEventListener([window] {
        // Runs on a streaming thread.
        platform::PostWindowMessage(window, WM_GRAPHNOTIFY);
    });

    if (!audioOnly) {
        hr = InitVideoWindow(1, 1);
        if (FAILED(hr)) {
            ShowPlayerFailure(
                QStringLiteral("FAILED(hr=0x%1) in InitVideoWindow(1, 1)\n").arg(HexStatus(hr)));
            UnloadClip();
            return 0;
        }
        videoShown = 1;
        m_hWnd->showNormal();
    } else {
        m_hWnd->hide();
    }

    m_hWnd->update();
    if (!audioOnly) {
        m_hWnd->raise();
        m_hWnd->activateWindow();
    }
    RefreshTitle();
    m_hWnd->positionTimer.start(kPositionTimerPeriodMs, m_hWnd);
    return 1;
}

void PreviewPlayer::DetectAudioOnly() {
    audioOnly = graph && graph->HasVideo() ? 0 : 1;
}

HRESULT PreviewPlayer::InitVideoWindow(int n, int d) {
    if (fullScreen && videoShown) GoWindowed();
    if (!graph || !m_hWnd || d == 0) return S_OK;
    media::VideoFormat format;
    if (FAILED(graph->GetVideoFormat(format))) return S_OK;
    const QSize picture(format.width * n / d, format.height * n / d);
    m_hWnd->setPictureSize(QSize(format.width, format.height));

    // The window manager's frame: the window's own once shown, else the owner's, which the same
    // window manager decorates alike.
    QScreen* screen = hwndOwner ? hwndOwner->screen() : QGuiApplication::primaryScreen();
    const QRect available = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    const QMargins frame = m_hWnd->isVisible() ? FrameMargins(m_hWnd) : FrameMargins(hwndOwner);
    QRect client;
    if (!videoShown) {
        const QRect owner =
            hwndOwner && hwndOwner->isVisible() ? hwndOwner->frameGeometry() : QRect();
        client = VideoWindowPlacement(picture, available, owner, frame);
    } else {
        // "Normal size" keeps the window where the user put it, as far as the screen allows.
        QSize size = picture;
        const QSize room = ClientRoom(available, frame);
        if (size.width() > room.width() || size.height() > room.height())
            size = size.scaled(room, Qt::KeepAspectRatio);
        client = KeepInside(QRect(m_hWnd->geometry().topLeft(), size), available, frame);
    }
    // The user may resize it, within the screen.
    m_hWnd->setMinimumSize(0, 0);
    m_hWnd->setMaximumSize(ClientRoom(available, frame));
    m_hWnd->setGeometry(client);
    pictureRect = WindowedPictureRect(m_hWnd->size(), QSize(format.width, format.height));
    return S_OK;
}

media::VideoFrame PreviewPlayer::TakeFrame() {
    return graph ? graph->TakeFrame() : media::VideoFrame{};
}

void PreviewPlayer::FollowClientArea(QSize client, QSize picture) {
    if (videoShown && !fullScreen) pictureRect = WindowedPictureRect(client, picture);
}

void PreviewPlayer::KeepWindowOnScreen(bool firstShow) {
    if (!m_hWnd || fullScreen || !m_hWnd->isVisible()) return;
    QScreen* screen = m_hWnd->screen();
    if (!screen) return;
    const QRect available = screen->availableGeometry();
    const QMargins frame = FrameMargins(m_hWnd);
    const QSize room = ClientRoom(available, frame);
    // Taken before the new limit, which would cut the height alone and lose the aspect.
    QRect client = m_hWnd->geometry();
    // A window manager that keeps a new window on the screen may have cut one side alone, to
    // the screen's edge; a size the user chose does not end there.
    const QSize picture = m_hWnd->pictureSize();
    const bool cutToScreen = client.width() == room.width() || client.height() == room.height();
    if (firstShow && cutToScreen && !picture.isEmpty() &&
        std::abs(client.width() * picture.height() - client.height() * picture.width()) >
            picture.width())
        client.setSize(picture.scaled(client.size(), Qt::KeepAspectRatio));
    if (client.width() > room.width() || client.height() > room.height())
        client.setSize(client.size().scaled(room, Qt::KeepAspectRatio));
    client = KeepInside(client, available, frame);
    m_hWnd->setMaximumSize(room);
    if (client != m_hWnd->geometry()) m_hWnd->setGeometry(client);
}

void PreviewPlayer::KeepOwnerInReach() {
    if (!m_hWnd || !hwndOwner || fullScreen || !m_hWnd->isVisible() || !hwndOwner->isVisible())
        return;
    if (m_hWnd->frameGeometry().intersects(hwndOwner->frameGeometry())) hwndOwner->raise();
}

void PreviewPlayer::StartPlayback() {
    if (!graph) return;
    if (playState == Paused || playState == Stopped) {
        if (SUCCEEDED(graph->Run())) playState = Running;
    }
    if (SUCCEEDED(graph->SetRate(1.0))) RefreshTitle();
}

void PreviewPlayer::PausePlayback() {
    if (!graph) return;
    if (playState != Paused && playState != Stopped) {
        if (SUCCEEDED(graph->Pause())) playState = Paused;
    }
    RefreshTitle();
}

void PreviewPlayer::StopPlayback() {
    if (!graph) return;
    if (playState == Paused || playState == Running) {
        if (m_hWnd) m_hWnd->cursorTimer.stop();
        graph->Stop();
        playState = Stopped;
        graph->SetPosition(0);
        // Cues the first picture; the play state stays Stopped.
        graph->Pause();
    }
    RefreshTitle();
}

HRESULT PreviewPlayer::SeekAbsolute(ReferenceTime t) {
    if (!graph) return S_OK;
    if (t < 0) t = 0;
    return graph->SetPosition(t);
}

void PreviewPlayer::UnloadClip() {
    if (graph) graph->Stop();
    playState = Stopped;
    audioOnly = 1;
    if (windowCreated) DestroyVideoWindow();
    ReleaseInterfaces();
    clipName.clear();
    playState = Closed;
    if (hwndOwner) hwndOwner->update();
}

void PreviewPlayer::ReleaseInterfaces() {
    if (graph) {
        graph->SetFrameListener({});
        graph->SetEventListener({});
    }
    graph.reset();
}

QString PreviewPlayer::windowCaption() const {
    return QStringLiteral("%1 %2 %3")
        .arg(platform::FileNameOf(clipName), QString(),
             playState == Paused ? QStringLiteral("(Paused)") : QString());
}

void PreviewPlayer::RefreshTitle() {
    if (m_hWnd) m_hWnd->setWindowTitle(windowCaption());
}

void PreviewPlayer::OnPositionTimer() {
    if (!graph) return;
    ReferenceTime stop = 0;
    if (FAILED(graph->GetStopPosition(stop))) return;
    stopPosition = stop;
    ReferenceTime current = 0;
    if (FAILED(graph->GetCurrentPosition(current))) return;
    currentPosition = current;
    if (hwndOwner) platform::PostWindowMessage(hwndOwner, WM_POSITIONNOTIFY);
}

void PreviewPlayer::DrainGraphEvents() {
    if (!graph) return;
    media::GraphEvent event;
    while (graph && graph->GetEvent(event)) {
        // A clip that played to its end rewinds, shows its first picture and waits.
        if (event.code == media::EC_COMPLETE) StopPlayback();
    }
}

void PreviewPlayer::OnWindowClose() {
    if (hwndOwner) platform::PostCommand(hwndOwner, kCloseClipCommand);
}

void PreviewPlayer::OnEscape() {
    if (fullScreen) GoWindowed();
}

void PreviewPlayer::OnCommand(int id) {
    switch (id) {
        case ID_FULL_SCREEN:
            SwitchScreenMode();
            break;
        case ID_NORMAL_SIZE:
            InitVideoWindow(1, 1);
            break;
        case ID_PLAY:
            StartPlayback();
            break;
        case ID_PAUSE:
            PausePlayback();
            break;
        case ID_STOP:
            StopPlayback();
            break;
        case ID_CLOSE:
            if (m_hWnd) m_hWnd->close();
            break;
        default:
            break;
    }
}
