#include "settings/source_options_dialog.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cmath>

#include "media/render/size_target.h"
#include "platform/dialog_template.h"
#include "platform/file_chooser.h"
#include "platform/message_boxes.h"
#include "platform/paths.h"
#include "platform/settings_store.h"

namespace {

QString trackText(const media::SourceTrack& track) {
    return QString::fromStdString(media::TrackChoiceText(track));
}

}  // namespace

SourceOptionsDialog::SourceOptionsDialog(const SourceOptions& options,
                                         const media::SourceTracks& tracks,
                                         const media::StreamRoute& video, QWidget* parent)
    : QDialog(parent), record(options), tracks(tracks) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    if (auto dialogTemplate =
            platform::LoadDialogTemplate(QStringLiteral(":/dialogs/source_dialog_131.json")))
        platform::BuildDialog(this, *dialogTemplate);
    using namespace SourceOptionsIds;
    soundTrackList = platform::Control<QComboBox>(this, kSoundTrackList);
    subtitlesList = platform::Control<QComboBox>(this, kSubtitlesList);
    subtitleFileBox = platform::Control<QLineEdit>(this, kSubtitleFile);
    deinterlaceList = platform::Control<QComboBox>(this, kDeinterlaceList);
    targetSizeBox = platform::Control<QLineEdit>(this, kTargetSize);
    targetSizeNote = platform::Control<QLabel>(this, kTargetSizeNote);
    // The template is compiled into the program; without it there is nothing to edit.
    Q_ASSERT(soundTrackList && subtitlesList && subtitleFileBox && deinterlaceList &&
             targetSizeBox && targetSizeNote);
    auto bind = [this](int id, void (SourceOptionsDialog::*handler)()) {
        if (auto* button = platform::Control<QPushButton>(this, id))
            connect(button, &QPushButton::clicked, this, handler);
    };
    bind(kOk, &SourceOptionsDialog::OnOK);
    bind(kCancel, &QDialog::reject);
    bind(kBrowse, &SourceOptionsDialog::OnBrowse);
    connect(subtitlesList, &QComboBox::activated, this, [this] { OnSubtitlesChange(); });
    fill(video);
}

int SourceOptionsDialog::fileEntry() const {
    return subtitlesList->count() - 1;
}

void SourceOptionsDialog::fill(const media::StreamRoute& video) {
    // A video with one sound track has nothing to choose.
    const int soundTracks = media::CountTracks(tracks, media::TrackKind::Sound);
    for (const media::SourceTrack& track : tracks)
        if (track.kind == media::TrackKind::Sound) soundTrackList->addItem(trackText(track));
    soundTrackList->setCurrentIndex(
        record.audioTrack >= 1 && record.audioTrack <= soundTracks ? record.audioTrack - 1 : 0);
    const bool soundChoice = soundTracks > 1;
    soundTrackList->setVisible(soundChoice);
    if (QWidget* label = platform::FindControl(this, SourceOptionsIds::kSoundTrackLabel))
        label->setVisible(soundChoice);

    subtitlesList->addItem(QStringLiteral("None"));
    for (const media::SourceTrack& track : tracks)
        if (track.kind == media::TrackKind::Subtitles) subtitlesList->addItem(trackText(track));
    subtitlesList->addItem(QStringLiteral("From a file"));
    const int subtitleTracks = media::CountTracks(tracks, media::TrackKind::Subtitles);
    if (!record.subtitleFile.isEmpty())
        subtitlesList->setCurrentIndex(fileEntry());
    else if (record.subtitleTrack >= 1 && record.subtitleTrack <= subtitleTracks)
        subtitlesList->setCurrentIndex(record.subtitleTrack);
    else
        subtitlesList->setCurrentIndex(0);
    subtitleFileBox->setText(record.subtitleFile);
    OnSubtitlesChange();

    deinterlaceList->setCurrentIndex(static_cast<int>(record.deinterlace));
    targetSizeBox->setText(record.targetSizeMegabytes > 0.0
                               ? QString::number(record.targetSizeMegabytes)
                               : QString());
    // How the video compressor chosen now aims at a size, or why it cannot.
    const std::string refusal = media::SizeTargetRefusal(video);
    targetSizeNote->setText(
        !refusal.empty() ? QString::fromStdString(refusal)
        : media::SizeTargetTwoPasses(video)
            ? QStringLiteral("The size is aimed at in two passes with this video compressor.")
            : QStringLiteral("The size is aimed at in one pass: this video compressor has no "
                             "two-pass mode."));
}

void SourceOptionsDialog::OnSubtitlesChange() {
    const bool file = subtitlesList->currentIndex() == fileEntry();
    subtitleFileBox->setVisible(file);
    if (QWidget* browse = platform::FindControl(this, SourceOptionsIds::kBrowse))
        browse->setVisible(file);
}

void SourceOptionsDialog::OnBrowse() {
    platform::FileRequest request;
    request.owner = this;
    request.title = QStringLiteral("Select a subtitle file...");
    const QString current = subtitleFileBox->text();
    request.initialFolder = current.isEmpty() ? platform::FolderOf(record.sourceFile)
                                              : platform::FolderOf(current);
    request.filters = {{QStringLiteral("Subtitle files (*.srt;*.ass;*.ssa;*.sub;*.vtt)"),
                        QStringLiteral("*.srt;*.ass;*.ssa;*.sub;*.vtt")},
                       {QStringLiteral("Any Files (*.*)"), QStringLiteral("*.*")}};
    request.selectedFilter = 0;
    const QString path = platform::CurrentFileChooser().chooseOpenFile(request);
    if (!path.isEmpty()) subtitleFileBox->setText(path);
}

void SourceOptionsDialog::OnOK() {
    const QString sizeText = targetSizeBox->text().trimmed();
    bool ok = sizeText.isEmpty();
    const double size = ok ? 0.0 : sizeText.toDouble(&ok);
    if (!ok || !std::isfinite(size) || size < 0.0) {
        platform::ShowMessage(this,
                              QStringLiteral("The target size is a number of megabytes (1 MB = "
                                             "1,000,000 bytes), or empty for none."),
                              platform::ProgramBaseName());
        return;
    }
    const int subtitles = subtitlesList->currentIndex();
    if (subtitles == fileEntry() && subtitleFileBox->text().trimmed().isEmpty()) {
        platform::ShowMessage(this, QStringLiteral("Please choose the subtitle file."),
                              platform::ProgramBaseName());
        return;
    }
    record.audioTrack = soundTrackList->currentIndex() >= 0 ? soundTrackList->currentIndex() + 1 : 1;
    record.subtitleFile = subtitles == fileEntry() ? subtitleFileBox->text().trimmed() : QString();
    record.subtitleTrack = subtitles > 0 && subtitles < fileEntry() ? subtitles : 0;
    record.deinterlace = static_cast<media::DeinterlaceMode>(std::max(0, deinterlaceList->currentIndex()));
    record.targetSizeMegabytes = size;
    QDialog::accept();
}
