#pragma once

// The Output options dialog: output file, frame size, frame rate, resize mode, video and
// audio compressor, and the Settings of the chosen video codec. It edits its own copy of the
// record; only OK stores anything: it writes the settings, rebinds the record's compressors and
// ends the dialog, and the caller then takes the confirmed record back.

#include <QDialog>

#include <cstdint>

#include "media/session/render_session.h"

#include "media/source/source_tracks.h"
#include "settings/output_settings.h"
#include "settings/source_options.h"

class QComboBox;
class QLineEdit;

// Control ids of the dialog's template.
namespace OutputOptionsIds {
inline constexpr int kOk = 1;
inline constexpr int kCancel = 2;
inline constexpr int kVideoCompressorList = 1001;
inline constexpr int kAudioCompressorList = 1002;
inline constexpr int kOutputFile = 1022;
inline constexpr int kBrowse = 1024;
inline constexpr int kResolutionList = 1025;
inline constexpr int kWidth = 1027;
inline constexpr int kHeight = 1028;
inline constexpr int kDefault = 1051;
inline constexpr int kScratchList = 1052;
inline constexpr int kCompressorSettings = 1053;
inline constexpr int kFrameRateList = 1068;
inline constexpr int kCustomFrameRate = 1069;
inline constexpr int kResizeModeList = 1070;
inline constexpr int kSource = 1071;  // the Source dialog: sound track, subtitles, ...
}  // namespace OutputOptionsIds

// Resolution list positions that are not presets.
inline constexpr int kResolutionOriginal = 0;
inline constexpr int kResolutionCustom = 8;

// The highest custom frame rate OK accepts.
inline constexpr double kMaximumFrameRate = 1000.0;

class OutputOptionsDialog : public QDialog {
    Q_OBJECT

public:
    // clipCount: how many clips the main dialog holds (its first is the opened video); it
    // only decides how the first frame-rate entry reads.
    OutputOptionsDialog(const OutputSettings& settings, std::int32_t clipCount,
                        QWidget* parent = nullptr);

    // The dialog's copy of the record: after exec() returns Accepted, what OK confirmed.
    const OutputSettings& settings() const { return record; }
    // The open video's tracks and what a conversion takes from it, edited in the Source
    // dialog; OK stores them with the rest.
    void SetSource(const SourceOptions& options, const media::SourceTracks& tracks);
    const SourceOptions& sourceOptions() const { return source; }

    // --- Handlers ---
    bool OnInitDialog();
    void OnResolutionChange();
    void OnFrameRateChange();
    void OnBrowse();
    void OnDefault();
    void OnCompressorSettings();
    void OnSourceOptions();
    void OnOK();

    // --- Controls bound from the template ---
    QLineEdit* outputFileBox = nullptr;
    QLineEdit* widthBox = nullptr;
    QLineEdit* heightBox = nullptr;
    QLineEdit* frameRateBox = nullptr;
    QComboBox* resolutionList = nullptr;
    QComboBox* frameRateList = nullptr;
    QComboBox* resizeModeList = nullptr;
    QComboBox* videoCompressorList = nullptr;
    QComboBox* audioCompressorList = nullptr;
    QComboBox* scratchList = nullptr;

private:
    void bindControls();
    void connectCommands();
    void showSizeBoxes(bool show);

    // What the video compressor chosen now makes of the pictures.
    media::StreamRoute chosenVideoRoute() const;

    OutputSettings record;
    std::int32_t clipCount = 0;
    SourceOptions source;
    media::SourceTracks sourceTracks;
};
