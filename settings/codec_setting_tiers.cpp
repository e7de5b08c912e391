#include "settings/codec_setting_tiers.h"

#include <algorithm>
#include <array>
#include <string_view>

namespace {

struct MainSetting {
    std::string_view factoryPrefix;  // "" for any encoder
    std::string_view property;
    const char* label;
    const char* unit;
};

// In the order they are shown. Units differ between encoders of the same property name, so
// each is named with the encoders it is known for; the libav encoders share their names.
constexpr std::array<MainSetting, 24> kMainSettings{{
    {"avenc_", "pass", "Rate control", ""},
    {"x264enc", "pass", "Rate control", ""},
    {"openh264enc", "rate-control", "Rate control", ""},
    {"vp8enc", "end-usage", "Rate control", ""},
    {"avenc_", "bitrate", "Bitrate", "bit/s"},
    {"x264enc", "bitrate", "Bitrate", "kbit/s"},
    {"openh264enc", "bitrate", "Bitrate", "bit/s"},
    {"mpeg2enc", "bitrate", "Bitrate", "kbit/s"},
    {"vp8enc", "target-bitrate", "Bitrate", "bit/s"},
    {"avenc_", "quantizer", "Constant quality", "quantizer, lower is better"},
    {"x264enc", "quantizer", "Constant quality", "quantizer, lower is better"},
    {"vp8enc", "cq-level", "Constant quality", "quantizer, lower is better"},
    {"mpeg2enc", "quantisation", "Constant quality", "quantizer, lower is better"},
    {"jpegenc", "quality", "Quality", "percent"},
    {"avenc_", "gop-size", "Key-frame interval", "pictures"},
    {"x264enc", "key-int-max", "Key-frame interval", "pictures"},
    {"openh264enc", "gop-size", "Key-frame interval", "pictures"},
    {"vp8enc", "keyframe-max-dist", "Key-frame interval", "pictures"},
    {"mpeg2enc", "max-gop-size", "Key-frame interval", "pictures"},
    {"avenc_", "max-bframes", "B-frames", "pictures in a row"},
    {"x264enc", "bframes", "B-frames", "pictures in a row"},
    {"x264enc", "speed-preset", "Preset", ""},
    {"x264enc", "tune", "Tuning", ""},
    {"mpeg2enc", "format", "Profile", ""},
}};

// Settings that wire an encoder into a program rather than shape its pictures, by name
// whatever the encoder.
constexpr std::array<std::string_view, 17> kPlumbing{
    "qos",           "multipass-cache-file", "debug",        "dump-separator",
    "threads",       "thread-type",          "multi-thread", "sliced-threads",
    "max-pixels",    "export-side-data",     "timebase",     "snapshot",
    "byte-stream",   "aud",                  "sps-id",       "min-force-key-unit-interval",
    "ticks-per-frame",
};

bool startsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

SettingPresentation PresentSetting(const std::string& factoryName,
                                   const media::EncoderPropertyInfo& property) {
    for (std::size_t i = 0; i < kMainSettings.size(); ++i) {
        const MainSetting& main = kMainSettings[i];
        if (main.property != property.name || !startsWith(factoryName, main.factoryPrefix))
            continue;
        return {SettingTier::Main, QString::fromLatin1(main.label),
                QString::fromLatin1(main.unit), static_cast<int>(i)};
    }
    const bool plumbing =
        std::find(kPlumbing.begin(), kPlumbing.end(), property.name) != kPlumbing.end();
    return {plumbing ? SettingTier::Hidden : SettingTier::Advanced,
            QString::fromStdString(property.nick), QString(), 0};
}
