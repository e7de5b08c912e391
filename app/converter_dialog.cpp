#include "app/converter_dialog.h"

#include <QApplication>
#include <QCloseEvent>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QTimerEvent>
#include <QUrl>

#include <ctime>

#include "app/position_slider.h"
#include "clips/transition_catalogue.h"
#include "controls/hover_button.h"
#include "engine/conversion_engine.h"
#include "media/core/media_framework.h"
#include "media/encoders/encoder_registry.h"
#include "platform/dialog_template.h"
#include "platform/message_boxes.h"
#include "platform/resources.h"
#include "platform/settings_store.h"
#include "platform/shell.h"
#include "platform/termination_signals.h"
#include "platform/window_messages.h"
#include "settings/compressor_catalogue.h"
#include "settings/compressor_lists.h"

namespace {

constexpr int kBackgroundBitmap = 139;
constexpr int kProgramIcon = 128;
constexpr int kButtonCursor = 141;
constexpr int kButtonSound = 144;
constexpr int kSliderRange = 600;

struct Dressing {
    int id;
    int icon;
    const char* tooltip;
};

// In the order the buttons are dressed.
constexpr Dressing kDressing[] = {
    {MainDialogIds::kOpenVideo, 140, "Open a video file"},
    {MainDialogIds::kOptions, 146, "Customize output options"},
    {MainDialogIds::kConvert, 128, "Convert video to avi"},
    {MainDialogIds::kHelp, 148, "Help"},
    {MainDialogIds::kHomepage, 158, "Homepage"},
    {MainDialogIds::kAbout, 156, "About"},
    {MainDialogIds::kExit, 159, "Exit"},
};

QWidget* createMainControl(const platform::ControlTemplate& control, QWidget* parent) {
    if (control.className == QLatin1String("HoverButton")) return new HoverButton(control.text, parent);
    if (control.className == QLatin1String("PositionSlider")) return new PositionSlider(parent);
    return nullptr;
}

}  // namespace

ConverterDialog::ConverterDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    // Running modally blocks no other window: the video window, top-level and without a
    // parent, keeps its close box, keys and mouse while the dialog runs.
    setWindowModality(Qt::WindowModal);
    // A video file dropped here opens as Open Video opens it (converter_dialog_open_video.cpp).
    setAcceptDrops(true);
    if (auto dialogTemplate =
            platform::LoadDialogTemplate(QStringLiteral(":/dialogs/main_dialog_102.json")))
        platform::BuildDialog(this, *dialogTemplate, createMainControl);
    bindControls();
    connectCommands();
    // A logout (SIGTERM) or a closed terminal ends the dialog as Exit does, so that a
    // conversion still running leaves the file written so far finished.
    auto* terminations = new platform::TerminationSignals(this);
    connect(terminations, &platform::TerminationSignals::received, this,
            &ConverterDialog::EndAsExit);
    OnInitDialog();
}

void ConverterDialog::EndAsExit() {
    // A box or dialog open above this one runs its own loop; each is closed as its Escape key
    // would close it, so that the handlers waiting on them return.
    for (int depth = 0; depth < 8; ++depth) {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == this) break;
        modal->close();
    }
    accept();
}

ConverterDialog::~ConverterDialog() {
    // The video window reports to this dialog; it must not outlive it.
    DestroySourcePlayer();
    // A conversion still running when the dialog ends (Exit, Escape) goes with it, but the
    // file written so far is finished first: without its index no player opens it.
    if (conversionEngine) conversionEngine->StopAndWait(kStopDrainBound);
    conversionEngine.reset();
    if (mediaStarted_) media::StopMediaFramework();
}

void ConverterDialog::bindControls() {
    using namespace MainDialogIds;
    openVideoButton = platform::Control<HoverButton>(this, kOpenVideo);
    optionsButton = platform::Control<HoverButton>(this, kOptions);
    convertButton = platform::Control<HoverButton>(this, kConvert);
    helpButton = platform::Control<HoverButton>(this, kHelp);
    aboutButton = platform::Control<HoverButton>(this, kAbout);
    homepageButton = platform::Control<HoverButton>(this, kHomepage);
    exitButton = platform::Control<HoverButton>(this, kExit);
    statusLine = platform::Control<QLabel>(this, kStatusLine);
    positionDisplay = platform::Control<QLabel>(this, kPositionDisplay);
    startMarkDisplay = platform::Control<QLabel>(this, kStartMarkDisplay);
    endMarkDisplay = platform::Control<QLabel>(this, kEndMarkDisplay);
    positionSlider = platform::Control<PositionSlider>(this, kPositionSlider);
    playButton = platform::Control<QPushButton>(this, kPlay);
    pauseButton = platform::Control<QPushButton>(this, kPause);
    stopButton = platform::Control<QPushButton>(this, kStop);
    startTimeButton = platform::Control<QPushButton>(this, kStartTime);
    endTimeButton = platform::Control<QPushButton>(this, kEndTime);
    progressBar = platform::Control<QProgressBar>(this, kProgressBar);
    idleWindowTitle = windowTitle();
}

void ConverterDialog::connectCommands() {
    // A button's command reaches its handler at once (a direct connection), so the handler sees
    // the state the click saw; only the graph's and the video window's messages are queued.
    auto bind = [this](QAbstractButton* button, void (ConverterDialog::*handler)()) {
        if (button) connect(button, &QAbstractButton::clicked, this, handler);
    };
    bind(openVideoButton, &ConverterDialog::OnOpenVideo);
    bind(optionsButton, &ConverterDialog::ShowOutputOptions);
    bind(convertButton, &ConverterDialog::OnConvert);
    bind(helpButton, &ConverterDialog::OnHelp);
    bind(aboutButton, &ConverterDialog::OnAbout);
    bind(homepageButton, &ConverterDialog::OnHomepage);
    bind(exitButton, &QDialog::accept);
    bind(playButton, &ConverterDialog::OnPlay);
    bind(pauseButton, &ConverterDialog::OnPause);
    bind(stopButton, &ConverterDialog::OnStop);
    bind(startTimeButton, &ConverterDialog::OnStartTime);
    bind(endTimeButton, &ConverterDialog::OnEndTime);
    if (positionSlider)
        connect(positionSlider, &PositionSlider::releasedCapture, this,
                &ConverterDialog::OnSliderReleased);
    // The hidden Close button stays in the template only for its command id.
    if (auto* close = platform::Control<QPushButton>(this, MainDialogIds::kCloseClip))
        connect(close, &QAbstractButton::clicked, this, &ConverterDialog::OnCloseClip);
}

bool ConverterDialog::OnInitDialog() {
    backgroundBitmap = platform::LoadBitmapResource(kBackgroundBitmap);
    AddAboutToSystemMenu();
    setWindowIcon(platform::LoadIconResource(kProgramIcon));
    conversionEngine.reset();

    // Before any control can start a thread that uses the media framework (a button's sound,
    // a probe): see StartMediaFramework.
    if (FAILED(media::StartMediaFramework())) {
        platform::ShowMessage(this, QStringLiteral("Could not initialize COM library."),
                              QStringLiteral("Error"));
        return true;
    }
    mediaStarted_ = true;

    DisableDivxFeedback();
    const platform::SettingsStore store;
    for (const CatalogueResult& failure : LoadCompressorChoices(outputSettings, store))
        ShowCatalogueFailure(failure);
    clipDefaults = ReadClipDefaults(store);
    SeedTransitionRandom(static_cast<std::uint32_t>(std::time(nullptr)));
    LoadOutputNameAndSize(outputSettings, store);
    ShowOutputSummary(SummaryForm::OriginalSize);
    dressButtons();
    if (positionSlider) {
        positionSlider->setRange(0, kSliderRange);
        positionSlider->setValue(0);
    }
    if (startMarkDisplay) startMarkDisplay->setText(QStringLiteral("00:00:00"));
    if (endMarkDisplay) endMarkDisplay->setText(QStringLiteral("00:00:00"));
    SetTransportEnabled(false);
    LoadFrameRateChoice(outputSettings, store);
    sourceOptions = LoadSourceOptions(store);
    return true;
}

void ConverterDialog::dressButtons() {
    for (const Dressing& dressing : kDressing) {
        auto* button = platform::Control<HoverButton>(this, dressing.id);
        if (!button) continue;
        button->SetIcon(dressing.icon);
        button->SetTooltipText(QString::fromLatin1(dressing.tooltip));
        button->SetCursorResource(kButtonCursor);
        button->SetSound(kButtonSound);
        button->DrawTransparent(true);
        // Tab must show where it is: the flat face alone looks the same focused or not.
        button->SetFlatFocus(true, false);
    }
}

void ConverterDialog::ShowStatus(const QString& text) {
    if (statusLine) statusLine->setText(text);
}

void ConverterDialog::ShowOutputSummary(SummaryForm form) {
    ShowStatus(OutputSummaryLine(outputSettings, form));
}

void ConverterDialog::OnHelp() { platform::LaunchHelp(); }

void ConverterDialog::OnHomepage() {
    platform::CurrentShell().openUrl(QUrl(QString::fromLatin1(kHomepageAddress)));
}

void ConverterDialog::closeEvent(QCloseEvent* event) {
    if (converting == 1) {
        platform::ShowFrameworkMessage(QStringLiteral("Please first stop Convert"));
        event->ignore();
        return;
    }
    outputSettings.videoCompressor.reset();
    outputSettings.audioCompressor.reset();
    if (mediaStarted_) {
        media::StopMediaFramework();
        mediaStarted_ = false;
    }
    QDialog::closeEvent(event);
}

void ConverterDialog::paintEvent(QPaintEvent* event) {
    if (!compressorsPrepared_ && mediaStarted_) {
        compressorsPrepared_ = true;
        // Start-up may not have needed the compressors (stored choices of none); Options will.
        // Their trials run in the background, after the first paint.
        QTimer::singleShot(0, this, [] { media::PrepareAviEncoders(); });
    }
    if (!backgroundBitmap.isNull()) {
        // Tiles from the top-left corner, each copy at the bitmap's own size.
        QPainter painter(this);
        painter.drawTiledPixmap(rect(), backgroundBitmap);
    }
    QDialog::paintEvent(event);
}

void ConverterDialog::timerEvent(QTimerEvent* event) {
    if (event->timerId() == progressTimer.timerId()) {
        OnTimer(PROGRESS_TIMER);
        return;
    }
    if (event->timerId() == progressRefreshTimer.timerId()) {
        RefreshProgress();
        return;
    }
    QDialog::timerEvent(event);
}

bool ConverterDialog::event(QEvent* event) {
    if (event->type() == platform::WindowMessageEvent::eventType()) {
        const auto* message = static_cast<platform::WindowMessageEvent*>(event);
        dispatchWindowMessage(message->message(), message->command());
        return true;
    }
    return QDialog::event(event);
}

void ConverterDialog::dispatchWindowMessage(int message, int command) {
    switch (message) {
        case WM_POSITIONNOTIFY:
            RefreshPosition();
            break;
        case WM_GRAPHNOTIFY:
            OnGraphEvent();
            break;
        case WM_COMMAND:
            if (command == MainDialogIds::kCloseClip) OnCloseClip();
            break;
        default:
            break;
    }
}
