#include "support/scripted_compressors.h"

namespace testing_support {

ScriptedCompressors::ScriptedCompressors() { InstallCompressorSource(this); }

ScriptedCompressors::~ScriptedCompressors() { InstallCompressorSource(nullptr); }

HRESULT ScriptedCompressors::enumerate(media::EncoderKind kind, std::vector<CompressorMoniker>& out) {
    ++enumerateCalls;
    if (FAILED(classEnumeratorResult)) return classEnumeratorResult;
    out = kind == media::EncoderKind::Video ? video : audio;
    return S_OK;
}

CompressorMoniker ScriptedCompressors::named(const QString& name) {
    return {true, name, true, name.toStdString()};
}

}  // namespace testing_support
