#pragma once

// The compressors the command line names, found in the compressor catalogue. A failed step of
// the catalogue is printed as one line on the standard error.

#include <QString>

#include <cstdint>
#include <optional>

#include "settings/compressor_catalogue.h"

struct CompressorChoice {
    bool ok = true;  // false: no compressor of that name or position
    std::int32_t compressionOn = 0;
    std::optional<CompressorHandle> compressor;
};

// NAME (friendly or factory name, any letter case), a position, "none", "default" or "copy".
CompressorChoice ChooseCompressor(media::EncoderKind kind, const QString& wanted);

// Every compressor as a line on the standard output: position, kind, name and factory.
void ListCompressors();
