#pragma once

// The confirmed settings of each codec, kept in the settings store under "CodecSettings" by
// encoder factory, as a platform codec keeps its own settings. The conversion applies them
// to the encoder it creates.

#include <string>

#include "media/encoders/encoder_properties.h"

namespace platform {
class SettingsStore;
}

media::EncoderProperties LoadCodecSettings(const platform::SettingsStore& store,
                                           const std::string& factoryName);
void SaveCodecSettings(platform::SettingsStore& store, const std::string& factoryName,
                       const media::EncoderProperties& properties);
