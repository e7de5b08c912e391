#pragma once

// Which of an encoder's own settings a person tunes, in what words, and which are plumbing.
// Encoders list a hundred properties side by side; the few that decide size and quality (how
// the rate is controlled, the bitrate, a constant quality, the key-frame interval, B-frames,
// a preset) come first in plain words with their units, the rest under "Advanced", and those
// that only wire the encoder into a program (QoS, statistics files, debug output, threads)
// are not shown at all. Showing does not change storing: every property keeps its value.

#include <QString>

#include <string>

#include "media/encoders/encoder_properties.h"

enum class SettingTier { Main, Advanced, Hidden };

struct SettingPresentation {
    SettingTier tier = SettingTier::Advanced;
    QString label;  // plain words; for Advanced and Hidden the encoder's own name
    QString unit;   // after the value ("bit/s", "pictures"); empty when it has none
    int order = 0;  // among the main settings, from the top
};

SettingPresentation PresentSetting(const std::string& factoryName,
                                   const media::EncoderPropertyInfo& property);
