#pragma once

// An encoder's own settings as name and value texts, the form in which they are kept between
// runs and handed to the encoder that a conversion creates; what those settings can be (the
// encoder's writable properties), whether a video encoder takes a given frame, and the byte
// block that carries a whole property set as a codec's "state".

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace media {

struct EncoderProperty {
    std::string name;   // the element property's name, e.g. "bitrate"
    std::string value;  // its value as GStreamer parses it from text, e.g. "800000"
};

using EncoderProperties = std::vector<EncoderProperty>;

// What kind of editor a property wants. Integer and Unsigned differ in their range type.
enum class PropertyKind { Integer, Unsigned, Double, Boolean, Enum, Flags, String };

// One value of an enumeration, or one bit of a flag set.
struct PropertyChoice {
    std::string nick;  // what the value text holds, e.g. "cbr"
    std::string name;  // the element's own description of the value
    std::int64_t value = 0;
};

struct EncoderPropertyInfo {
    std::string name;   // e.g. "bitrate"
    std::string nick;   // short human name, may equal the name
    std::string blurb;  // one-line help, may be empty
    PropertyKind kind = PropertyKind::String;
    // The value of a freshly made element, in the same text form as EncoderProperty::value.
    // Enumerations read as the value's nick, flags as nicks joined by "+" (or "0"), booleans
    // as "true"/"false", strings as they are (an unset string reads as empty).
    std::string defaultValue;
    // Number kinds: the range as text, so 64-bit limits stay exact ("18446744073709551615").
    std::string minimum;
    std::string maximum;
    std::vector<PropertyChoice> choices;  // Enum and Flags
};

// The properties of the factory's element that a user may set before it runs: readable and
// writable, not fixed at construction, not deprecated, of a plain type (numbers, booleans,
// enumerations, flags, strings), and not the object's own name or parent. In the element's
// order. Empty when the factory does not exist. Needs a started media framework.
std::vector<EncoderPropertyInfo> WritableEncoderProperties(const std::string& factoryName);

// Whether the text is a value the named property of the factory's element takes as it is
// (parses, and lies in range). False for an unknown factory or property.
bool IsValidEncoderPropertyValue(const std::string& factoryName, const std::string& name,
                                 const std::string& value);

// Uncompressed frame layouts a video encoder may be asked to take.
enum class RawFrameFormat {
    Bgrx32,  // 32-bit RGB
    Bgr24,   // 24-bit RGB
    Yuy2,    // packed 4:2:2 YUV
};

// Whether the video encoder really encodes one frame of that size that starts out in that
// layout; the conversion converts pixel layouts before any encoder, so what this decides in
// practice is whether the encoder takes the frame size. Runs a one-frame trial the first time
// and remembers the answer for the rest of the process. Blocks for up to a few seconds on
// the first call. Needs a started media framework.
bool VideoEncoderAcceptsFrame(const std::string& factoryName, int width, int height,
                              RawFrameFormat format);

// A property set as one self-describing byte block, and back. A block may end in zero
// padding (a state block has a fixed size). Reading checks every length against the block,
// so a damaged or foreign block is refused instead of read past its end.
std::vector<std::uint8_t> SerializeEncoderProperties(const EncoderProperties& properties);
bool DeserializeEncoderProperties(const void* data, std::size_t size, EncoderProperties& out);

}  // namespace media
