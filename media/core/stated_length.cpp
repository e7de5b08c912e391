#include "media/core/stated_length.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <optional>

namespace media {
namespace {

// A second more than the data's last time: the last picture's own length is not stated.
constexpr double kMarginSeconds = 1.0;

std::uint64_t littleEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

std::uint64_t bigEndian(const unsigned char* bytes, int count) {
    std::uint64_t value = 0;
    for (int i = 0; i < count; ++i) value = (value << 8) | bytes[i];
    return value;
}

std::optional<std::uint64_t> find(const unsigned char* data, std::uint64_t size,
                                  const unsigned char* what, std::uint64_t length,
                                  std::uint64_t from = 0) {
    if (size < length) return std::nullopt;
    for (std::uint64_t at = from; at + length <= size; ++at)
        if (std::memcmp(data + at, what, length) == 0) return at;
    return std::nullopt;
}

// --- ASF: the file properties' play duration against the send time of the last packet ---

constexpr std::array<unsigned char, 16> kAsfFileProperties = {
    0xA1, 0xDC, 0xAB, 0x8C, 0x47, 0xA9, 0xCF, 0x11, 0x8E, 0xE4, 0x00, 0xC0, 0x0C, 0x20, 0x53, 0x65};
constexpr std::array<unsigned char, 16> kAsfData = {0x36, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                                    0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};
constexpr std::uint64_t kAsfScanLimit = 1 << 20;  // the header lies before the data

// The send time plus duration of the packet, in milliseconds; nullopt for one that is not a
// packet header.
std::optional<std::uint64_t> asfPacketEnd(const unsigned char* p, std::uint64_t length) {
    std::uint64_t at = 0;
    if (length < 1) return std::nullopt;
    if (p[0] & 0x80) at += 1 + (p[0] & 0x0F);  // error correction data
    if (at + 2 > length) return std::nullopt;
    const unsigned char flags = p[at];
    at += 2;
    auto fieldSize = [](int code) { return code == 3 ? 4 : code; };
    at += fieldSize((flags >> 5) & 3) + fieldSize((flags >> 1) & 3) + fieldSize((flags >> 3) & 3);
    if (at + 6 > length) return std::nullopt;
    return littleEndian(p + at, 4) + littleEndian(p + at + 4, 2);
}

std::vector<BytePatch> asfPatches(const unsigned char* data, std::uint64_t size) {
    static constexpr unsigned char kAsfHeader[] = {0x30, 0x26, 0xB2, 0x75};
    if (std::memcmp(data, kAsfHeader, 4) != 0) return {};
    const std::uint64_t head = std::min(size, kAsfScanLimit);
    const auto properties = find(data, head, kAsfFileProperties.data(), kAsfFileProperties.size());
    const auto dataObject = find(data, head, kAsfData.data(), kAsfData.size());
    if (!properties || !dataObject || *properties + 104 > size || *dataObject + 50 > size)
        return {};
    const unsigned char* fields = data + *properties;
    const std::uint64_t playDuration = littleEndian(fields + 64, 8);  // 100 ns, with preroll
    const std::uint64_t packetSize = littleEndian(fields + 92, 4);
    if (packetSize == 0 || packetSize != littleEndian(fields + 96, 4)) return {};
    const std::uint64_t packetsStart = *dataObject + 50;
    const std::uint64_t packetsHeld = (size - packetsStart) / packetSize;
    const std::uint64_t packets =
        std::min<std::uint64_t>(packetsHeld, littleEndian(data + *dataObject + 40, 8));
    if (packets == 0) return {};
    const auto end = asfPacketEnd(data + packetsStart + (packets - 1) * packetSize, packetSize);
    if (!end) return {};
    // Packets are sent ahead of their presentation by the preroll, which the play duration
    // counts in.
    const std::uint64_t preroll = littleEndian(fields + 80, 8);  // milliseconds
    const std::uint64_t dataEnd = (*end + preroll) * 10'000;
    if (dataEnd <= playDuration) return {};
    const std::uint64_t covering = dataEnd + static_cast<std::uint64_t>(kMarginSeconds * 1e7);
    BytePatch patch{*properties + 64, std::vector<unsigned char>(16)};
    // The send duration follows the play duration; both cover the data now.
    const std::uint64_t sendDuration = littleEndian(fields + 72, 8);
    const std::uint64_t values[2] = {covering, std::max(sendDuration, covering)};
    for (int v = 0; v < 2; ++v)
        for (int b = 0; b < 8; ++b)
            patch.bytes[v * 8 + b] = static_cast<unsigned char>((values[v] >> (8 * b)) & 0xFF);
    return {patch};
}

// --- Matroska: the segment information's duration against the last cluster's blocks ---

struct Element {
    std::uint64_t id = 0;
    std::uint64_t dataStart = 0;
    std::uint64_t dataEnd = 0;  // clipped to the file
};

// A variable-length number at `at`: its value (with the length marker kept for an ID) and
// its length; nullopt past the end or for a malformed one.
std::optional<std::pair<std::uint64_t, int>> readNumber(const unsigned char* data,
                                                        std::uint64_t size, std::uint64_t at,
                                                        bool keepMarker) {
    if (at >= size || data[at] == 0) return std::nullopt;
    int length = 1;
    while (!(data[at] & (0x80 >> (length - 1)))) ++length;
    if (at + length > size) return std::nullopt;
    std::uint64_t value = keepMarker ? data[at] : data[at] & (0xFF >> length);
    for (int i = 1; i < length; ++i) value = (value << 8) | data[at + i];
    return std::make_pair(value, length);
}

std::optional<Element> readElement(const unsigned char* data, std::uint64_t size,
                                   std::uint64_t at) {
    const auto id = readNumber(data, size, at, true);
    if (!id) return std::nullopt;
    const auto length = readNumber(data, size, at + id->second, false);
    if (!length) return std::nullopt;
    Element element;
    element.id = id->first;
    element.dataStart = at + id->second + length->second;
    const bool unknown = length->first == (std::uint64_t{1} << (7 * length->second)) - 1;
    element.dataEnd = unknown || element.dataStart + length->first > size
                          ? size
                          : element.dataStart + length->first;
    return element;
}

// The latest time (in timecode units) that a block of the cluster starting at `at` stamps.
std::optional<std::uint64_t> lastBlockTime(const unsigned char* data, std::uint64_t size,
                                           std::uint64_t at) {
    const auto cluster = readElement(data, size, at);
    if (!cluster) return std::nullopt;
    std::optional<std::uint64_t> timecode;
    std::int64_t latest = 0;
    for (std::uint64_t child = cluster->dataStart; child < cluster->dataEnd;) {
        const auto element = readElement(data, size, child);
        if (!element) break;
        std::uint64_t block = 0;
        if (element->id == 0xE7)
            timecode = bigEndian(data + element->dataStart,
                                 static_cast<int>(std::min<std::uint64_t>(
                                     8, element->dataEnd - element->dataStart)));
        if (element->id == 0xA3) block = element->dataStart;  // SimpleBlock
        if (element->id == 0xA0) {                            // BlockGroup: its Block
            const auto inner = readElement(data, size, element->dataStart);
            if (inner && inner->id == 0xA1) block = inner->dataStart;
        }
        if (block) {
            const auto track = readNumber(data, size, block, false);
            if (track && block + track->second + 2 <= size) {
                const auto relative =
                    static_cast<std::int16_t>(bigEndian(data + block + track->second, 2));
                latest = std::max<std::int64_t>(latest, relative);
            }
        }
        child = element->dataEnd;
    }
    if (!timecode) return std::nullopt;
    return *timecode + static_cast<std::uint64_t>(latest);
}

std::vector<BytePatch> matroskaPatches(const unsigned char* data, std::uint64_t size) {
    const auto header = readElement(data, size, 0);
    if (!header || header->id != 0x1A45DFA3) return {};
    const auto segment = readElement(data, size, header->dataEnd);
    if (!segment || segment->id != 0x18538067) return {};
    std::optional<Element> duration;
    std::uint64_t scale = 1'000'000;
    for (std::uint64_t at = segment->dataStart; at < segment->dataEnd && !duration;) {
        const auto element = readElement(data, size, at);
        if (!element || element->id == 0x1F43B675) break;  // the clusters begin
        if (element->id == 0x1549A966) {
            for (std::uint64_t child = element->dataStart; child < element->dataEnd;) {
                const auto field = readElement(data, size, child);
                if (!field) break;
                const std::uint64_t length = field->dataEnd - field->dataStart;
                if (field->id == 0x2AD7B1 && length >= 1 && length <= 8)
                    scale = bigEndian(data + field->dataStart, static_cast<int>(length));
                if (field->id == 0x4489 && (length == 4 || length == 8)) duration = field;
                child = field->dataEnd;
            }
        }
        at = element->dataEnd;
    }
    if (!duration || scale == 0) return {};
    static constexpr unsigned char kCluster[] = {0x1F, 0x43, 0xB6, 0x75};
    std::optional<std::uint64_t> lastCluster;
    for (std::uint64_t at = size >= 4 ? size - 4 : 0; at > duration->dataEnd; --at)
        if (std::memcmp(data + at, kCluster, 4) == 0) {
            lastCluster = at;
            break;
        }
    const auto last = lastCluster ? lastBlockTime(data, size, *lastCluster) : std::nullopt;
    if (!last) return {};
    const std::uint64_t length = duration->dataEnd - duration->dataStart;
    const unsigned char* stored = data + duration->dataStart;
    double stated = 0;
    if (length == 8) {
        const std::uint64_t bits = bigEndian(stored, 8);
        std::memcpy(&stated, &bits, 8);
    } else {
        const auto bits = static_cast<std::uint32_t>(bigEndian(stored, 4));
        float value = 0;
        std::memcpy(&value, &bits, 4);
        stated = value;
    }
    const double margin = kMarginSeconds * 1e9 / static_cast<double>(scale);
    if (static_cast<double>(*last) <= stated) return {};
    BytePatch patch{duration->dataStart, std::vector<unsigned char>(length)};
    if (length == 8) {
        const double covering = static_cast<double>(*last) + margin;
        std::uint64_t bits = 0;
        std::memcpy(&bits, &covering, 8);
        for (int b = 0; b < 8; ++b)
            patch.bytes[b] = static_cast<unsigned char>(bits >> (56 - 8 * b));
    } else {
        const auto covering = static_cast<float>(static_cast<double>(*last) + margin);
        std::uint32_t bits = 0;
        std::memcpy(&bits, &covering, 4);
        for (int b = 0; b < 4; ++b)
            patch.bytes[b] = static_cast<unsigned char>(bits >> (24 - 8 * b));
    }
    return {patch};
}

}  // namespace

std::vector<BytePatch> StatedLengthPatches(const unsigned char* data, std::uint64_t size) {
    if (!data || size < 16) return {};
    std::vector<BytePatch> patches = asfPatches(data, size);
    if (patches.empty()) patches = matroskaPatches(data, size);
    return patches;
}

}  // namespace media
