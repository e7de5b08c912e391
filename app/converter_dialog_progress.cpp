// Progress of a conversion: the share converted in the thin bar under the buttons and in the
// window title, read four times a second from the render's position. The elapsed-time line and
// its one-second count stay with the conversion control; this only adds the time left to it.

#include <QProgressBar>

#include "app/converter_dialog.h"
#include "engine/conversion_engine.h"

namespace {

// Often enough for the bar to move smoothly; a position query costs next to nothing.
constexpr int kProgressRefreshMs = 250;

}  // namespace

void ConverterDialog::StartProgress() {
    // What GES really placed: a clip running past the end of its file comes out shorter than
    // the marks ask for, and the share must still reach its end.
    ReferenceTime length = endMark - startMark;
    if (conversionEngine && conversionEngine->Duration() > 0) length = conversionEngine->Duration();
    conversionProgress = ConversionProgress(length);
    conversionClock.start();
    if (progressBar) {
        progressBar->setValue(0);
        progressBar->show();
    }
    setWindowTitle(ProgressWindowTitle(0, idleWindowTitle));
    progressRefreshTimer.start(kProgressRefreshMs, this);
}

void ConverterDialog::RefreshProgress() {
    if (!conversionEngine || !conversionProgress.Running()) return;
    // The render session answers position queries under a lock no streaming thread takes, so
    // this never waits on the pipeline.
    conversionProgress.Sample(std::chrono::milliseconds(conversionClock.elapsed()),
                              conversionEngine->Position());
    const int percent = conversionProgress.Percent();
    if (progressBar) progressBar->setValue(percent);
    setWindowTitle(ProgressWindowTitle(percent, idleWindowTitle));
}

void ConverterDialog::HoldProgress() {
    progressRefreshTimer.stop();
    conversionProgress.Interrupt();
}

void ConverterDialog::HideProgress() {
    progressRefreshTimer.stop();
    if (progressBar) progressBar->hide();
    setWindowTitle(idleWindowTitle);
}
