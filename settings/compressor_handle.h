#pragma once

#include <QString>

#include <string>

#include "media/encoder_registry.h"

// A bound compressor: it names the encoder; the output graph creates the element.
struct CompressorHandle {
    std::string factoryName;
    QString friendlyName;
    media::EncoderKind kind = media::EncoderKind::Video;
};
