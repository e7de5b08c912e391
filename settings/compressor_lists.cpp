#include "settings/compressor_lists.h"

#include <QComboBox>

#include <vector>

#include "settings/compressor_catalogue.h"

namespace {

HRESULT fillList(media::EncoderKind kind, QComboBox& list) {
    list.clear();
    std::vector<QString> entries;
    const HRESULT hr = CompressorListEntries(kind, entries);
    for (const QString& entry : entries) list.addItem(entry);
    if (SUCCEEDED(hr)) list.setCurrentIndex(0);
    return hr;
}

}  // namespace

HRESULT FillVideoCompressorList(QComboBox& list) {
    return fillList(media::EncoderKind::Video, list);
}
HRESULT FillAudioCompressorList(QComboBox& list) {
    return fillList(media::EncoderKind::Audio, list);
}

bool IsStreamCopyEntry(const QComboBox& list, int entry) {
    // Only a filled list ends with it: after a failed walk the list holds the first entry alone.
    return entry > 0 && entry == list.count() - 1 &&
           list.itemText(entry) == QLatin1String(kDirectStreamCopyEntry);
}
