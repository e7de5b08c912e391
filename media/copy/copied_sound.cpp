#include "media/copy/copied_sound.h"

#include <gst/app/gstappsink.h>
#include <gst/audio/audio.h>

#include <algorithm>
#include <cstdio>

#include "media/core/gst_handles.h"

namespace media {
namespace {

constexpr std::uint16_t kFormatPcm = 0x0001;
constexpr std::uint16_t kFormatMpeg = 0x0050;
constexpr std::uint16_t kFormatMp3 = 0x0055;
constexpr std::uint16_t kFormatAc3 = 0x2000;

void put16(std::vector<std::uint8_t>& out, unsigned value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t value) {
    put16(out, value & 0xffff);
    put16(out, value >> 16);
}

struct MpegAudioHeader {
    int version = 1;  // 1, 2, or 25 for MPEG-2.5
    int layer = 3;
    int bitrate = 0;  // bits a second
    int sampleRate = 0;
    int channels = 2;
    int mode = 0;
    int samplesPerFrame = 1152;
    int frameBytes = 0;
};

std::optional<MpegAudioHeader> readMpegAudioHeader(const std::uint8_t* p, std::size_t size) {
    if (size < 4 || p[0] != 0xff || (p[1] & 0xe0) != 0xe0) return std::nullopt;
    static constexpr int kBitrates[2][3][15] = {
        {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448},
         {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384},
         {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320}},
        {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160},
         {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160}}};
    static constexpr int kRates[3] = {44100, 48000, 32000};
    MpegAudioHeader header;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitrateIndex == 0 || bitrateIndex == 15 ||
        rateIndex == 3)
        return std::nullopt;  // reserved values, or a free bit rate that cannot be padded
    header.version = versionBits == 3 ? 1 : versionBits == 2 ? 2 : 25;
    header.layer = 4 - layerBits;
    header.bitrate = kBitrates[header.version == 1 ? 0 : 1][header.layer - 1][bitrateIndex] * 1000;
    header.sampleRate = kRates[rateIndex] / (header.version == 1 ? 1 : header.version == 2 ? 2 : 4);
    header.mode = p[3] >> 6;
    header.channels = header.mode == 3 ? 1 : 2;
    header.samplesPerFrame =
        header.layer == 1 ? 384 : (header.layer == 3 && header.version != 1) ? 576 : 1152;
    header.frameBytes = header.layer == 1
                            ? 12 * header.bitrate / header.sampleRate * 4
                            : header.samplesPerFrame / 8 * header.bitrate / header.sampleRate;
    return header;
}

// A frame that decodes to silence: the header without padding or checksum, then side
// information (layer III) or bit allocation (layer II) of zeros, which leaves every value zero.
std::vector<std::uint8_t> silentMpegFrame(const std::uint8_t* header, const MpegAudioHeader& h) {
    if (h.layer == 1) return {};
    std::vector<std::uint8_t> frame(static_cast<std::size_t>(h.frameBytes), 0);
    frame[0] = header[0];
    frame[1] = header[1] | 1;      // no checksum
    frame[2] = header[2] & ~0x02;  // no padding
    frame[3] = header[3];
    return frame;
}

std::optional<CopiedSound> mpegAudio(const std::uint8_t* frame, std::size_t size) {
    const std::optional<MpegAudioHeader> h = readMpegAudioHeader(frame, size);
    if (!h || h->layer == 1) return std::nullopt;
    CopiedSound sound;
    sound.name = h->layer == 3 ? "MP3" : "MP2";
    sound.sampleRate = h->sampleRate;
    sound.channels = h->channels;
    sound.samplesPerFrame = h->samplesPerFrame;
    AviAudioStream& avi = sound.avi;
    avi.channels = static_cast<std::uint16_t>(h->channels);
    avi.sampleRate = static_cast<std::uint32_t>(h->sampleRate);
    avi.averageBytesPerSecond = static_cast<std::uint32_t>(h->bitrate / 8);
    // One frame to a chunk, each frame samplesPerFrame / sampleRate seconds long.
    avi.scale = static_cast<std::uint32_t>(h->samplesPerFrame);
    avi.rate = static_cast<std::uint32_t>(h->sampleRate);
    avi.sampleSize = 0;
    if (h->layer == 3) {
        avi.formatTag = kFormatMp3;
        avi.blockAlign = static_cast<std::uint16_t>(h->samplesPerFrame);
        put16(avi.extra, 1);  // MPEGLAYER3_ID_MPEG
        put32(avi.extra, 2);  // MPEGLAYER3_FLAG_PADDING_OFF
        put16(avi.extra, static_cast<unsigned>(h->samplesPerFrame));
        put16(avi.extra, 1);  // frames a block
        put16(avi.extra, 0);  // codec delay
    } else {
        avi.formatTag = kFormatMpeg;
        avi.blockAlign = static_cast<std::uint16_t>(h->frameBytes);
        put16(avi.extra, 2);  // layer II
        put32(avi.extra, static_cast<std::uint32_t>(h->bitrate));
        put16(avi.extra, h->mode == 3 ? 8 : h->mode == 1 ? 2 : h->mode == 2 ? 4 : 1);
        put16(avi.extra, 0);
        put16(avi.extra, 1);     // no emphasis
        put16(avi.extra, 0x10);  // MPEG-1
        put32(avi.extra, 0);
        put32(avi.extra, 0);
    }
    sound.silence = silentMpegFrame(frame, *h);
    return sound;
}

std::optional<CopiedSound> ac3Audio(const GstStructure* s, const std::uint8_t* frame,
                                    std::size_t size) {
    // E-AC-3 (bitstream id above 10) needs more than an AVI file's header says.
    if (size < 6 || frame[0] != 0x0b || frame[1] != 0x77 || (frame[5] >> 3) > 10)
        return std::nullopt;
    static constexpr int kRates[3] = {48000, 44100, 32000};
    const int rateCode = frame[4] >> 6;
    if (rateCode == 3) return std::nullopt;
    CopiedSound sound;
    sound.name = "AC-3";
    sound.sampleRate = kRates[rateCode];
    sound.channels = 2;
    gst_structure_get_int(s, "channels", &sound.channels);
    sound.samplesPerFrame = 1536;
    AviAudioStream& avi = sound.avi;
    avi.formatTag = kFormatAc3;
    avi.channels = static_cast<std::uint16_t>(sound.channels);
    avi.sampleRate = static_cast<std::uint32_t>(sound.sampleRate);
    static constexpr int kBitrates[19] = {32,  40,  48,  56,  64,  80,  96,  112, 128, 160,
                                          192, 224, 256, 320, 384, 448, 512, 576, 640};
    const int sizeCode = (frame[4] & 0x3f) >> 1;
    avi.averageBytesPerSecond = sizeCode < 19 ? static_cast<std::uint32_t>(kBitrates[sizeCode] * 125) : 0;
    avi.blockAlign = 3840;  // the largest frame
    avi.bitsPerSample = 16;
    avi.scale = 1536;
    avi.rate = avi.sampleRate;
    return sound;
}

std::optional<CopiedSound> pcmAudio(const GstCaps* caps) {
    GstAudioInfo info;
    if (!gst_audio_info_from_caps(&info, caps) || !GST_AUDIO_INFO_IS_INTEGER(&info)) return std::nullopt;
    const int width = GST_AUDIO_INFO_WIDTH(&info);
    const int depth = GST_AUDIO_INFO_DEPTH(&info);
    const bool unsignedSamples = !GST_AUDIO_INFO_IS_SIGNED(&info);
    // The wave format's plain PCM: unsigned bytes, or signed 16, 24 or 32 bits.
    if ((width == 8) != unsignedSamples || width != depth ||
        (width != 8 && width != 16 && width != 24 && width != 32) ||
        GST_AUDIO_INFO_CHANNELS(&info) > 2 ||
        GST_AUDIO_INFO_LAYOUT(&info) != GST_AUDIO_LAYOUT_INTERLEAVED)
        return std::nullopt;
    CopiedSound sound;
    sound.name = "PCM";
    sound.sampleRate = GST_AUDIO_INFO_RATE(&info);
    sound.channels = GST_AUDIO_INFO_CHANNELS(&info);
    sound.bytesPerSample = GST_AUDIO_INFO_BPF(&info);
    sound.swapBytes = width > 8 && GST_AUDIO_INFO_ENDIANNESS(&info) != G_LITTLE_ENDIAN;
    AviAudioStream& avi = sound.avi;
    avi.formatTag = kFormatPcm;
    avi.channels = static_cast<std::uint16_t>(sound.channels);
    avi.sampleRate = static_cast<std::uint32_t>(sound.sampleRate);
    avi.blockAlign = static_cast<std::uint16_t>(sound.bytesPerSample);
    avi.averageBytesPerSecond = static_cast<std::uint32_t>(sound.sampleRate * sound.bytesPerSample);
    avi.bitsPerSample = static_cast<std::uint16_t>(width);
    avi.scale = avi.blockAlign;
    avi.rate = avi.averageBytesPerSecond;
    avi.sampleSize = avi.blockAlign;
    sound.silence.assign(static_cast<std::size_t>(sound.bytesPerSample), width == 8 ? 0x80 : 0);
    return sound;
}

}  // namespace

std::optional<CopiedSound> CopiedSoundOf(const GstCaps* caps, const std::uint8_t* firstFrame,
                                         std::size_t size) {
    if (!caps || gst_caps_is_empty(caps)) return std::nullopt;
    const GstStructure* s = gst_caps_get_structure(caps, 0);
    const std::string name = gst_structure_get_name(s);
    if (name == "audio/mpeg") {
        int version = 0;
        gst_structure_get_int(s, "mpegversion", &version);
        if (version != 1) return std::nullopt;  // AAC
        return mpegAudio(firstFrame, size);
    }
    if (name == "audio/x-ac3") return ac3Audio(s, firstFrame, size);
    if (name == "audio/x-raw") return pcmAudio(caps);
    return std::nullopt;
}

std::vector<std::uint8_t> EncodedSilence(const CopiedSound& sound) {
    if (sound.name != "AC-3") return {};
    // The channels in the encoder's usual order.
    char description[512];
    std::snprintf(description, sizeof description,
                  "audiotestsrc wave=silence samplesperbuffer=1536 num-buffers=6 ! "
                  "audio/x-raw,rate=%d,channels=%d,channel-mask=(bitmask)0x%llx ! audioconvert ! "
                  "avenc_ac3 bitrate=%u ! ac3parse ! appsink name=out sync=false",
                  sound.sampleRate, sound.channels,
                  static_cast<unsigned long long>(gst_audio_channel_get_fallback_mask(sound.channels)),
                  sound.avi.averageBytesPerSecond * 8);
    GError* error = nullptr;
    PipelinePtr pipeline(gst_parse_launch(description, &error));
    g_clear_error(&error);
    if (!pipeline) return {};
    GstPtr<GstElement> sink(gst_bin_get_by_name(GST_BIN(pipeline.get()), "out"));
    gst_element_set_state(pipeline.get(), GST_STATE_PLAYING);
    std::vector<std::uint8_t> frame;
    // The encoder's first frames hold its start-up; a later one is plain silence.
    for (int i = 0; i < 6; ++i) {
        SamplePtr sample(gst_app_sink_try_pull_sample(GST_APP_SINK(sink.get()), 2 * GST_SECOND));
        if (!sample) break;
        GstMapInfo map;
        GstBuffer* buffer = gst_sample_get_buffer(sample.get());
        if (buffer && gst_buffer_map(buffer, &map, GST_MAP_READ)) {
            frame.assign(map.data, map.data + map.size);
            gst_buffer_unmap(buffer, &map);
        }
    }
    return frame;
}

void SwapSampleBytes(std::vector<std::uint8_t>& samples, int bytesPerChannelSample) {
    const auto width = static_cast<std::size_t>(bytesPerChannelSample);
    if (width < 2) return;
    for (std::size_t at = 0; at + width <= samples.size(); at += width)
        std::reverse(samples.begin() + static_cast<std::ptrdiff_t>(at),
                     samples.begin() + static_cast<std::ptrdiff_t>(at + width));
}

}  // namespace media
