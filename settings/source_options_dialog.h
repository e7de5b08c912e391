#pragma once

// The Source dialog, reached from the Output options dialog: the sound track of the open
// video, the subtitles burnt into the pictures (a track of the video or a file),
// deinterlacing and a target size. The lists are filled from the open video's tracks: a video
// with one sound track shows no sound track list, one without subtitle tracks offers only a
// file. It edits a copy; OK hands the choices back to the Output options dialog, whose own OK
// stores them.

#include <QDialog>

#include "media/session/render_session.h"
#include "media/source/source_tracks.h"
#include "settings/source_options.h"

class QComboBox;
class QLabel;
class QLineEdit;

namespace SourceOptionsIds {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kSoundTrackList = 1201;
inline constexpr int kSubtitlesList = 1202;
inline constexpr int kSubtitleFile = 1203;
inline constexpr int kBrowse = 1204;
inline constexpr int kDeinterlaceList = 1205;
inline constexpr int kTargetSize = 1206;
inline constexpr int kTargetSizeNote = 1207;
inline constexpr int kSoundTrackLabel = 1210;
}  // namespace SourceOptionsIds

class SourceOptionsDialog : public QDialog {
    Q_OBJECT

public:
    // tracks: the open video's; video: what the video compressor chosen in the Output options
    // dialog makes of the pictures, which decides how a target size is aimed at.
    SourceOptionsDialog(const SourceOptions& options, const media::SourceTracks& tracks,
                        const media::StreamRoute& video, QWidget* parent = nullptr);

    // After exec() returns Accepted: what OK confirmed.
    const SourceOptions& options() const { return record; }

    void OnSubtitlesChange();
    void OnBrowse();
    void OnOK();

    QComboBox* soundTrackList = nullptr;
    QComboBox* subtitlesList = nullptr;
    QLineEdit* subtitleFileBox = nullptr;
    QComboBox* deinterlaceList = nullptr;
    QLineEdit* targetSizeBox = nullptr;
    QLabel* targetSizeNote = nullptr;

private:
    void fill(const media::StreamRoute& video);
    // The subtitles list's last entry: a file.
    int fileEntry() const;

    SourceOptions record;
    media::SourceTracks tracks;
};
