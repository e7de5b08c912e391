#pragma once

// The installed video encoders seen through the video compression manager: each encoder of
// the compressor catalogue is a codec, described by its friendly name. Its state is its
// property set; its configuration dialog is generated from its writable properties, and it
// keeps the settings the user confirms there in the settings store, from where the
// conversion applies them to the encoder it creates.

#include <vector>

#include "media/encoders/encoder_properties.h"
#include "settings/codec_configuration.h"

class EncoderCompressionManager : public VideoCompressionManager {
public:
    bool info(std::uint32_t index, VcmCompressorInfo& out) override;
    std::unique_ptr<VcmCodec> open(std::uint32_t type, const std::string& handler) override;
};

class EncoderCodec : public VcmCodec {
public:
    explicit EncoderCodec(VcmCompressorInfo info);

    bool compressQuery(const BitmapInfoHeader& input) override;
    VcmCompressorInfo getInfo() override { return info_; }
    std::size_t stateSize() override;
    bool setState(const void* data, std::size_t size) override;
    std::size_t getState(void* data, std::size_t size) override;
    bool configure(QWidget* owner) override;

    // The values the encoder would be created with now: its defaults, then its stored
    // settings, then any state handed to it.
    const media::EncoderProperties& currentValues();
    // The values that differ from a fresh encoder's, which is what the store keeps.
    media::EncoderProperties changedValues();

private:
    void load();
    void assign(const std::string& name, const std::string& value);

    VcmCompressorInfo info_;
    bool loaded_ = false;
    std::vector<media::EncoderPropertyInfo> properties_;
    media::EncoderProperties current_;  // one entry per property, in the same order
};
