// The main dialog's side of playback: the player in use, the position display and slider that
// follow it once a second, seeking by the slider, Play, Pause and Stop, the trim marks and
// closing the clip.

#include <QLabel>
#include <QPushButton>

#include "app/converter_app.h"
#include "app/converter_dialog.h"
#include "app/position_slider.h"
#include "app/source_player.h"
#include "media/core/frame_time.h"
#include "media/core/reference_time.h"
#include "platform/dialog_template.h"
#include "player/preview_player.h"

PreviewPlayer* currentPlayer = nullptr;

namespace {

QString Clock(ReferenceTime t) {
    return QString::fromStdString(FormatClock(t));
}

}  // namespace

void ConverterDialog::SetTransportEnabled(bool enable) {
    using namespace MainDialogIds;
    for (int id : {kConvert, kPositionSlider, kPlay, kPause, kStop, kStartTime, kEndTime,
                   kStartMarkDisplay, kEndMarkDisplay}) {
        // While converting, Convert reads "Stop" and is the only way to end the conversion
        // (the close box refuses until it is pressed); its end disables it when no clip is
        // left.
        if (id == kConvert && !enable && converting != 0) continue;
        if (QWidget* control = platform::FindControl(this, id)) control->setEnabled(enable);
    }
}

int ConverterDialog::CreateSourcePlayer(QString& path) {
    currentPlayer = new PreviewPlayer(this);
    currentPlayer->clipName = path;
    if (currentPlayer->LoadClipFile()) return 1;
    // The clip entry loses its file name, so that Convert refuses it.
    path.clear();
    DestroySourcePlayer();
    return 0;
}

int ConverterDialog::DestroySourcePlayer() {
    if (currentPlayer) {
        if (currentPlayer->playState != Closed) currentPlayer->UnloadClip();
        delete currentPlayer;
        currentPlayer = nullptr;
    }
    sliderPos = 0;
    if (positionSlider) positionSlider->setValue(0);
    update();
    return 1;
}

void ConverterDialog::RefreshPosition() {
    // The thumb and the text stand still while the user holds the thumb.
    if (theApp()->sliderDragging == 1) return;
    if (!currentPlayer) {
        if (positionDisplay) positionDisplay->setText(QString());
        return;
    }
    const ReferenceTime current = currentPlayer->currentPosition;
    const ReferenceTime stop = currentPlayer->stopPosition;
    if (positionDisplay)
        positionDisplay->setText(Clock(current) + QStringLiteral(" / ") + Clock(stop));
    sliderPos = stop != 0 ? static_cast<std::int32_t>(static_cast<double>(current) /
                                                      static_cast<double>(stop) * kSliderSteps)
                          : 0;
    if (positionSlider) positionSlider->setValue(sliderPos);
}

int ConverterDialog::SeekFromSlider(int position) {
    if (!currentPlayer || currentPlayer->stopPosition == 0) return 0;
    const auto target =
        static_cast<ReferenceTime>(static_cast<double>(position) / double(kSliderSteps) *
                                   static_cast<double>(currentPlayer->stopPosition));
    currentPlayer->SeekAbsolute(target);
    return 1;
}

void ConverterDialog::OnSliderReleased() {
    if (positionSlider) sliderPos = positionSlider->value();
    SeekFromSlider(sliderPos);
}

void ConverterDialog::OnPlay() {
    if (currentPlayer) currentPlayer->StartPlayback();
}

void ConverterDialog::OnPause() {
    if (currentPlayer) currentPlayer->PausePlayback();
}

void ConverterDialog::OnStop() {
    if (currentPlayer) currentPlayer->StopPlayback();
}

// The marks take the position of the picture on show at the press, read from the player
// then: the last tick's position can trail the picture by up to a second, and after a seek
// or a frame step it is still the old place. Nothing relates the two marks to each other.
void ConverterDialog::OnStartTime() {
    if (!currentPlayer) return;
    startMark = currentPlayer->LivePosition();
    ShowMark(startMarkDisplay, startMark);
}

void ConverterDialog::OnEndTime() {
    if (!currentPlayer) return;
    endMark = currentPlayer->LivePosition();
    ShowMark(endMarkDisplay, endMark);
}

void ConverterDialog::SetMarks(Marks marks) {
    startMark = marks.start;
    endMark = marks.end;
    ShowMark(startMarkDisplay, startMark);
    ShowMark(endMarkDisplay, endMark);
}

void ConverterDialog::ShowMark(QLabel* display, ReferenceTime mark) {
    if (!display) return;
    display->setText(Clock(mark));
    // No clip, no tooltip: the zero marks of a closed clip name no frame.
    if (!currentPlayer) {
        display->setToolTip(QString());
        return;
    }
    QString tip = QString::fromStdString(media::FormatClockMilliseconds(mark));
    const media::FrameRate rate = currentPlayer->frameRate();
    if (rate.known()) tip += QStringLiteral(" (frame %1)").arg(media::FrameIndexAt(mark, rate));
    display->setToolTip(tip);
}

void ConverterDialog::OnCloseClip() {
    DestroySourcePlayer();
    clipList.count = 0;
    startMark = 0;
    endMark = 0;
    ShowMark(startMarkDisplay, 0);
    ShowMark(endMarkDisplay, 0);
    if (positionDisplay) positionDisplay->setText(QString());
    SetTransportEnabled(false);
}
