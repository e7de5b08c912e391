#pragma once

// The main window: owns every piece of the program's state as private members, hosts the
// command buttons and receives the posted messages and timer ticks through which the media
// framework and the video window report. Everything runs on its thread. Others read its
// state and act as its user does: through its controls (found by id) and the few calls below.
//
// The handlers live in files by topic: start-up, closing, Help and Homepage here
// (converter_dialog.cpp); conversion control in converter_dialog_conversion.cpp; the output
// options in converter_dialog_options.cpp; Open Video in converter_dialog_open_video.cpp and
// the transport in converter_dialog_transport.cpp.

#include <QBasicTimer>
#include <QDialog>
#include <QElapsedTimer>
#include <QPixmap>
#include <QPointer>

#include <cstdint>
#include <memory>
#include <optional>

#include "clips/clip_list.h"
#include "engine/conversion_progress.h"
#include "media/core/reference_time.h"
#include "media/core/status.h"
#include "media/render/size_target.h"
#include "media/source/source_tracks.h"
#include "settings/output_settings.h"
#include "settings/source_options.h"

class QLabel;
class QProgressBar;
class QPushButton;
namespace media {
struct ProbeResult;
struct RenderPlan;
struct RenderSetupResult;
struct StreamCopyInspection;
}
class ConversionEngine;
class HoverButton;
class PositionSlider;

// Control ids of the main dialog's template.
namespace MainDialogIds {
inline constexpr int kExit = 1;  // the dialog's OK
inline constexpr int kConvert = 1000;
inline constexpr int kOptions = 1003;
inline constexpr int kOpenVideo = 1006;
inline constexpr int kStatusLine = 1021;
inline constexpr int kAbout = 1042;
inline constexpr int kHomepage = 1047;
inline constexpr int kPositionSlider = 1055;
inline constexpr int kCloseClip = 1056;
inline constexpr int kPositionDisplay = 1057;
inline constexpr int kPlay = 1058;
inline constexpr int kPause = 1060;
inline constexpr int kStop = 1061;
inline constexpr int kStartTime = 1062;
inline constexpr int kEndTime = 1063;
inline constexpr int kEndMarkDisplay = 1064;
inline constexpr int kStartMarkDisplay = 1065;
inline constexpr int kProgressBar = 1066;  // shown only while converting
inline constexpr int kHelp = 57670;
}  // namespace MainDialogIds

// The system menu's About command.
inline constexpr int IDM_ABOUTBOX = 0x0010;
// The conversion's one-second timer.
inline constexpr int PROGRESS_TIMER = 1112;

// The address behind the Homepage button.
inline constexpr const char* kHomepageAddress = "https://framewell.example.com/";

class ConverterDialog : public QDialog {
    Q_OBJECT

public:
    explicit ConverterDialog(QWidget* parent = nullptr);
    ~ConverterDialog() override;

    // The span to convert: from the start mark up to the end mark.
    struct Marks {
        ReferenceTime start = 0;
        ReferenceTime end = 0;
    };

    // --- What the dialog holds, read by the application and its tests ---
    const OutputSettings& settings() const { return outputSettings; }
    // What a conversion takes from the open video besides its span, and that video's tracks.
    const SourceOptions& sourceChoices() const { return sourceOptions; }
    const media::SourceTracks& sourceTrackList() const { return sourceTracks; }
    const ClipList& videoClips() const { return clipList; }
    const MusicList& soundClips() const { return musicList; }
    Marks marks() const { return {startMark, endMark}; }
    bool isConverting() const { return converting != 0; }
    // True while a chosen file is being measured; a second Open Video waits for it.
    bool isOpeningVideo() const { return openingVideo; }
    // The conversion's engine from Convert until the conversion ends; a failed set-up's stays
    // until the next Convert. Null when there is none.
    const ConversionEngine* conversion() const { return conversionEngine.get(); }
    const ConversionProgress& progress() const { return conversionProgress; }
    // Whether the once-a-second count of the conversion's time runs.
    bool isCountingTime() const { return progressTimer.isActive(); }
    // Whether the media framework started; nothing is loaded when it did not.
    bool mediaFrameworkStarted() const { return mediaStarted_; }

    // --- What the user does besides pressing the dialog's buttons ---
    // Takes the output choices of a record (not its source facts), as the Options dialog's OK
    // hands them over.
    void UseOutputChoices(const OutputSettings& confirmed);
    // Takes the Source dialog's choices, as the Options dialog's OK hands them over.
    void UseSourceChoices(const SourceOptions& confirmed) { sourceOptions = confirmed; }
    // Sets both marks at once, as Start Time and End Time set them at two positions.
    void SetMarks(Marks marks);
    // Open Video from the chosen file on: the Open Video button after its file dialog, and
    // a file dropped on the dialog or on the video window.
    void OpenVideoFile(const QString& path);
    // Ends the dialog as Exit does, closing whatever box or dialog is open above it first: for
    // a termination signal.
    void EndAsExit();

protected:
    // The window menu's commands arrive as native messages.
    bool nativeEvent(const QByteArray& eventType, void* message, qintptr* result) override;
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    // Drag and drop: a dropped video file opens as Open Video opens it.
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    // --- State the handlers share ---
    OutputSettings outputSettings;
    QString errorText;  // the media framework's text for the last failure shown
    ClipList clipList;
    MusicList musicList;
    ReferenceTime totalDuration = 0;
    ClipDefaults clipDefaults;
    std::int32_t converting = 0;
    std::int32_t elapsedSeconds = 0;
    ReferenceTime startMark = 0;
    ReferenceTime endMark = 0;
    std::int32_t sliderPos = 0;

    // --- Controls bound from the template ---
    HoverButton* openVideoButton = nullptr;
    HoverButton* optionsButton = nullptr;
    HoverButton* convertButton = nullptr;
    HoverButton* helpButton = nullptr;
    HoverButton* aboutButton = nullptr;
    HoverButton* homepageButton = nullptr;
    HoverButton* exitButton = nullptr;
    QLabel* statusLine = nullptr;
    QLabel* positionDisplay = nullptr;
    QLabel* startMarkDisplay = nullptr;
    QLabel* endMarkDisplay = nullptr;
    PositionSlider* positionSlider = nullptr;
    QPushButton* playButton = nullptr;
    QPushButton* pauseButton = nullptr;
    QPushButton* stopButton = nullptr;
    QPushButton* startTimeButton = nullptr;
    QPushButton* endTimeButton = nullptr;

    // --- Start-up, closing, Help and Homepage ---
    bool OnInitDialog();
    void OnHelp();
    void OnHomepage();
    void OnAbout();
    void ShowStatus(const QString& text);
    // The output summary in the status line.
    void ShowOutputSummary(SummaryForm form);

    // --- Conversion control ---
    void OnConvert();
    void OnGraphEvent();
    void FinishConversion();
    void OnTimer(int id);
    // The graph has been set up (status 0: it runs) or a set-up step failed.
    void OnConversionSetUp(const media::RenderSetupResult& result);
    // The boxes that name a failed set-up step and, where there is one, its reason.
    void ShowSetupFailure(const media::RenderSetupResult& result);
    // A running graph stopped on an error: the conversion ends without "Done.".
    void FailConversion(const QString& text);
    // Starts the render of the built timeline, aimed at the size planned; OnConversionSetUp
    // follows.
    void StartRender(media::RenderPlan plan);
    // Convert waits (disabled) while a conversion is looked at and set up; released, it is
    // enabled when a clip is open or a conversion runs, with the focus it had.
    void HoldConvert(bool hold);

    // --- Direct stream copy (converter_dialog_copy.cpp) ---
    // A copy's source is looked at off this thread first: what cannot be copied is refused
    // before anything is written, and a copy that must start at an earlier key frame asks.
    void InspectCopy(media::RenderPlan plan);
    void OnCopyInspected(const media::StreamCopyInspection& inspection, media::RenderPlan plan);
    QString copiedStreams;  // what the copy running writes as it is, for the "Done." line
    QString sizeNote;  // the size the compressor takes instead of the one asked, said after "Done."

    // --- Progress of a conversion (converter_dialog_progress.cpp) ---
    // The thin bar under the buttons, the percentage in the window title and the time left in
    // the status line, from the render's position against the length being converted.
    QProgressBar* progressBar = nullptr;
    ConversionProgress conversionProgress;
    // Starts showing progress once the graph runs.
    void StartProgress();
    // Reads the render's position and shows the share; on progressRefreshTimer.
    void RefreshProgress();
    // Stops reading the position; a conversion not yet marked complete stays short of 100%.
    void HoldProgress();
    // Hides the bar and gives the window its own title back.
    void HideProgress();
    QBasicTimer progressRefreshTimer;
    QElapsedTimer conversionClock;
    QString idleWindowTitle;

    // --- Output options ---
    void ShowOutputOptions();

    // --- What the conversion takes from the source (converter_dialog_source.cpp) ---
    SourceOptions sourceOptions;
    media::SourceTracks sourceTracks;
    media::SoundFormat sourceSound;
    std::optional<media::SizeTarget> sizeTarget;  // of the conversion running
    // The plan takes the sound track, subtitles and deinterlacing; a choice the video cannot
    // honour, or that cannot go with the compressors, is refused in a box. A target size is
    // planned. False after the box.
    bool ApplySourceChoices(media::RenderPlan& plan);
    // A finished file that missed its target size by more than the tolerance is said.
    void CheckTargetSize(const QString& written);

    // --- Open Video and the transport ---
    void OnOpenVideo();
    void OnPlay();
    void OnPause();
    void OnStop();
    void OnStartTime();
    void OnEndTime();
    void OnCloseClip();
    void OnSliderReleased();
    void RefreshPosition();
    int SeekFromSlider(int position);
    void SetTransportEnabled(bool enable);
    // Makes the video window's player for a clip; empties path when the clip cannot be played.
    int CreateSourcePlayer(QString& path);
    int DestroySourcePlayer();
    // Reads the measured facts of a chosen file into the output settings; 1 when usable.
    int ProbeSourceClip(const media::ProbeResult& probe, ReferenceTime& length);
    // The rest of Open Video once the file has been measured off the UI thread.
    void FinishOpenVideo(const QString& path, const media::ProbeResult& probe);
    bool openingVideo = false;

    // --- Exact marking ---
    // A mark's display: whole seconds, like the position display beside it; the frame-exact
    // time in its tooltip.
    void ShowMark(QLabel* display, ReferenceTime mark);

    // --- About box (converter_dialog_about.cpp) ---
    // Appends "&About Framewell" to the window menu where the desktop has one.
    void AddAboutToSystemMenu();

    void bindControls();
    void dressButtons();
    void connectCommands();
    void dispatchWindowMessage(int message, int command);

    QPixmap backgroundBitmap;
    bool mediaStarted_ = false;
    std::unique_ptr<ConversionEngine> conversionEngine;
    bool compressorsPrepared_ = false;
    bool convertHadFocus_ = false;

    // The conversion's timer; started when the graph runs, killed when it ends.
    QBasicTimer progressTimer;
};
