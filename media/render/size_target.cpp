#include "media/render/size_target.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "media/render/avi_stream_format.h"
#include "media/render/output_file.h"

namespace media {
namespace {

enum class Passes { One, X264 };

// How an encoder's bit rate is set: the property, its unit in bits per second, and how it
// keeps statistics between passes.
struct RateControl {
    const char* factory;
    const char* property;
    std::int64_t bitsPerUnit;
    Passes passes;
    const char* oneShot;  // "name=value" that puts it into bit-rate mode; null when it is
};

constexpr RateControl kVideoRates[] = {
    {"x264enc", "bitrate", 1000, Passes::X264, nullptr},
    // Its first pass writes no pictures, which a stopped conversion would be left with.
    {"vp8enc", "target-bitrate", 1, Passes::One, "end-usage=vbr"},
    {"mpeg2enc", "bitrate", 1000, Passes::One, nullptr},
    {"openh264enc", "bitrate", 1, Passes::One, "rate-control=bitrate"},
};

// gst-libav 1.22's video encoders take a bit rate and keep to their own quality all the same
// (the file comes out the same size for any rate), and their second pass corrupts memory as it
// ends.
bool ignoresBitRate(const std::string& factory) {
    return factory.rfind("avenc_", 0) == 0;
}

const RateControl* rateControlOf(const std::string& factory) {
    for (const RateControl& control : kVideoRates)
        if (factory == control.factory) return &control;
    return nullptr;
}

// Sound encoders' bit rates: the property and its unit, and what they make when it is 0.
struct SoundRate {
    const char* factory;
    const char* property;
    std::int64_t bitsPerUnit;
    std::int64_t perChannelWhenUnset;
};

constexpr SoundRate kSoundRates[] = {
    {"twolamemp2enc", "bitrate", 1000, 96000}, {"avenc_mp2", "bitrate", 1, 96000},
    {"avenc_mp2fixed", "bitrate", 1, 96000},   {"avenc_ac3", "bitrate", 1, 96000},
    {"avenc_ac3_fixed", "bitrate", 1, 96000},  {"voaacenc", "bitrate", 1, 64000},
    {"avenc_wmav1", "bitrate", 1, 64000},      {"avenc_wmav2", "bitrate", 1, 64000},
};
// What an encoder nobody measured here may make: the most MP3 or AC-3 stereo take.
constexpr std::int64_t kUnknownSoundBitsPerSecond = 448000;

std::string valueOf(const EncoderProperties& chosen, const std::string& factory,
                    const std::string& name) {
    for (const EncoderProperty& property : chosen)
        if (property.name == name) return property.value;
    for (const EncoderPropertyInfo& info : WritableEncoderProperties(factory))
        if (info.name == name) return info.defaultValue;
    return {};
}

// LAME's bit rate when it is told to keep to one, and how.
constexpr const char* kLameBitRateMode[][2] = {{"target", "bitrate"}, {"cbr", "true"}};

std::int64_t soundBitsPerSecond(const StreamRoute& route, SoundFormat sound) {
    // A source without sound gets silence in the CD format.
    if (sound.rate <= 0 || sound.channels <= 0) sound = {44100, 2};
    const int channels = OutputChannelsFor(route, sound.channels);
    if (!route.compressionOn || !route.encoder)
        return static_cast<std::int64_t>(sound.rate) * channels * 16;
    const std::string& factory = route.encoder->factoryName;
    const EncoderProperties& chosen = route.encoder->properties;
    if (factory == "alawenc" || factory == "mulawenc")
        return static_cast<std::int64_t>(sound.rate) * channels * 8;
    // A quality's rate cannot be known in advance: LAME is set to its bit rate instead.
    if (factory == "lamemp3enc")
        return std::atoll(valueOf(chosen, factory, "bitrate").c_str()) * 1000;
    for (const SoundRate& rate : kSoundRates) {
        if (factory != rate.factory) continue;
        const std::int64_t set = std::atoll(valueOf(chosen, factory, rate.property).c_str());
        return set > 0 ? set * rate.bitsPerUnit : rate.perChannelWhenUnset * channels;
    }
    return kUnknownSoundBitsPerSecond;
}

// A chunk header and an index entry for every chunk, and the headers: what avimux writes
// besides the streams, as measured on its files.
constexpr std::int64_t kBytesPerChunk = 8 + 16;
constexpr std::int64_t kHeaderBytes = 8 * 1024;
constexpr double kSoundChunksPerSecond = 40;

std::string longNameOf(const std::string& factory) {
    GstElementFactory* found = gst_element_factory_find(factory.c_str());
    if (!found) return factory;
    const gchar* name = gst_element_factory_get_metadata(found, GST_ELEMENT_METADATA_LONGNAME);
    std::string text = name ? std::string(name) + " (" + factory + ")" : factory;
    gst_object_unref(found);
    return text;
}

double seconds(ReferenceTime length) {
    return static_cast<double>(length) / kReferenceTimePerSecond;
}

}  // namespace

std::string FormatMegabytes(std::int64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", static_cast<double>(bytes) / kBytesPerMegabyte);
    std::string shown = text;
    while (shown.back() == '0') shown.pop_back();
    if (shown.back() == '.') shown.pop_back();
    return shown + " MB";
}

std::string SizeTargetRefusal(const StreamRoute& video) {
    if (video.streamCopy)
        return "A target size cannot be combined with Direct stream copy, whose pictures keep "
               "the size they have.";
    if (!video.compressionOn || !video.encoder)
        return "A target size needs a video compressor with a bit rate to set; uncompressed "
               "video has none.";
    const std::string& factory = video.encoder->factoryName;
    if (ignoresBitRate(factory))
        return "A target size needs a video compressor that keeps to a bit rate, which " +
               longNameOf(factory) + " does not do here; choose x264, VP8, OpenH264 or mpeg2enc.";
    if (!rateControlOf(factory))
        return "A target size needs a video compressor with a bit rate to set; " +
               longNameOf(factory) + " has none.";
    return {};
}

bool SizeTargetTwoPasses(const StreamRoute& video) {
    const RateControl* control =
        video.encoder ? rateControlOf(video.encoder->factoryName) : nullptr;
    return control && control->passes != Passes::One;
}

SizeTarget PlanSizeTarget(const RenderPlan& plan, std::int64_t targetBytes, ReferenceTime length,
                          SoundFormat sound) {
    SizeTarget target;
    target.bytes = targetBytes;
    target.refusal = SizeTargetRefusal(plan.video);
    if (!target.ok()) return target;
    target.encoderFactory = plan.video.encoder->factoryName;
    const RateControl* control = rateControlOf(target.encoderFactory);
    target.twoPasses = control->passes != Passes::One;
    const double span = std::max(seconds(length), 0.001);
    const double framesPerSecond = [&] {
        for (const TimelineGroup& group : plan.timeline.groups)
            if (group.isVideo()) return group.outputFrameRate;
        return 25.0;
    }();
    if (plan.audio.streamCopy) {
        // Copied sound keeps its own rate, which the first pass measures; where the stream
        // does not state it, the largest that AVI players take is assumed until then.
        const std::int64_t bits =
            sound.bitsPerSecond > 0 ? sound.bitsPerSecond : kUnknownSoundBitsPerSecond;
        target.soundBytes = static_cast<std::int64_t>(static_cast<double>(bits) * span / 8);
    } else {
        target.soundBytes =
            static_cast<std::int64_t>(soundBitsPerSecond(plan.audio, sound) * span / 8);
    }
    target.structureBytes =
        kHeaderBytes +
        static_cast<std::int64_t>((framesPerSecond + kSoundChunksPerSecond) * span * kBytesPerChunk);
    const std::int64_t left = targetBytes - target.soundBytes - target.structureBytes;
    if (left <= 0) {
        target.refusal = "A target size of " + FormatMegabytes(targetBytes) +
                         " cannot hold the sound alone, which needs about " +
                         FormatMegabytes(target.soundBytes + target.structureBytes) + ".";
        return target;
    }
    target.videoBitsPerSecond = static_cast<std::int64_t>(static_cast<double>(left) * 8 / span);
    return target;
}

EncoderProperties PassProperties(const SizeTarget& target, const EncoderProperties& chosen,
                                 int pass, std::int64_t videoBitsPerSecond,
                                 const std::string& statsPath) {
    const RateControl* control = rateControlOf(target.encoderFactory);
    if (!control) return chosen;
    // The pass's settings replace whatever the user set for the same properties.
    EncoderProperties properties;
    auto set = [&properties](std::string name, std::string value) {
        properties.push_back({std::move(name), std::move(value)});
    };
    const std::int64_t units =
        std::max<std::int64_t>(1, (videoBitsPerSecond + control->bitsPerUnit / 2) /
                                      control->bitsPerUnit);
    set(control->property, std::to_string(units));
    if (control->oneShot) {
        const std::string setting = control->oneShot;
        const auto equals = setting.find('=');
        set(setting.substr(0, equals), setting.substr(equals + 1));
    }
    if (pass > 0 && control->passes != Passes::One) {
        set("pass", pass == 1 ? "pass1" : "pass2");
        set("multipass-cache-file", statsPath);
    } else if (control->passes != Passes::One) {
        set("pass", "cbr");  // the average bit rate, whatever the user's codec settings say
    }
    EncoderProperties merged;
    for (const EncoderProperty& property : chosen) {
        const bool replaced =
            std::any_of(properties.begin(), properties.end(),
                        [&property](const EncoderProperty& p) { return p.name == property.name; });
        if (!replaced) merged.push_back(property);
    }
    merged.insert(merged.end(), properties.begin(), properties.end());
    return merged;
}

EncoderProperties SoundPropertiesForSize(const StreamRoute& audio) {
    if (!audio.encoder) return {};
    EncoderProperties properties = audio.encoder->properties;
    if (audio.encoder->factoryName != "lamemp3enc") return properties;
    std::erase_if(properties, [](const EncoderProperty& property) {
        return property.name == "target" || property.name == "cbr";
    });
    for (const auto& [name, value] : kLameBitRateMode) properties.push_back({name, value});
    return properties;
}

AviPayload ReadAviPayload(const std::string& path) {
    AviPayload payload;
    std::ifstream file(path, std::ios::binary);
    if (!file) return payload;
    file.seekg(0, std::ios::end);
    payload.fileBytes = static_cast<std::int64_t>(file.tellg());
    auto readChunk = [&file](std::int64_t at, char id[4], std::uint32_t* size) {
        unsigned char header[8];
        file.seekg(at);
        if (!file.read(reinterpret_cast<char*>(header), 8)) return false;
        std::memcpy(id, header, 4);
        *size = header[4] | header[5] << 8 | header[6] << 16 | static_cast<std::uint32_t>(header[7]) << 24;
        return true;
    };
    // The pictures' chunks of a "movi" list, "rec " lists included: "##dc" and "##db".
    auto sumList = [&](auto&& self, std::int64_t from, std::int64_t to) -> void {
        char id[4];
        std::uint32_t size = 0;
        for (std::int64_t at = from; at + 8 <= to; at += 8 + size + (size & 1)) {
            if (!readChunk(at, id, &size)) return;
            if (std::memcmp(id, "LIST", 4) == 0) {
                self(self, at + 12, std::min<std::int64_t>(to, at + 8 + size));
            } else if (id[2] == 'd' && (id[3] == 'c' || id[3] == 'b')) {
                payload.videoBytes += size;
            }
        }
    };
    // The file is a "RIFF AVI " list, followed in a big file by "RIFF AVIX" lists.
    char id[4];
    std::uint32_t size = 0;
    for (std::int64_t at = 0; at + 12 <= payload.fileBytes; at += 8 + size + (size & 1)) {
        if (!readChunk(at, id, &size) || std::memcmp(id, "RIFF", 4) != 0) break;
        const std::int64_t end = std::min<std::int64_t>(payload.fileBytes, at + 8 + size);
        char list[4];
        std::uint32_t inner = 0;
        for (std::int64_t part = at + 12; part + 8 <= end; part += 8 + inner + (inner & 1)) {
            if (!readChunk(part, list, &inner)) break;
            char type[4] = {};
            file.seekg(part + 8);
            file.read(type, 4);
            if (std::memcmp(list, "LIST", 4) == 0 && std::memcmp(type, "movi", 4) == 0)
                sumList(sumList, part + 12, std::min<std::int64_t>(end, part + 8 + inner));
        }
        payload.read = true;
        if (size == 0) break;
    }
    return payload;
}

std::int64_t SecondPassBitsPerSecond(const SizeTarget& target, const AviPayload& firstPass,
                                     ReferenceTime length) {
    const std::int64_t besides = firstPass.fileBytes - firstPass.videoBytes;
    const std::int64_t left = target.bytes - besides;
    if (!firstPass.read || left <= 0) return target.videoBitsPerSecond;
    return static_cast<std::int64_t>(static_cast<double>(left) * 8 /
                                     std::max(seconds(length), 0.001));
}

bool PlaceFinishedFile(const std::string& finished, const std::string& target,
                       std::string* problem) {
    UnfinishedOutput output;
    if (!output.Reserve(target, problem)) {
        std::error_code ignored;
        std::filesystem::remove(finished, ignored);
        return false;
    }
    std::error_code failed;
    std::filesystem::rename(finished, output.temporaryPath(), failed);
    if (failed) {
        if (problem) *problem = finished + ": " + failed.message();
        std::filesystem::remove(finished, failed);
        return false;  // the reservation goes with output
    }
    return output.Commit(problem);
}

}  // namespace media
