// Conversion control: Convert and Stop, the graph's events, the end of a conversion and the
// elapsed-time display. The share converted is shown by converter_dialog_progress.cpp.

#include <QFile>
#include <QFileInfo>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "engine/conversion_engine.h"
#include "engine/timeline_builder.h"
#include "media/reference_time.h"
#include "platform/message_boxes.h"
#include "platform/settings_store.h"
#include "platform/window_messages.h"
#include "settings/compressor_catalogue.h"

namespace {

const char* const kNoCompressorWarning =
    "You do not select a video compressor in Options dialog. The output file will be very big.\n"
    "Strongly recommend you to install DivX codec, then select DivX as video compressor.\n"
    "If there is no DivX codec on your system, please download it at https://www.divx.com/\n"
    "Do you want to continue?";

// Replacing the output would delete the very file the conversion reads.
bool IsASource(const QString& outputName, const ClipList& clipList, const MusicList& musicList) {
    const QFileInfo output(outputName);
    if (!output.exists()) return false;
    auto same = [&output](const QString& path) {
        const QFileInfo source(path);
        return source.exists() && source.canonicalFilePath() == output.canonicalFilePath();
    };
    for (int i = 0; i < clipList.count; ++i)
        if (same(clipList[i].fileName)) return true;
    return musicList.count > 0 && same(musicList[0].fileName);
}

// A file exists for this purpose when it opens for reading.
bool OutputFileExists(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

}  // namespace

void ConverterDialog::OnConvert() {
    if (clipList.count == 0) {
        platform::ShowFrameworkMessage(QStringLiteral("Please open a video file first!"));
        return;
    }
    if (converting != 0) {
        FinishConversion();
        return;
    }
    // The graph of an earlier press is still being set up; it answers on its own.
    if (conversionEngine && conversionEngine->SettingUp()) return;

    // Marks that make no span would build a timeline of nothing, after the question that
    // deletes the existing output file: refuse them first.
    if (endMark <= startMark) {
        platform::ShowMessage(
            this,
            QStringLiteral("End Time (%1) is not after Start Time (%2), so there is nothing to "
                           "convert.\nPlease set Start Time and End Time again.")
                .arg(QString::fromStdString(FormatClock(endMark)),
                     QString::fromStdString(FormatClock(startMark))),
            QStringLiteral("Error"));
        return;
    }

    const QString& outputName = outputSettings.outputName;
    if (IsASource(outputName, clipList, musicList)) {
        platform::ShowFrameworkMessage(
            QStringLiteral("The output file is the video being converted. Please choose another "
                           "output file in Options dialog."));
        return;
    }
    if (OutputFileExists(outputName)) {
        const platform::BoxAnswer answer = platform::ShowMessage(
            this, QStringLiteral("%1 exists. Do you want to replace it?").arg(outputName),
            QStringLiteral("Warning"), platform::BoxButtons::YesNo, platform::BoxIcon::Exclamation);
        if (answer != platform::BoxAnswer::Yes) return;
        QFile::remove(outputName);  // the writer replaces it anyway when this fails
    }
    if (outputSettings.videoCompressionOn == 0) {
        const platform::BoxAnswer answer = platform::ShowMessage(
            this, QString::fromLatin1(kNoCompressorWarning), QStringLiteral("Warning"),
            platform::BoxButtons::YesNo, platform::BoxIcon::None);
        if (answer == platform::BoxAnswer::No) return;
    }
    DisableDivxFeedback();

    activeTimeline.emplace();
    TimelineBuilder builder(clipList, musicList, startMark, endMark, outputSettings, totalDuration,
                            this);
    if (FAILED(builder.BuildTimeline(&*activeTimeline))) return;

    // Discovery and set-up run off this thread; Convert waits for their answer.
    if (convertButton) convertButton->setEnabled(false);
    StartConversionRender(
        *activeTimeline, CurrentOutputGraphSettings(outputSettings, platform::SettingsStore()),
        this, WM_GRAPHNOTIFY, [this](HRESULT status) { OnConversionSetUp(status); });
}

void ConverterDialog::OnConversionSetUp(HRESULT status) {
    if (FAILED(status)) {
        // The failing step has said why; nothing else changes.
        if (convertButton) convertButton->setEnabled(clipList.count > 0);
        return;
    }
    converting = 1;
    if (convertButton) {
        convertButton->setEnabled(true);
        convertButton->setText(QStringLiteral("Stop"));
    }
    progressTimer.start(1000, this);
    StartProgress();
}

void ConverterDialog::OnGraphEvent() {
    if (!conversionEngine) return;
    long code = 0;
    QString text;
    // Finishing empties the holder, which ends the loop.
    while (conversionEngine && conversionEngine->GetEvent(&code, &text)) {
        if (code == media::EC_COMPLETE) {
            // Only a render that ran to its end reaches 100%; after Stop the share stays put.
            conversionProgress.Complete();
            FinishConversion();
            // A source that fell short of its span is not a silent success.
            if (!text.isEmpty())
                platform::ShowMessage(this, text, QStringLiteral("Warning"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::Exclamation);
        } else if (code == media::EC_ERRORABORT) {
            FailConversion(text);
        }
    }
}

void ConverterDialog::FinishConversion() {
    progressTimer.stop();
    HoldProgress();
    // A graph still rendering first finishes its file; its completion event comes back here.
    if (conversionEngine && !conversionEngine->Stop()) return;
    if (conversionEngine) conversionEngine->SetNotifyWindow(nullptr, 0);
    EmptyConversionHolders();
    converting = 0;
    if (convertButton) convertButton->setText(QStringLiteral("Convert"));
    elapsedSeconds = 0;
    HideProgress();
    ShowStatus(QStringLiteral("Done. Output File: %1     Resolution: %2*%3")
                   .arg(outputSettings.outputName, QString::number(outputSettings.outputWidth),
                        QString::number(outputSettings.outputHeight)));
}

void ConverterDialog::FailConversion(const QString& text) {
    progressTimer.stop();
    HoldProgress();
    HideProgress();
    if (conversionEngine) conversionEngine->SetNotifyWindow(nullptr, 0);
    EmptyConversionHolders();
    converting = 0;
    if (convertButton) convertButton->setText(QStringLiteral("Convert"));
    elapsedSeconds = 0;
    errorText = text.left(static_cast<qsizetype>(media::kErrorTextLimit) - 1);
    // The line says what became of the file; the box says why.
    ShowStatus(QStringLiteral("Conversion failed. Output File: %1").arg(outputSettings.outputName));
    platform::ShowFrameworkMessage(errorText);
}

void ConverterDialog::OnTimer(int id) {
    if (id != PROGRESS_TIMER) return;
    ++elapsedSeconds;
    ShowStatus(ProgressStatusLine(elapsedSeconds, conversionProgress.Running()
                                                      ? conversionProgress.RemainingSeconds()
                                                      : std::nullopt));
}
