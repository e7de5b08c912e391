#pragma once

// The record that decides what a conversion writes, with the facts of the opened source that
// "Original size" and "Original frame rate" stand for, and its persistence.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

#include "settings/compressor_catalogue.h"
#include "settings/compressor_handle.h"

namespace platform {
class SettingsStore;
}

// How a source frame is fitted into the output size (the editing services' stretch modes).
inline constexpr std::int32_t kResizeStretch = 0;
inline constexpr std::int32_t kResizePreserveAspectRatio = 2;

// The frame-rate choices: 0 the source's rate, 1 to 5 presets, 6 a custom rate.
inline constexpr std::int32_t kFrameRateOriginal = 0;
inline constexpr std::int32_t kFrameRateCustom = 6;

// "CompressorNumber" values that are not positions. The direct stream copy, the last entry of
// each list, is stored as a number of its own: a position would name whichever compressor
// comes to stand there once one more is installed. (A number below "never chosen" reads as
// never chosen, so earlier versions take the default compressor for it.)
inline constexpr std::int32_t kCompressorNone = -1;
inline constexpr std::int32_t kCompressorNeverChosen = -2;
inline constexpr std::int32_t kCompressorStreamCopy = -3;

struct OutputSettings {
    QString outputName;  // at most 259 characters
    std::int32_t outputWidth = 0;
    std::int32_t outputHeight = 0;
    std::int32_t videoCompressionOn = 1;
    std::int32_t audioCompressionOn = 1;
    std::int32_t sourceWidth = 0;
    std::int32_t sourceHeight = 0;
    double sourceFrameRate = 23.976;
    double outputFrameRate = 23.976;
    std::int32_t frameRateIndex = 1;
    std::int32_t resizeMode = kResizePreserveAspectRatio;
    // Bound from the stored choices, rebound by the options dialog's OK; a conversion uses
    // one only while its compression is on.
    std::optional<CompressorHandle> videoCompressor;
    std::optional<CompressorHandle> audioCompressor;
};

// Whether a stored frame width or height is one a conversion can write.
bool UsableOutputSide(std::int32_t pixels);

// The rate of a preset choice 1 to 5, or the source's rate for choice 0; 23.976 otherwise.
double PresetFrameRate(std::int32_t index, double sourceFrameRate);

// Steps of loading, which the main dialog interleaves with its own start-up work:
// the video and then the audio compressor choice, binding the settings' compressors; the
// catalogue steps that failed, in order, for the caller to tell.
std::vector<CatalogueResult> LoadCompressorChoices(OutputSettings& settings,
                                                   const platform::SettingsStore& store);
// The output name (cut to 259 characters) and the output size; a size no conversion could
// write reads as 0 x 0, as when none is stored.
void LoadOutputNameAndSize(OutputSettings& settings, const platform::SettingsStore& store);
// The frame-rate choice and the rate it gives; a custom rate that is no number or lies outside
// what a conversion can write reads as 23.976, as when none is stored.
void LoadFrameRateChoice(OutputSettings& settings, const platform::SettingsStore& store);
// All of the above in their order, for callers without a start-up sequence of their own.
std::vector<CatalogueResult> LoadOutputSettings(OutputSettings& settings,
                                                const platform::SettingsStore& store);

// What the options dialog confirmed, in the form the settings keep it.
struct OutputSettingsChoice {
    std::int32_t frameRateListPosition = 1;
    QString frameRateText;  // the custom frame-rate box
    QString outputName;
    std::int32_t outputWidth = 0;
    std::int32_t outputHeight = 0;
    std::int32_t videoListPosition = 0;  // 0 is the uncompressed entry
    std::int32_t audioListPosition = 0;
    bool videoStreamCopy = false;  // the direct stream copy's entry: stored as its own number
    bool audioStreamCopy = false;
};

// Writes the confirmed options in the order the options dialog stores them.
void SaveOutputSettings(platform::SettingsStore& store, const OutputSettingsChoice& choice);

enum class SummaryForm { OriginalSize, Size };
// "Output File: %s     Resolution: %d*%d" or "... Resolution: Orinigal size".
QString OutputSummaryLine(const OutputSettings& settings, SummaryForm form);
