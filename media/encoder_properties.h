#pragma once

// An encoder's own settings as name and value texts, the form in which they are kept between
// runs and handed to the encoder that a conversion creates.

#include <string>
#include <vector>

namespace media {

struct EncoderProperty {
    std::string name;   // the element property's name, e.g. "bitrate"
    std::string value;  // its value as GStreamer parses it from text, e.g. "800000"
};

using EncoderProperties = std::vector<EncoderProperty>;

}  // namespace media
