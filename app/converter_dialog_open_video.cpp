// Open Video: the way a video enters the program, by the file dialog or by dropping a file on
// the main dialog or the video window. The chosen file is measured off the UI thread (a bad
// file can take the decoder seconds to give up), then becomes the whole project: entry 0 of
// both lists, marks over the whole clip, the source facts in the output settings, and the
// video window.

#include <QDropEvent>
#include <QFutureWatcher>
#include <QLabel>
#include <QtConcurrent>

#include "app/converter_dialog.h"
#include "app/source_player.h"
#include "media/source/media_probe.h"
#include "platform/dropped_files.h"
#include "platform/file_checks.h"
#include "platform/file_chooser.h"
#include "platform/message_boxes.h"
#include "platform/paths.h"
#include "platform/settings_store.h"

namespace {

const QString kOptionSection = QStringLiteral("Option");
const QString kLastFolderKey = QStringLiteral("LastPhotoFolder");

// A file whose probe found no frame rate at all is taken at this rate.
constexpr double kUnknownFrameRate = 25.0;

QString Clock(ReferenceTime t) {
    return QString::fromStdString(FormatClock(t));
}

platform::FileRequest OpenVideoRequest(QWidget* owner, const QString& folder) {
    platform::FileRequest request;
    request.owner = owner;
    request.title = QStringLiteral("Select a video file...");
    request.initialFolder = folder;
    request.filters = {
        {QStringLiteral(
             "Video Files (*.mpeg;*.mpg;*.avi;*.wmv;*.dat;*.asf;*.vob;*.ogm;*.divx;*.div)"),
         // The name lists the classic formats; the pattern, every container the decoders open.
         QStringLiteral("*.mpeg;*.mpg;*.avi;*.asf;*.wmv;*.dat;*.vob;*.ogm;*.divx;*.div;*.mp4;"
                        "*.m4v;*.mkv;*.mov;*.webm;*.ts;*.m2ts;*.mts;*.flv;*.ogv;*.ogg;*.3gp;"
                        "*.3g2;*.mxf;*.m2v")},
        {QStringLiteral("Any Files (*.*)"), QStringLiteral("*.*;")},
    };
    request.selectedFilter = 0;
    return request;
}

// Whether a drag may end here: it names a file and no other file is being measured.
void OfferDrop(QDropEvent* event, bool measuring) {
    if (measuring || platform::DroppedFilePath(event->mimeData()).isEmpty())
        event->ignore();
    else
        platform::AcceptFileDrop(event);
}

}  // namespace

void ConverterDialog::OnOpenVideo() {
    // A file is still being measured: its result decides what happens next.
    if (openingVideo) return;

    platform::SettingsStore store;
    const QString folder = store.readString(kOptionSection, kLastFolderKey, QString());
    const QString path =
        platform::CurrentFileChooser().chooseOpenFile(OpenVideoRequest(this, folder));
    if (path.isEmpty()) return;
    OpenVideoFile(path);
}

void ConverterDialog::OpenVideoFile(const QString& path) {
    if (openingVideo) return;

    // Every stored file name holds 259 characters; a longer one is refused before anything
    // changes, rather than cut to another file's name.
    if (path.size() > platform::kMaxPathLength) {
        platform::ShowMessage(
            this,
            QStringLiteral("The file name is too long to be opened:\n%1\n\n"
                           "Please choose a file whose full path has at most %2 characters.")
                .arg(path, QString::number(platform::kMaxPathLength)),
            QStringLiteral("Error"));
        return;
    }

    // A file that cannot even be read is refused here, with the reason: the decoders' message
    // would send the user looking for codecs, and a pipe would hold the probe for ever.
    const QString problem = platform::InputFileProblem(path);
    if (!problem.isEmpty()) {
        platform::ShowMessage(
            this, QStringLiteral("Cannot open %1.\n%2").arg(platform::QuotedPath(path), problem),
            QStringLiteral("Error"));
        return;
    }

    // The lists keep the open clip until the new one has been measured: a refused file must
    // not take away the project that is still playing in the video window.
    openingVideo = true;
    auto* watcher = new QFutureWatcher<media::ProbeResult>(this);
    connect(watcher, &QFutureWatcher<media::ProbeResult>::finished, this, [this, watcher, path] {
        const media::ProbeResult probe = watcher->result();
        watcher->deleteLater();
        openingVideo = false;
        FinishOpenVideo(path, probe);
    });
    const std::string file = path.toStdString();
    watcher->setFuture(QtConcurrent::run([file] { return media::ProbeMediaFile(file); }));
}

// A file dropped on the dialog, or on the video window, which hands its drags on to here.
// Drops are refused while a file is being measured, as Open Video waits then.
void ConverterDialog::dragEnterEvent(QDragEnterEvent* event) {
    OfferDrop(event, openingVideo);
}

void ConverterDialog::dragMoveEvent(QDragMoveEvent* event) {
    OfferDrop(event, openingVideo);
}

void ConverterDialog::dropEvent(QDropEvent* event) {
    const QString path = platform::DroppedFilePath(event->mimeData());
    if (openingVideo || path.isEmpty() || !platform::AcceptFileDrop(event)) {
        event->ignore();
        return;
    }
    // Opened once the drop is over: the program that dragged the file is not kept waiting
    // while a message box asks about it.
    QMetaObject::invokeMethod(
        this, [this, path] { OpenVideoFile(path); }, Qt::QueuedConnection);
}

int ConverterDialog::ProbeSourceClip(const media::ProbeResult& probe, ReferenceTime& length) {
    if (FAILED(probe.status)) {
        // Includes a file that the decoders did not finish reading in time.
        platform::ShowMessage(
            this,
            QStringLiteral("Cannot open the file. You need to install appropriate "
                           "decoders.\nOr the file is corrupt."),
            QStringLiteral("Framewell"));
        return 0;
    }
    length = probe.duration;
    // A file without a picture (sound only) has no size to read.
    if (!probe.hasVideo || probe.width <= 0 || probe.height <= 0) return 0;
    outputSettings.sourceWidth = probe.width;
    outputSettings.sourceHeight = probe.height;
    outputSettings.outputWidth = outputSettings.sourceWidth;
    outputSettings.outputHeight = outputSettings.sourceHeight;
    const double rate = probe.frameRate();
    outputSettings.sourceFrameRate = rate > 0.0 ? rate : kUnknownFrameRate;
    return 1;
}

void ConverterDialog::FinishOpenVideo(const QString& path, const media::ProbeResult& probe) {
    // A single picture has no length to mark or convert; like any refused file it changes
    // nothing.
    if (SUCCEEDED(probe.status) && probe.stillImage) {
        platform::ShowMessage(
            this,
            QStringLiteral("%1 is a still picture, not a video.\nPlease choose a video file.")
                .arg(platform::QuotedPath(path)),
            QStringLiteral("Error"));
        return;
    }
    ReferenceTime length = 0;
    if (!ProbeSourceClip(probe, length)) {
        platform::ShowMessage(this, QStringLiteral("Can not get the duration of the clip!"),
                              QStringLiteral("Error"));
        return;
    }

    clipDefaults.clipDuration = static_cast<std::int32_t>(length / kReferenceTimePerSecond);
    sourceTracks = probe.tracks;
    sourceSound = {probe.audioRate, probe.audioChannels, probe.audioBitsPerSecond};
    sourceOptions = SourceOptionsForOpenedVideo(sourceOptions, path);
    clipList.count = 0;
    musicList.count = 0;
    appendClip(clipList, path, clipDefaults);

    // The music entry keeps the exact length. The probe above already measured this file, so
    // its result stands in for a second measurement of the same file.
    musicList[0].fileName = path;
    musicList[0].duration = probe.duration;
    musicList.count = 1;

    platform::SettingsStore store;
    store.writeString(kOptionSection, kLastFolderKey, folderOf(path));

    // The end mark is the clip's whole length, not the whole seconds of it: a conversion of
    // the marks as they stand writes every picture.
    startMark = 0;
    endMark = length;
    if (positionDisplay)
        positionDisplay->setText(Clock(0) + QStringLiteral(" / ") + Clock(endMark));
    if (endMarkDisplay) endMarkDisplay->setText(Clock(endMark));
    if (startMarkDisplay) startMarkDisplay->setText(QStringLiteral("00:00:00"));

    DestroySourcePlayer();
    CreateSourcePlayer(clipList[0].fileName);
    SetTransportEnabled(true);
    // The new clip's frame rate names the frames in the marks' tooltips.
    ShowMark(startMarkDisplay, startMark);
    ShowMark(endMarkDisplay, endMark);

    ShowOutputSummary(SummaryForm::Size);
    if (outputSettings.frameRateIndex == kFrameRateOriginal)
        outputSettings.outputFrameRate = outputSettings.sourceFrameRate;
}
