#include "settings/output_options_dialog.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include "engine/choice_conflicts.h"
#include "platform/dialog_template.h"
#include "platform/file_chooser.h"
#include "platform/message_boxes.h"
#include "platform/number_parsing.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "settings/codec_configuration.h"
#include "settings/compressor_catalogue.h"
#include "settings/compressor_lists.h"
#include "settings/source_options_dialog.h"

namespace {

struct FrameSize {
    int width;
    int height;
};

// Resolution list positions 1 to 7; position 0 is the source's own size.
constexpr FrameSize kResolutionPresets[] = {
    {0, 0}, {640, 480}, {720, 576}, {720, 480}, {480, 576}, {480, 480}, {352, 288}, {352, 240},
};

constexpr int kFrameRateTextLimit = 127;
constexpr int kSelectedTextLimit = 255;
constexpr int kLastPresetFrameRate = 5;

const QString kVideoSection = QStringLiteral("DexVideoCompress");
const QString kAudioSection = QStringLiteral("DexAudioCompress");
const QString kCompressorNumber = QStringLiteral("CompressorNumber");

// A size as OK stores it: down to a multiple of 8 (toward zero), and at least 16.
int adjustedSize(const QString& text) {
    const int rounded = platform::CStringToInt(text) / 8 * 8;
    return rounded < 16 ? 16 : rounded;
}

// The list entry of a stored compressor choice: position + 1; the default's entry when
// never chosen. A stored position past the end selects nothing.
void selectStoredCompressor(QComboBox& list, int stored,
                            int (*findDefault)(int*, CatalogueResult*)) {
    if (stored == kCompressorStreamCopy) {
        const int last = list.count() - 1;
        list.setCurrentIndex(IsStreamCopyEntry(list, last) ? last : -1);
        return;
    }
    // Below the first place there is none: such a number counts as never chosen, as on load.
    if (stored <= kCompressorNeverChosen) {
        int position = 0;
        CatalogueResult search;
        const int found = findDefault(&position, &search);
        ShowCatalogueFailure(search);
        list.setCurrentIndex(found ? position + 1 : 0);
        return;
    }
    // The compressors' entries end before the direct stream copy's.
    const long long entry = static_cast<long long>(stored) + 1;
    const int end = IsStreamCopyEntry(list, list.count() - 1) ? list.count() - 1 : list.count();
    list.setCurrentIndex(entry >= 0 && entry < end ? static_cast<int>(entry) : -1);
}

void rebindCompressor(int listPosition, bool streamCopy, media::EncoderKind kind,
                      std::int32_t& compressionOn, std::optional<CompressorHandle>& held,
                      CatalogueResult (*bind)(int, std::optional<CompressorHandle>*)) {
    const int position = listPosition - 1;
    if (position == kCompressorNone) {
        compressionOn = 0;
        return;
    }
    held.reset();
    if (streamCopy)
        held = StreamCopyCompressor(kind);
    else
        ShowCatalogueFailure(bind(position, &held));
    compressionOn = 1;
}

}  // namespace

OutputOptionsDialog::OutputOptionsDialog(const OutputSettings& settings, std::int32_t clipCount,
                                         QWidget* parent)
    : QDialog(parent), record(settings), clipCount(clipCount) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    if (auto dialogTemplate =
            platform::LoadDialogTemplate(QStringLiteral(":/dialogs/options_dialog_129.json")))
        platform::BuildDialog(this, *dialogTemplate);
    bindControls();
    connectCommands();
    OnInitDialog();
}

void OutputOptionsDialog::bindControls() {
    using namespace OutputOptionsIds;
    outputFileBox = platform::Control<QLineEdit>(this, kOutputFile);
    widthBox = platform::Control<QLineEdit>(this, kWidth);
    heightBox = platform::Control<QLineEdit>(this, kHeight);
    frameRateBox = platform::Control<QLineEdit>(this, kCustomFrameRate);
    resolutionList = platform::Control<QComboBox>(this, kResolutionList);
    frameRateList = platform::Control<QComboBox>(this, kFrameRateList);
    resizeModeList = platform::Control<QComboBox>(this, kResizeModeList);
    videoCompressorList = platform::Control<QComboBox>(this, kVideoCompressorList);
    audioCompressorList = platform::Control<QComboBox>(this, kAudioCompressorList);
    scratchList = platform::Control<QComboBox>(this, kScratchList);
    // The template is compiled into the program; without it there is nothing to edit.
    Q_ASSERT(outputFileBox && widthBox && heightBox && frameRateBox && resolutionList &&
             frameRateList && resizeModeList && videoCompressorList && audioCompressorList &&
             scratchList);
}

void OutputOptionsDialog::connectCommands() {
    using namespace OutputOptionsIds;
    auto bind = [this](int id, void (OutputOptionsDialog::*handler)()) {
        if (auto* button = platform::Control<QPushButton>(this, id))
            connect(button, &QPushButton::clicked, this, handler);
    };
    bind(kOk, &OutputOptionsDialog::OnOK);
    bind(kCancel, &QDialog::reject);
    bind(kBrowse, &OutputOptionsDialog::OnBrowse);
    bind(kDefault, &OutputOptionsDialog::OnDefault);
    bind(kCompressorSettings, &OutputOptionsDialog::OnCompressorSettings);
    bind(kSource, &OutputOptionsDialog::OnSourceOptions);
    // Only the user's choices count: selections made in code change no box.
    connect(resolutionList, &QComboBox::activated, this, [this] { OnResolutionChange(); });
    connect(frameRateList, &QComboBox::activated, this, [this] { OnFrameRateChange(); });
}

void OutputOptionsDialog::showSizeBoxes(bool show) {
    widthBox->setVisible(show);
    heightBox->setVisible(show);
}

bool OutputOptionsDialog::OnInitDialog() {
    const QString originalSize = QStringLiteral("Original size");
    resolutionList->setItemText(kResolutionOriginal,
                                record.sourceWidth == 0 && record.sourceHeight == 0
                                    ? originalSize
                                    : QStringLiteral("%1 %2*%3")
                                          .arg(originalSize)
                                          .arg(record.sourceWidth)
                                          .arg(record.sourceHeight));
    scratchList->hide();
    outputFileBox->setText(record.outputName);

    widthBox->setText(QString::number(record.outputWidth));
    heightBox->setText(QString::number(record.outputHeight));
    showSizeBoxes(false);
    int resolution = kResolutionCustom;
    if (record.outputWidth == record.sourceWidth && record.outputHeight == record.sourceHeight) {
        resolution = kResolutionOriginal;
    } else {
        for (int position = 1; position < kResolutionCustom; ++position) {
            if (kResolutionPresets[position].width == record.outputWidth &&
                kResolutionPresets[position].height == record.outputHeight) {
                resolution = position;
                break;
            }
        }
    }
    resolutionList->setCurrentIndex(resolution);
    if (resolution == kResolutionCustom) showSizeBoxes(true);

    frameRateList->setItemText(kFrameRateOriginal,
                               clipCount <= 0 ? QStringLiteral("Original frame rate")
                                              : QString::asprintf("%s%.3f", "Original frame rate ",
                                                                  record.sourceFrameRate));
    frameRateBox->setText(record.frameRateIndex == kFrameRateOriginal
                              ? QString::asprintf("%f", 23.976)
                              : QString::asprintf("%.3f", record.outputFrameRate));
    frameRateBox->hide();
    frameRateList->setCurrentIndex(record.frameRateIndex >= 0 &&
                                           record.frameRateIndex < frameRateList->count()
                                       ? record.frameRateIndex
                                       : -1);
    if (record.frameRateIndex >= kFrameRateCustom) frameRateBox->show();

    // The stored choices, not the compression flags: a flag may be 1 with nothing bound.
    const platform::SettingsStore store;
    ShowCatalogueFailure(FillVideoCompressorList(*videoCompressorList));
    selectStoredCompressor(*videoCompressorList,
                           store.readInt(kVideoSection, kCompressorNumber, kCompressorNeverChosen),
                           FindDefaultVideoCompressor);
    ShowCatalogueFailure(FillAudioCompressorList(*audioCompressorList));
    selectStoredCompressor(*audioCompressorList,
                           store.readInt(kAudioSection, kCompressorNumber, kCompressorNeverChosen),
                           FindDefaultAudioCompressor);

    resizeModeList->setCurrentIndex(record.resizeMode == kResizePreserveAspectRatio ? 0 : 1);
    return true;
}

void OutputOptionsDialog::OnResolutionChange() {
    const int position = resolutionList->currentIndex();
    if (position >= kResolutionOriginal && position < kResolutionCustom) {
        const FrameSize size = position == kResolutionOriginal
                                   ? FrameSize{record.sourceWidth, record.sourceHeight}
                                   : kResolutionPresets[position];
        widthBox->setText(QString::number(size.width));
        heightBox->setText(QString::number(size.height));
        showSizeBoxes(false);
    } else if (position == kResolutionCustom) {
        // The size the dialog was opened with, whatever was typed before.
        widthBox->setText(QString::number(record.outputWidth));
        heightBox->setText(QString::number(record.outputHeight));
        showSizeBoxes(true);
    }
}

void OutputOptionsDialog::OnFrameRateChange() {
    const int position = frameRateList->currentIndex();
    if (position >= kFrameRateOriginal && position <= kLastPresetFrameRate) {
        frameRateBox->setText(
            QString::asprintf("%f", PresetFrameRate(position, record.sourceFrameRate)));
        frameRateBox->hide();
    } else if (position == kFrameRateCustom) {
        // The rate as opened, or as the last refused OK left it.
        frameRateBox->setText(QString::asprintf("%.3f", record.outputFrameRate));
        frameRateBox->show();
    }
}

void OutputOptionsDialog::OnBrowse() {
    QString folder = platform::FolderOf(record.outputName);
    if (folder.isEmpty()) folder = QStringLiteral(".");
    platform::FileRequest request;
    request.owner = this;
    request.title = QStringLiteral("Select Output File Name");
    request.initialFolder = folder;
    request.initialName = QStringLiteral("*.*");
    request.filters = {{QStringLiteral("AVI file"), QStringLiteral("*.avi")}};
    request.selectedFilter = 0;
    QString path = platform::CurrentFileChooser().chooseSaveFile(request);
    if (path.isEmpty()) return;
    // The extension goes; a dot in a folder name is part of the folder.
    const qsizetype nameStart = path.size() - platform::FileNameOf(path).size();
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot >= nameStart) path.truncate(dot);
    outputFileBox->setText(path + QStringLiteral(".avi"));
}

void OutputOptionsDialog::OnDefault() {
    int position = 0;
    CatalogueResult search;
    const int videoFound = FindDefaultVideoCompressor(&position, &search);
    ShowCatalogueFailure(search);
    videoCompressorList->setCurrentIndex(videoFound ? position + 1 : 0);
    position = 0;
    const int audioFound = FindDefaultAudioCompressor(&position, &search);
    ShowCatalogueFailure(search);
    audioCompressorList->setCurrentIndex(audioFound ? position + 1 : 0);
}

void OutputOptionsDialog::OnCompressorSettings() {
    ConfigureSelectedVideoCompressor(videoCompressorList->currentText().left(kSelectedTextLimit),
                                     this, scratchList);
}

void OutputOptionsDialog::SetSource(const SourceOptions& options,
                                    const media::SourceTracks& tracks) {
    source = options;
    sourceTracks = tracks;
}

media::StreamRoute OutputOptionsDialog::chosenVideoRoute() const {
    media::StreamRoute route;
    const int entry = videoCompressorList->currentIndex();
    route.compressionOn = entry > 0;
    if (IsStreamCopyEntry(*videoCompressorList, entry)) {
        route.streamCopy = true;
    } else if (entry > 0) {
        std::optional<CompressorHandle> handle;
        if (!GetCompressor(entry - 1, &handle).failed() && handle)
            route.encoder = media::EncoderChoice{handle->factoryName, {}};
    }
    return route;
}

void OutputOptionsDialog::OnSourceOptions() {
    SourceOptionsDialog dialog(source, sourceTracks, chosenVideoRoute(), this);
    if (dialog.exec() == QDialog::Accepted) source = dialog.options();
}

void OutputOptionsDialog::OnOK() {
    const QString rateText = frameRateBox->text().left(kFrameRateTextLimit);
    const double rate = platform::CStringToDouble(rateText);
    // Kept even when refused: choosing "Custom frame rate" again shows it.
    record.outputFrameRate = rate;
    if (!(rate >= 0.001)) {  // also text that is no number at all ("nan")
        platform::ShowMessage(this, QStringLiteral("The frame rate is too small!"),
                              platform::ProgramBaseName());
        return;
    }
    if (rate > kMaximumFrameRate) {
        platform::ShowMessage(this, QStringLiteral("The frame rate is too large!"),
                              platform::ProgramBaseName());
        return;
    }
    const QString name = outputFileBox->text();
    if (name.size() > platform::kMaxPathLength) {
        platform::ShowMessage(this,
                              QStringLiteral("The output file name is too long. A path may have "
                                             "at most %1 characters.")
                                  .arg(platform::kMaxPathLength),
                              platform::ProgramBaseName());
        return;
    }

    // What Direct stream copy writes as it is takes nothing else from the Source dialog.
    if (const QString conflict = ChoiceConflict(
            IsStreamCopyEntry(*videoCompressorList, videoCompressorList->currentIndex()),
            IsStreamCopyEntry(*audioCompressorList, audioCompressorList->currentIndex()),
            source.Choices(), source.targetSizeMegabytes > 0.0);
        !conflict.isEmpty()) {
        platform::ShowMessage(this, conflict, platform::ProgramBaseName());
        return;
    }

    const int ratePosition = frameRateList->currentIndex();
    record.frameRateIndex = ratePosition;
    if (ratePosition >= kFrameRateOriginal && ratePosition <= kLastPresetFrameRate) {
        record.outputFrameRate = PresetFrameRate(ratePosition, record.sourceFrameRate);
    } else if (ratePosition == kFrameRateCustom) {
        record.outputFrameRate = rate;
    } else {
        record.frameRateIndex = 1;
        record.outputFrameRate = 23.976;
    }
    record.outputName = name;
    record.outputWidth = adjustedSize(widthBox->text());
    record.outputHeight = adjustedSize(heightBox->text());

    platform::SettingsStore store;
    OutputSettingsChoice choice;
    choice.frameRateListPosition = ratePosition;
    choice.frameRateText = rateText;
    choice.outputName = record.outputName;
    choice.outputWidth = record.outputWidth;
    choice.outputHeight = record.outputHeight;
    choice.videoListPosition = videoCompressorList->currentIndex();
    choice.audioListPosition = audioCompressorList->currentIndex();
    choice.videoStreamCopy = IsStreamCopyEntry(*videoCompressorList, choice.videoListPosition);
    choice.audioStreamCopy = IsStreamCopyEntry(*audioCompressorList, choice.audioListPosition);
    SaveOutputSettings(store, choice);
    SaveSourceOptions(store, source);

    rebindCompressor(choice.videoListPosition, choice.videoStreamCopy, media::EncoderKind::Video,
                     record.videoCompressionOn, record.videoCompressor, GetCompressor);
    rebindCompressor(choice.audioListPosition, choice.audioStreamCopy, media::EncoderKind::Audio,
                     record.audioCompressionOn, record.audioCompressor, GetAudioCompressor);
    record.resizeMode =
        resizeModeList->currentIndex() == 0 ? kResizePreserveAspectRatio : kResizeStretch;
    QDialog::accept();
}
