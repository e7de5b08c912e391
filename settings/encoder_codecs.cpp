#include "settings/encoder_codecs.h"

#include <algorithm>
#include <cstring>

#include "media/encoders/encoder_registry.h"
#include "platform/settings_store.h"
#include "settings/codec_config_dialog.h"
#include "settings/codec_settings.h"

namespace {

// Room a state block keeps for each value: a codec's state has one fixed size, whatever its
// values are at the moment, as the platform's codecs had it.
constexpr std::size_t kValueRoom = 256;

}  // namespace

bool EncoderCompressionManager::info(std::uint32_t index, VcmCompressorInfo& out) {
    const std::vector<media::EncoderInfo>& encoders = media::AviEncoders(media::EncoderKind::Video);
    if (index >= encoders.size()) return false;
    const media::EncoderInfo& encoder = encoders[index];
    out = {kCodecTypeVideo, encoder.factoryName, QString::fromStdString(encoder.factoryName),
           QString::fromStdString(encoder.friendlyName)};
    return true;
}

std::unique_ptr<VcmCodec> EncoderCompressionManager::open(std::uint32_t type,
                                                          const std::string& handler) {
    if (type != kCodecTypeVideo) return nullptr;
    for (const media::EncoderInfo& encoder : media::AviEncoders(media::EncoderKind::Video)) {
        if (encoder.factoryName == handler)
            return std::make_unique<EncoderCodec>(VcmCompressorInfo{
                kCodecTypeVideo, encoder.factoryName, QString::fromStdString(encoder.factoryName),
                QString::fromStdString(encoder.friendlyName)});
    }
    return nullptr;
}

EncoderCodec::EncoderCodec(VcmCompressorInfo info) : info_(std::move(info)) {}

bool EncoderCodec::compressQuery(const BitmapInfoHeader& input) {
    media::RawFrameFormat format;
    if (input.biCompression == BI_RGB && input.biBitCount == 32) {
        format = media::RawFrameFormat::Bgrx32;
    } else if (input.biCompression == BI_RGB && input.biBitCount == 24) {
        format = media::RawFrameFormat::Bgr24;
    } else if (input.biCompression == kCompressionYuy2 && input.biBitCount == 16) {
        format = media::RawFrameFormat::Yuy2;
    } else {
        return false;
    }
    return media::VideoEncoderAcceptsFrame(info_.handler, input.biWidth, input.biHeight, format);
}

// Loading waits for the first question about the state: listing and querying codecs, which
// every Settings press does for all of them, needs none of it.
void EncoderCodec::load() {
    if (loaded_) return;
    loaded_ = true;
    properties_ = media::WritableEncoderProperties(info_.handler);
    current_.clear();
    for (const media::EncoderPropertyInfo& property : properties_)
        current_.push_back({property.name, property.defaultValue});
    const platform::SettingsStore store;
    for (const media::EncoderProperty& stored : LoadCodecSettings(store, info_.handler))
        assign(stored.name, stored.value);
}

// Takes a value only for a property the encoder has and only when the encoder accepts it, so
// an edited settings file or a damaged state cannot reach the encoder.
void EncoderCodec::assign(const std::string& name, const std::string& value) {
    auto it = std::find_if(current_.begin(), current_.end(),
                           [&](const media::EncoderProperty& p) { return p.name == name; });
    if (it == current_.end() || it->value == value) return;
    if (!media::IsValidEncoderPropertyValue(info_.handler, name, value)) return;
    it->value = value;
}

const media::EncoderProperties& EncoderCodec::currentValues() {
    load();
    return current_;
}

media::EncoderProperties EncoderCodec::changedValues() {
    load();
    media::EncoderProperties changed;
    for (std::size_t i = 0; i < properties_.size(); ++i)
        if (current_[i].value != properties_[i].defaultValue) changed.push_back(current_[i]);
    return changed;
}

std::size_t EncoderCodec::stateSize() {
    load();
    // The serialized set's header and lengths, each name, and room for each value.
    std::size_t size = 12;
    for (const media::EncoderPropertyInfo& property : properties_)
        size += 8 + property.name.size() + kValueRoom;
    return size;
}

bool EncoderCodec::setState(const void* data, std::size_t size) {
    load();
    media::EncoderProperties state;
    if (!media::DeserializeEncoderProperties(data, size, state)) return false;
    for (const media::EncoderProperty& property : state) assign(property.name, property.value);
    return true;
}

std::size_t EncoderCodec::getState(void* data, std::size_t size) {
    load();
    const std::vector<std::uint8_t> block = media::SerializeEncoderProperties(current_);
    // Long texts may outgrow the room; a state that does not fit is not given out in part.
    if (!data || block.size() > size) return 0;
    std::memcpy(data, block.data(), block.size());
    std::memset(static_cast<std::uint8_t*>(data) + block.size(), 0, size - block.size());
    return size;
}

bool EncoderCodec::configure(QWidget* owner) {
    load();
    CodecConfigDialog dialog(info_.handler, info_.description, properties_, current_, owner);
    if (dialog.exec() != QDialog::Accepted) return false;
    for (const media::EncoderProperty& property : dialog.values())
        assign(property.name, property.value);
    platform::SettingsStore store;
    SaveCodecSettings(store, info_.handler, changedValues());
    return true;
}
