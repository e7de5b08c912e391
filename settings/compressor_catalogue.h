#pragma once

// Which video and audio compressors are installed: listed by friendly name for the options
// dialog, a default found by name, a stored position turned into a compressor the output
// graph can use. Positions are places in the category's enumeration order.

#include <QString>

#include <optional>
#include <string>
#include <vector>

#include "media/core/status.h"
#include "media/encoders/encoder_registry.h"
#include "settings/compressor_handle.h"

// One entry of a category as the enumeration returns it. A misbehaving entry may have no
// readable settings or name, or may refuse to bind; the operations count positions
// differently for such entries.
struct CompressorMoniker {
    bool propertiesReadable = true;
    std::optional<QString> friendlyName;  // nullopt: the name does not read
    bool bindable = true;
    std::string factoryName;
};

// Where the categories come from: the media framework's encoders in production, a script in
// tests.
class CompressorSource {
public:
    virtual ~CompressorSource() = default;
    // Fails when the enumeration service itself cannot be created.
    virtual HRESULT createSystemEnumerator() { return S_OK; }
    // Fills the category's entries in enumeration order, or fails.
    virtual HRESULT enumerate(media::EncoderKind kind, std::vector<CompressorMoniker>& out) = 0;
};

// nullptr brings back the installed encoders; the caller keeps ownership.
void InstallCompressorSource(CompressorSource* source);

inline constexpr const char* kUncompressedVideoEntry = "Full frames (uncompressed)";
inline constexpr const char* kUncompressedAudioEntry = "Uncompressed Audio";
// The last entry of both lists: no compressor, the source's stream copied as it is.
inline constexpr const char* kDirectStreamCopyEntry = "Direct stream copy";

// The held compressor of the direct stream copy.
CompressorHandle StreamCopyCompressor(media::EncoderKind kind);

// The step of a catalogue call that failed, if any.
enum class CatalogueStep {
    None,
    SystemEnumerator,  // the enumeration service could not be created
    ClassEnumerator,   // the category's entries could not be listed
    Bind,              // the entry at the position refused to bind
    NoDestination,     // nowhere to bind into
};

// What became of a catalogue call: the failing step and its code. The calls show nothing;
// the front ends tell a failure (CatalogueFailureText): the dialogs in a box, the command
// line in a line.
struct [[nodiscard]] CatalogueResult {
    CatalogueStep failedStep = CatalogueStep::None;
    HRESULT status = S_OK;
    media::EncoderKind kind = media::EncoderKind::Video;
    bool failed() const { return failedStep != CatalogueStep::None; }
};

// The words for a failed step; empty when nothing failed.
QString CatalogueFailureText(const CatalogueResult& result);

// A list's entries: the uncompressed entry, then the names in enumeration order (list entry =
// position + 1), then the direct stream copy. After a failure only the uncompressed entry is
// there. The options dialog's lists show them (compressor_lists.h).
CatalogueResult CompressorListEntries(media::EncoderKind kind, std::vector<QString>& entries);

// 1 and the position of the first compressor whose name contains "divx" (video) or
// "microsoft adpcm" (audio) in any letter case; 0 when there is none or the search failed
// (said in *result).
int FindDefaultVideoCompressor(int* position, CatalogueResult* result);
int FindDefaultAudioCompressor(int* position, CatalogueResult* result);

// Binds the compressor at the position into *out, which is cleared first. A position past
// the end binds nothing and is no failure.
CatalogueResult GetCompressor(int position, std::optional<CompressorHandle>* out);
CatalogueResult GetAudioCompressor(int position, std::optional<CompressorHandle>* out);

// Sets the DivX codec's "Disable feedback" value to 1 where it exists; never creates it.
// Always returns 1.
int DisableDivxFeedback();
