#include "settings/output_settings.h"

#include "media/render/timeline_model.h"
#include "media/session/render_session.h"
#include "platform/number_parsing.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "settings/compressor_catalogue.h"

namespace {

const QString kSettings = QStringLiteral("Settings");
const QString kVideoSection = QStringLiteral("DexVideoCompress");
const QString kAudioSection = QStringLiteral("DexAudioCompress");
const QString kCompressorNumber = QStringLiteral("CompressorNumber");

// A failed catalogue step goes into failures.
void loadCompressorChoice(const platform::SettingsStore& store, const QString& section,
                          media::EncoderKind kind, std::int32_t& compressionOn,
                          std::optional<CompressorHandle>& held,
                          int (*findDefault)(int*, CatalogueResult*),
                          CatalogueResult (*bind)(int, std::optional<CompressorHandle>*),
                          std::vector<CatalogueResult>& failures) {
    auto keep = [&failures](const CatalogueResult& result) {
        if (result.failed()) failures.push_back(result);
    };
    int stored = store.readInt(section, kCompressorNumber, kCompressorNeverChosen);
    if (stored == kCompressorStreamCopy) {
        compressionOn = 1;
        held = StreamCopyCompressor(kind);
        return;
    }
    // No list has a place below the first: such a number is read as never chosen.
    if (stored < kCompressorNeverChosen) stored = kCompressorNeverChosen;
    if (stored == kCompressorNeverChosen) {
        int position = 0;
        CatalogueResult search;
        const int found = findDefault(&position, &search);
        keep(search);
        if (found) {
            keep(bind(position, &held));
        } else {
            compressionOn = 0;
        }
    } else if (stored == kCompressorNone) {
        compressionOn = 0;
    } else {
        compressionOn = 1;
        keep(bind(stored, &held));
    }
}

}  // namespace

bool UsableOutputSide(std::int32_t pixels) {
    // The options dialog never stores less; the multiplexer takes nothing larger.
    constexpr std::int32_t kSmallest = 16;
    const int largest = media::LargestAviFrameSide();
    return pixels >= kSmallest && (largest <= 0 || pixels <= largest);
}

double PresetFrameRate(std::int32_t index, double sourceFrameRate) {
    switch (index) {
        case 0: return sourceFrameRate;
        case 1: return 23.976;
        case 2: return 24.0;
        case 3: return 25.0;
        case 4: return 29.97;
        case 5: return 30.0;
        default: return 23.976;
    }
}

std::vector<CatalogueResult> LoadCompressorChoices(OutputSettings& settings,
                                                   const platform::SettingsStore& store) {
    std::vector<CatalogueResult> failures;
    loadCompressorChoice(store, kVideoSection, media::EncoderKind::Video,
                         settings.videoCompressionOn, settings.videoCompressor,
                         FindDefaultVideoCompressor, GetCompressor, failures);
    loadCompressorChoice(store, kAudioSection, media::EncoderKind::Audio,
                         settings.audioCompressionOn, settings.audioCompressor,
                         FindDefaultAudioCompressor, GetAudioCompressor, failures);
    return failures;
}

void LoadOutputNameAndSize(OutputSettings& settings, const platform::SettingsStore& store) {
    settings.outputName = store.readString(kSettings, QStringLiteral("OutputName"),
                                           platform::DefaultOutputName())
                              .left(platform::kMaxPathLength);
    settings.outputWidth = store.readInt(kSettings, QStringLiteral("OutputWidth"), 0);
    settings.outputHeight = store.readInt(kSettings, QStringLiteral("OutputHigh"), 0);
    // A size no conversion could write is read as no size at all, as when none is stored. It
    // stays in the store until the options dialog is confirmed.
    if (!UsableOutputSide(settings.outputWidth) || !UsableOutputSide(settings.outputHeight)) {
        settings.outputWidth = 0;
        settings.outputHeight = 0;
    }
}

void LoadFrameRateChoice(OutputSettings& settings, const platform::SettingsStore& store) {
    settings.frameRateIndex = store.readInt(kSettings, QStringLiteral("OutputFrameRateIndex"), 1);
    if (settings.frameRateIndex == kFrameRateOriginal) {
        // No source is open yet; an open source brings its own rate later.
        settings.outputFrameRate = 23.976;
    } else if (settings.frameRateIndex >= 1 && settings.frameRateIndex <= 5) {
        settings.outputFrameRate = PresetFrameRate(settings.frameRateIndex, 23.976);
    } else if (settings.frameRateIndex == kFrameRateCustom) {
        settings.outputFrameRate = platform::CStringToDouble(
            store.readString(kSettings, QStringLiteral("OutputFrameRate"), QStringLiteral("23.976")));
        // Not a number, none, or one that would make frames without end: the rate of a
        // custom choice with nothing stored.
        if (!(settings.outputFrameRate >= media::kLowestOutputFrameRate &&
              settings.outputFrameRate <= media::kHighestOutputFrameRate))
            settings.outputFrameRate = 23.976;
    } else {
        settings.frameRateIndex = 1;
        settings.outputFrameRate = 23.976;
    }
}

std::vector<CatalogueResult> LoadOutputSettings(OutputSettings& settings,
                                                const platform::SettingsStore& store) {
    std::vector<CatalogueResult> failures = LoadCompressorChoices(settings, store);
    LoadOutputNameAndSize(settings, store);
    LoadFrameRateChoice(settings, store);
    return failures;
}

void SaveOutputSettings(platform::SettingsStore& store, const OutputSettingsChoice& choice) {
    store.writeInt(kSettings, QStringLiteral("OutputFrameRateIndex"), choice.frameRateListPosition);
    store.writeString(kSettings, QStringLiteral("OutputFrameRate"),
                      choice.frameRateListPosition == 0 ? QStringLiteral("23.976")
                                                        : choice.frameRateText);
    store.writeString(kSettings, QStringLiteral("OutputName"), choice.outputName);
    store.writeInt(kSettings, QStringLiteral("OutputWidth"), choice.outputWidth);
    store.writeInt(kSettings, QStringLiteral("OutputHigh"), choice.outputHeight);
    store.writeInt(kVideoSection, kCompressorNumber,
                   choice.videoStreamCopy ? kCompressorStreamCopy : choice.videoListPosition - 1);
    store.writeInt(kAudioSection, kCompressorNumber,
                   choice.audioStreamCopy ? kCompressorStreamCopy : choice.audioListPosition - 1);
    store.flush();
}

QString OutputSummaryLine(const OutputSettings& settings, SummaryForm form) {
    if (form == SummaryForm::OriginalSize)
        return QStringLiteral("Output File: %1     Resolution: Orinigal size").arg(settings.outputName);
    // One pass over the pattern, so a "%2" inside a file name stays as it is.
    return QStringLiteral("Output File: %1     Resolution: %2*%3")
        .arg(settings.outputName, QString::number(settings.outputWidth),
             QString::number(settings.outputHeight));
}
