#pragma once

// The compressor catalogue in the options dialog's list controls.

#include "settings/compressor_catalogue.h"

class QComboBox;

// Fill the list with the catalogue's entries (CompressorListEntries), then select entry 0.
CatalogueResult FillVideoCompressorList(QComboBox& list);
CatalogueResult FillAudioCompressorList(QComboBox& list);

// A failed catalogue step in the program's message box; nothing when none failed.
void ShowCatalogueFailure(const CatalogueResult& result);

// Whether a list entry is the direct stream copy (the last one, after the compressors).
bool IsStreamCopyEntry(const QComboBox& list, int entry);
