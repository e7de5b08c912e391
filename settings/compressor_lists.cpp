#include "settings/compressor_lists.h"

#include <QComboBox>

#include <vector>

#include "platform/message_boxes.h"
#include "settings/compressor_catalogue.h"

namespace {

CatalogueResult fillList(media::EncoderKind kind, QComboBox& list) {
    list.clear();
    std::vector<QString> entries;
    const CatalogueResult result = CompressorListEntries(kind, entries);
    for (const QString& entry : entries) list.addItem(entry);
    if (!result.failed()) list.setCurrentIndex(0);
    return result;
}

}  // namespace

CatalogueResult FillVideoCompressorList(QComboBox& list) {
    return fillList(media::EncoderKind::Video, list);
}
CatalogueResult FillAudioCompressorList(QComboBox& list) {
    return fillList(media::EncoderKind::Audio, list);
}

bool IsStreamCopyEntry(const QComboBox& list, int entry) {
    // Only a filled list ends with it: after a failed walk the list holds the first entry alone.
    return entry > 0 && entry == list.count() - 1 &&
           list.itemText(entry) == QLatin1String(kDirectStreamCopyEntry);
}

void ShowCatalogueFailure(const CatalogueResult& result) {
    if (result.failed()) platform::ShowFrameworkMessage(CatalogueFailureText(result));
}
