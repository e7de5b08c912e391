#pragma once

// The compressor catalogue in the options dialog's list controls.

#include "media/status.h"

class QComboBox;

// Fill the list with the catalogue's entries (CompressorListEntries), then select entry 0.
// Returns 0 or the failing step's code.
HRESULT FillVideoCompressorList(QComboBox& list);
HRESULT FillAudioCompressorList(QComboBox& list);

// Whether a list entry is the direct stream copy (the last one, after the compressors).
bool IsStreamCopyEntry(const QComboBox& list, int entry);
