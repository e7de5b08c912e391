// Conversion control: Convert and Stop, the graph's events, the end of a conversion and the
// elapsed-time display. The share converted is shown by converter_dialog_progress.cpp.

#include <QFile>
#include <QFileInfo>
#include <QLocale>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "engine/conversion_engine.h"
#include "engine/timeline_builder.h"
#include "media/copy/stream_copy.h"
#include "media/core/media_framework.h"
#include "media/core/reference_time.h"
#include "media/session/render_session.h"
#include "platform/file_checks.h"
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

// A file exists for this purpose when it opens for reading. Only ever asked of a regular file
// or nothing: a named pipe would hold the open until something writes into it.
bool OutputFileExists(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly);
}

// The words that name a failed step of the timeline's build.
const char* TimelineStepText(TimelineStep step) {
    switch (step) {
        case TimelineStep::CreateTimeline:
            return "Could not create timeline";
        case TimelineStep::VideoMediaType:
            return "Could not pVideoGroup->SetMediaType(&mtGroup)";
        case TimelineStep::VideoFrameRate:
            return "Could not SetOutputFPS";
        case TimelineStep::AddVideoGroup:
            return "Could not add video group";
        case TimelineStep::InsertVideoTrack:
            return "Could not insert track";
        case TimelineStep::ConfigureVideoSource:
            return "Could not configure media source";
        case TimelineStep::AddVideoSource:
            return "Could not add source to track";
        case TimelineStep::TransitionTooLong:
            return "Transition time should be less than";
        case TimelineStep::TransitionClass:
            return "Could not SetSubObjectGUID";
        case TimelineStep::TransitionTimes:
            return "Could not SetStartStop(TLTranStart, TLTranStop);";
        case TimelineStep::AddTransition:
            return "Could not TransAdd(pTransObj)";
        case TimelineStep::TransitionMask:
            return "Could not SetPropertySetter";
        case TimelineStep::AudioMediaType:
            return "Could not set AudioGroupType";
        case TimelineStep::AddAudioGroup:
            return "Could not add audio group";
        case TimelineStep::InsertAudioTrack:
            return "Could not insert pTrack3Obj";
        case TimelineStep::AudioMediaTimes:
            return "Could not set audio start and eng time!";
        case TimelineStep::AudioMediaName:
            return "Could not configure pSource3Src";
        case TimelineStep::AddAudioSource:
            return "Could not add pSource3Obj to track";
    }
    return "";
}

// The box that names a failed step of the timeline's build (the dialog's own for the timeline
// itself, a framework box for every other step), then the reason where there is one.
void ShowTimelineFailure(QWidget* owner, const TimelineFailure& failure) {
    const QString text = QString::fromLatin1(TimelineStepText(failure.step));
    if (failure.step == TimelineStep::CreateTimeline)
        platform::ShowMessage(owner, text, QStringLiteral("Error"));
    else
        platform::ShowFrameworkMessage(text);
    if (!failure.reason.isEmpty()) platform::ShowFrameworkMessage(failure.reason);
}

}  // namespace

void ConverterDialog::ShowSetupFailure(const media::RenderSetupResult& result) {
    auto say = [](const char* text) { platform::ShowFrameworkMessage(QString::fromLatin1(text)); };
    // The media framework's words for the failure, in a box of their own; where a step never
    // had words of its own, only when there is a reason to give.
    auto explain = [this, &result](bool evenWithoutReason) {
        if (result.errorText.empty() && !evenWithoutReason) return;
        errorText = QString::fromStdString(media::ErrorText(result.status, result.errorText));
        platform::ShowFrameworkMessage(errorText);
    };
    switch (result.failedStep) {
        case media::RenderStep::SetTimelineObject:
            say("Could not SetTimelineObject");
            explain(false);
            break;
        case media::RenderStep::ConnectFrontEnd:
            say("Could not ConnectFrontEnd");
            explain(true);
            break;
        case media::RenderStep::GetGroupCount:
            say("Could not GetGroupCount( &Groups )");
            explain(false);
            break;
        case media::RenderStep::SetOutputFileName:
            say("Error pBuilder->SetOutputFileName(&guid, Filename, &pMux, &pWriter )");
            explain(true);
            break;
        case media::RenderStep::AddVideoCompressor:
        case media::RenderStep::AddAudioCompressor:
            explain(true);
            break;
        case media::RenderStep::RenderVideoStream:
        case media::RenderStep::RenderAudioStream:
            say("failed pBuilder->RenderStream( NULL, NULL, pPin, NULL, pMux )");
            explain(true);
            break;
        case media::RenderStep::Run:
            say("can not pControl->Run()!!!");
            explain(true);
            break;
        case media::RenderStep::None:
            break;
    }
}

void ConverterDialog::OnConvert() {
    // Stop first: the video window may have been closed since the conversion started, and
    // Stop must still end it.
    if (converting != 0) {
        FinishConversion();
        return;
    }
    if (clipList.count == 0) {
        platform::ShowFrameworkMessage(QStringLiteral("Please open a video file first!"));
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
    // A folder, a device or a named pipe is not a file to replace: a conversion would destroy
    // it, and the question below would wait on a pipe for ever.
    if (const QString problem = platform::OutputFileProblem(outputName); !problem.isEmpty()) {
        platform::ShowFrameworkMessage(
            QStringLiteral("%1 cannot be replaced: %2\nPlease choose another output file in "
                           "Options dialog.")
                .arg(platform::QuotedPath(outputName), problem));
        return;
    }
    // On Yes nothing is deleted: the conversion replaces the file only once its own file is
    // finished, so a failure leaves this one as it was.
    if (OutputFileExists(outputName)) {
        const platform::BoxAnswer answer = platform::ShowMessage(
            this, QStringLiteral("%1 exists. Do you want to replace it?").arg(outputName),
            QStringLiteral("Warning"), platform::BoxButtons::YesNo, platform::BoxIcon::Exclamation);
        if (answer != platform::BoxAnswer::Yes) return;
    }
    if (outputSettings.videoCompressionOn == 0) {
        const platform::BoxAnswer answer = platform::ShowMessage(
            this, QString::fromLatin1(kNoCompressorWarning), QStringLiteral("Warning"),
            platform::BoxButtons::YesNo, platform::BoxIcon::None);
        if (answer == platform::BoxAnswer::No) return;
    }
    DisableDivxFeedback();
    if (FAILED(media::StartEditingServices())) {
        platform::ShowFrameworkMessage(QString::fromStdString(media::LastErrorText()));
        return;
    }

    // The compressor's own limits on the frame (even sides for 4:2:0) decide the size written;
    // the options keep the size asked for.
    OutputSettings converted = outputSettings;
    sizeNote.clear();
    if (converted.videoCompressionOn == 1 && converted.videoCompressor &&
        !converted.videoCompressor->streamCopy) {
        const media::FrameSize fitted = media::FrameSizeForEncoder(
            converted.videoCompressor->factoryName, converted.outputWidth, converted.outputHeight);
        if (!(fitted == media::FrameSize{converted.outputWidth, converted.outputHeight}))
            sizeNote = QStringLiteral(
                           "%1 takes only frames of even sides: the output is %2*%3, "
                           "not %4*%5.")
                           .arg(converted.videoCompressor->friendlyName)
                           .arg(fitted.width)
                           .arg(fitted.height)
                           .arg(converted.outputWidth)
                           .arg(converted.outputHeight);
        converted.outputWidth = fitted.width;
        converted.outputHeight = fitted.height;
    }
    media::TimelineModel timeline;
    TimelineBuilder builder(clipList, musicList, startMark, endMark, converted, totalDuration);
    const HRESULT built = builder.BuildTimeline(&timeline);
    for (const TimelineFailure& failure : builder.Failures()) ShowTimelineFailure(this, failure);
    // A timeline that lost its picture or its sound would be converted without it and reported
    // as done.
    if (FAILED(built) || !builder.Complete()) return;

    // Discovery and set-up run off this thread; Convert waits for their answer.
    HoldConvert(true);
    copiedStreams.clear();
    media::RenderPlan plan = ConversionPlan(
        std::move(timeline), CurrentOutputGraphSettings(outputSettings, platform::SettingsStore()));
    if (!ApplySourceChoices(plan)) {
        HoldConvert(false);
        return;
    }
    if (media::UsesStreamCopy(plan)) {
        InspectCopy(std::move(plan));
        return;
    }
    StartRender(std::move(plan));
}

void ConverterDialog::StartRender(media::RenderPlan plan) {
    conversionEngine = StartConversionRender(
        std::move(plan), this, WM_GRAPHNOTIFY,
        [this](const media::RenderSetupResult& result) { OnConversionSetUp(result); },
        sizeTarget);
}

void ConverterDialog::OnConversionSetUp(const media::RenderSetupResult& result) {
    if (FAILED(result.status)) {
        ShowSetupFailure(result);
        HoldConvert(false);
        return;
    }
    converting = 1;
    if (convertButton) convertButton->setText(QStringLiteral("Stop"));
    HoldConvert(false);
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
            const QString written = conversionEngine->OutputName();
            const bool whole = conversionProgress.Completed();
            FinishConversion();
            if (whole) CheckTargetSize(written);
            // A source that fell short of its span is not a silent success.
            if (!sizeNote.isEmpty()) text = sizeNote + (text.isEmpty() ? QString() : "\n" + text);
            if (!text.isEmpty())
                platform::ShowMessage(this, text, QStringLiteral("Warning"),
                                      platform::BoxButtons::Ok, platform::BoxIcon::Exclamation);
        } else if (code == media::EC_ERRORABORT) {
            FailConversion(text);
        }
    }
}

void ConverterDialog::HoldConvert(bool hold) {
    if (!convertButton) return;
    if (hold) {
        // Disabling the focused button hands the focus on to the next one (Help); it comes
        // back when Convert does, so that Space or Enter stops what Convert started.
        convertHadFocus_ = convertButton->hasFocus();
        convertButton->setEnabled(false);
        return;
    }
    convertButton->setEnabled(clipList.count > 0 || converting != 0);
    if (convertHadFocus_ && convertButton->isEnabled()) convertButton->setFocus();
    convertHadFocus_ = false;
}

void ConverterDialog::FinishConversion() {
    progressTimer.stop();
    HoldProgress();
    // A graph still rendering first finishes its file; its completion event comes back here.
    if (conversionEngine && !conversionEngine->Stop()) return;
    // The file really written and its picture size: Options may have named another file since
    // the conversion started, and the size asked may have been fitted to the compressor.
    QString written = outputSettings.outputName;
    std::int32_t width = outputSettings.outputWidth;
    std::int32_t height = outputSettings.outputHeight;
    if (conversionEngine) {
        written = conversionEngine->OutputName();
        if (const auto video = conversionEngine->WrittenVideo()) {
            width = video->width;
            height = video->height;
            // A copy says what it really did: what it encoded again to cut exactly.
            if (!video->copied.empty()) copiedStreams = QString::fromStdString(video->copied);
        }
        conversionEngine->SetNotifyWindow(nullptr, 0);
    }
    conversionEngine.reset();
    converting = 0;
    if (convertButton) {
        convertButton->setText(QStringLiteral("Convert"));
        // Closing the video window left Stop enabled for this conversion alone.
        convertButton->setEnabled(clipList.count > 0);
    }
    elapsedSeconds = 0;
    HideProgress();
    const QFileInfo file(written);
    const QString size =
        file.exists() ? QStringLiteral(" (%1)").arg(QLocale::system().formattedDataSize(
                            file.size(), 1, QLocale::DataSizeSIFormat))
                      : QString();
    ShowStatus(QStringLiteral("Done. Output File: %1%2     Resolution: %3*%4")
                   .arg(written, size, QString::number(width), QString::number(height)) +
               (copiedStreams.isEmpty() ? QString() : QStringLiteral("     ") + copiedStreams));
}

void ConverterDialog::FailConversion(const QString& text) {
    progressTimer.stop();
    HoldProgress();
    HideProgress();
    const QString written =
        conversionEngine ? conversionEngine->OutputName() : outputSettings.outputName;
    if (conversionEngine) conversionEngine->SetNotifyWindow(nullptr, 0);
    conversionEngine.reset();
    converting = 0;
    if (convertButton) {
        convertButton->setText(QStringLiteral("Convert"));
        convertButton->setEnabled(clipList.count > 0);
    }
    elapsedSeconds = 0;
    errorText = text.left(static_cast<qsizetype>(media::kErrorTextLimit) - 1);
    // The line says what became of the file; the box says why.
    ShowStatus(QStringLiteral("Conversion failed. Output File: %1").arg(written));
    platform::ShowFrameworkMessage(errorText);
}

void ConverterDialog::OnTimer(int id) {
    if (id != PROGRESS_TIMER) return;
    ++elapsedSeconds;
    ShowStatus(ProgressStatusLine(elapsedSeconds, conversionProgress.Running()
                                                      ? conversionProgress.RemainingSeconds()
                                                      : std::nullopt));
}
