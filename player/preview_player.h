#pragma once

// The video window's player: plays one file in a top-level window of its own, names the clip
// and its pause state in the caption, reads the position once a second and tells its owner
// (the main dialog) by a posted WM_POSITIONNOTIFY. Closing the window only asks the owner to
// close the clip (command 1056); the owner unloads and deletes the player.
//
// Everything here runs on the owner's thread. The playback graph's streaming threads reach
// the player only through events posted to its window (pictures, WM_GRAPHNOTIFY).
//
// Full screen, the context menu and click stacking are in full_screen.cpp.

#include <QPoint>
#include <QPointer>
#include <QRect>
#include <QSize>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

#include "media/core/frame_time.h"
#include "media/core/reference_time.h"
#include "media/core/status.h"
#include "player/preview_window.h"

class QMenu;
class QWidget;

namespace media {
class PlaybackSession;
}

enum PlayState : std::int32_t { Stopped = 0, Paused = 1, Running = 2, Closed = 3 };

// The video window's timers and the owner's command.
inline constexpr int CursorTimer = 1;
inline constexpr int kCursorTimerPeriodMs = 50000;
inline constexpr int PositionTimer = 2;
inline constexpr int kPositionTimerPeriodMs = 1000;
inline constexpr std::uint32_t kCursorIdleLimitMs = 100000;
inline constexpr int kCloseClipCommand = 1056;

// The context menu's resource and items.
inline constexpr int kPlayerMenuResource = 134;
inline constexpr int ID_FULL_SCREEN = 32771;
inline constexpr int ID_NORMAL_SIZE = 32772;
inline constexpr int ID_PLAY = 32773;
inline constexpr int ID_PAUSE = 32774;
inline constexpr int ID_STOP = 32775;
inline constexpr int ID_CLOSE = 32776;

// The windowed left-click toggle, shared by every player of the process and never reset:
// 1 means the next click brings the video window above the main dialog.
extern std::int32_t dialogAbove;

// Where the picture goes on a screen of the given size in full screen. The native size is
// taken ten times over first, so only a picture no larger than a tenth of the screen both
// ways is shown centred at ten times its size; any other fills the screen one way, its
// aspect ratio kept.
QRect FullScreenPictureRect(QSize screen, QSize nativeVideo);

// Whether a full-screen cursor idle since lastMouseTime is to be hidden at now (milliseconds
// of a clock that wraps; the difference is taken unsigned).
bool CursorIdleExpired(std::uint32_t now, std::uint32_t lastMouseTime);

// The clock of lastMouseTime, in milliseconds. Tests install their own; nullptr brings back
// the real one.
std::uint32_t MultimediaClockNow();
void SetMultimediaClockForTesting(std::function<std::uint32_t()> clock);

class PreviewPlayer : public PreviewWindow::Handler {
public:
    explicit PreviewPlayer(QWidget* owner);
    // Releases nothing itself: the owner unloads the clip first.
    virtual ~PreviewPlayer();
    PreviewPlayer(const PreviewPlayer&) = delete;
    PreviewPlayer& operator=(const PreviewPlayer&) = delete;

    // --- State ---
    QPointer<QWidget> hwndOwner;  // receives WM_POSITIONNOTIFY and command 1056
    QString clipName;             // at most 259 characters
    std::int32_t audioOnly = 0;
    std::int32_t fullScreen = 0;
    PlayState playState = Closed;
    std::int32_t videoShown = 0;
    std::unique_ptr<media::PlaybackSession> graph;  // the playback graph; null when unloaded
    PreviewWindow* m_hWnd = nullptr;                // the video window
    bool windowCreated = false;                     // once created; never reset
    std::uint32_t lastMouseTime = 0;
    std::int32_t cursorCount = 0;
    QRect savedRect;
    int savedStyle = 0;  // Qt::WindowFlags before full screen
    ReferenceTime currentPosition = 0;
    ReferenceTime stopPosition = 0;
    std::int32_t ownerHidden = 1;
    QRect pictureRect;  // where the picture is painted, in the window's client area

    // --- Loading ---
    // Plays clipName: returns 1 when the clip is loaded (cued at its first picture, window
    // shown, position tick running); 0 after a message and UnloadClip.
    int LoadClipFile();
    void UnloadClip();

    // --- Transport ---
    void StartPlayback();
    void PausePlayback();
    void StopPlayback();
    HRESULT SeekAbsolute(ReferenceTime t);

    // --- Window ---
    HRESULT InitVideoWindow(int n, int d);
    // Windowed: no larger than the screen's work area, and inside it, by the window's own
    // frame. Called once the window manager has told that frame; on the first showing it also
    // puts back the picture's aspect where the window manager cut one side to fit the screen.
    void KeepWindowOnScreen(bool firstShow = false) override;
    // A window that had to cover part of the owner (a picture too large to stand beside it)
    // leaves the owner above it, its controls in reach; the window keeps the keys, and a click
    // in it brings the picture to the front (dialogAbove is 1 then).
    void KeepOwnerInReach() override;
    void RefreshTitle();
    QString windowCaption() const;

    // --- Posted messages and timers of the window ---
    void DrainGraphEvents() override;
    void OnPositionTimer() override;
    void OnCursorTimer() override;
    void OnCommand(int id) override;
    void OnWindowClose() override;
    void OnMouseActivity() override;
    void OnLeftButtonUp() override;
    void OnRightButtonUp(QPoint clientPoint) override;
    void OnEscape() override;

    // --- What the window paints, and where its drags go ---
    media::VideoFrame TakeFrame() override;
    bool PictureShown() const override { return videoShown != 0; }
    QRect PictureArea() const override { return pictureRect; }
    // In full screen the picture keeps the rectangle that the placement gave it.
    void FollowClientArea(QSize client, QSize picture) override;
    QObject* DropTarget() const override { return hwndOwner.data(); }

    // --- Full screen, context menu and stacking ---
    void SwitchScreenMode();
    void GoFullScreen();
    void GoWindowed();
    void ShowCursorNow();
    void HideCursorNow();
    void ToggleStacking();
    void ShowPlayerMenu(QPoint clientPoint);
    // The context menu as ShowPlayerMenu shows it now: check mark and greying applied.
    // nullptr when the menu resource cannot be read.
    std::unique_ptr<QMenu> BuildPlayerMenu();

    // --- Exact marking: the video window's keys (frame_stepping.cpp) ---
    // Each lands on a picture: up to a second forward of a paused clip is decoded on from the
    // picture on show; anything else seeks the middle of the wanted frame, so that the
    // picture shown is that frame however the file rounds its times. None goes past the
    // first or the last picture of the clip, and none changes the play state except a frame
    // step, which pauses a running clip first. A clip without a constant frame rate steps
    // forward only; its jumps and End go by time.
    void StepFrames(int count) override;   // Right (+1) and Left (-1)
    void JumpSeconds(int count) override;  // Shift+Right (+1) and Shift+Left (-1)
    void TogglePlayback() override;        // Space
    void GoToStart() override;             // Home
    void GoToEnd() override;               // End: the last picture
    // The position a mark takes: read from the graph now, not at the last tick. It is the
    // start of the picture on show, for a clip with pictures; the graph's position for sound
    // alone; the last tick's position when the graph cannot say.
    ReferenceTime LivePosition() const;
    // The clip's negotiated frame rate; unknown without a clip, a picture or a constant rate.
    media::FrameRate frameRate() const;

private:
    void CreateVideoWindow();
    void DestroyVideoWindow();
    void ReleaseInterfaces();
    void DetectAudioOnly();
    QSize screenSize() const;
    void ShowFrame(std::int64_t index, media::FrameRate rate);
    bool StepOn(std::int64_t index, media::FrameRate rate);
};
