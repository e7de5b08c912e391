#pragma once

// A compressor catalogue with names chosen by the test, including entries that misbehave
// the way installed codecs sometimes do.

#include <vector>

#include "settings/compressor_catalogue.h"

namespace testing_support {

class ScriptedCompressors : public CompressorSource {
public:
    ScriptedCompressors();
    ~ScriptedCompressors() override;

    HRESULT createSystemEnumerator() override {
        ++systemEnumeratorCalls;
        return systemEnumeratorResult;
    }
    HRESULT enumerate(media::EncoderKind kind, std::vector<CompressorMoniker>& out) override;

    // A well-behaved entry with a name and a factory of the same name.
    static CompressorMoniker named(const QString& name);

    std::vector<CompressorMoniker> video;
    std::vector<CompressorMoniker> audio;
    HRESULT systemEnumeratorResult = S_OK;
    HRESULT classEnumeratorResult = S_OK;
    int systemEnumeratorCalls = 0;
    int enumerateCalls = 0;
};

}  // namespace testing_support
