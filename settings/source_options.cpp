#include "settings/source_options.h"

#include <QFileInfo>

#include <cmath>

#include "platform/settings_store.h"

namespace {

const QString kSection = QStringLiteral("Source");
const QString kAudioTrack = QStringLiteral("AudioTrack");
const QString kSubtitleTrack = QStringLiteral("SubtitleTrack");
const QString kSubtitleFile = QStringLiteral("SubtitleFile");
const QString kDeinterlace = QStringLiteral("Deinterlace");
const QString kTargetSize = QStringLiteral("TargetSize");
const QString kSourceFile = QStringLiteral("SourceFile");

bool sameFile(const QString& a, const QString& b) {
    if (a.isEmpty() || b.isEmpty()) return false;
    return QFileInfo(a).absoluteFilePath() == QFileInfo(b).absoluteFilePath();
}

}  // namespace

media::SourceChoices SourceOptions::Choices() const {
    media::SourceChoices choices;
    choices.audioTrack = audioTrack;
    choices.subtitleTrack = subtitleFile.isEmpty() ? subtitleTrack : 0;
    choices.subtitleFile = subtitleFile.toStdString();
    choices.deinterlace = deinterlace;
    return choices;
}

SourceOptions LoadSourceOptions(const platform::SettingsStore& store) {
    SourceOptions options;
    options.audioTrack = std::max(1, store.readInt(kSection, kAudioTrack, 1));
    options.subtitleTrack = std::max(0, store.readInt(kSection, kSubtitleTrack, 0));
    options.subtitleFile = store.readString(kSection, kSubtitleFile, QString());
    const int mode = store.readInt(kSection, kDeinterlace, 0);
    options.deinterlace = mode == 1   ? media::DeinterlaceMode::On
                          : mode == 2 ? media::DeinterlaceMode::Off
                                      : media::DeinterlaceMode::Auto;
    bool ok = false;
    const double size = store.readString(kSection, kTargetSize, QString()).toDouble(&ok);
    options.targetSizeMegabytes = ok && std::isfinite(size) && size > 0.0 ? size : 0.0;
    options.sourceFile = store.readString(kSection, kSourceFile, QString());
    return options;
}

void SaveSourceOptions(platform::SettingsStore& store, const SourceOptions& options) {
    store.writeInt(kSection, kAudioTrack, options.audioTrack);
    store.writeInt(kSection, kSubtitleTrack, options.subtitleTrack);
    store.writeString(kSection, kSubtitleFile, options.subtitleFile);
    store.writeInt(kSection, kDeinterlace,
                   options.deinterlace == media::DeinterlaceMode::On    ? 1
                   : options.deinterlace == media::DeinterlaceMode::Off ? 2
                                                                        : 0);
    store.writeString(kSection, kTargetSize,
                      options.targetSizeMegabytes > 0.0
                          ? QString::number(options.targetSizeMegabytes)
                          : QString());
    store.writeString(kSection, kSourceFile, options.sourceFile);
}

SourceOptions SourceOptionsForOpenedVideo(const SourceOptions& current, const QString& path) {
    if (sameFile(current.sourceFile, path)) return current;
    SourceOptions options;
    options.deinterlace = current.deinterlace;
    options.targetSizeMegabytes = current.targetSizeMegabytes;
    options.sourceFile = path;
    return options;
}
