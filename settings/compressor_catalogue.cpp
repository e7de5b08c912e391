#include "settings/compressor_catalogue.h"

#include "platform/message_boxes.h"
#include "platform/settings_store.h"

namespace {

class InstalledEncoders : public CompressorSource {
public:
    HRESULT enumerate(media::EncoderKind kind, std::vector<CompressorMoniker>& out) override {
        out.clear();
        for (const media::EncoderInfo& info : media::AviEncoders(kind))
            out.push_back({true, QString::fromStdString(info.friendlyName), true, info.factoryName});
        return S_OK;
    }
};

CompressorSource* installedSource = nullptr;

CompressorSource& source() {
    static InstalledEncoders encoders;
    return installedSource ? *installedSource : encoders;
}

// The category walk shared by every operation: the system enumerator, then the category's
// entries. Shows the walk's messages; returns the failure code, or S_OK with the entries.
HRESULT walkCategory(media::EncoderKind kind, std::vector<CompressorMoniker>& monikers) {
    HRESULT hr = source().createSystemEnumerator();
    if (FAILED(hr)) {
        platform::ShowFrameworkMessage(QStringLiteral("Failed to create system enumerator"));
        return hr;
    }
    hr = source().enumerate(kind, monikers);
    if (FAILED(hr)) {
        platform::ShowFrameworkMessage(QStringLiteral("Failed to create class enumerator"));
        return hr;
    }
    return S_OK;
}

int findDefault(media::EncoderKind kind, const QString& wanted, int* position) {
    std::vector<CompressorMoniker> monikers;
    if (FAILED(walkCategory(kind, monikers))) return 0;
    int counter = 0;
    for (const CompressorMoniker& moniker : monikers) {
        if (!moniker.propertiesReadable) continue;
        if (moniker.friendlyName && moniker.friendlyName->toLower().contains(wanted)) {
            *position = counter;
            return 1;
        }
        ++counter;
    }
    return 0;
}

void bindCompressor(media::EncoderKind kind, int position, std::optional<CompressorHandle>* out,
                    const char* invalidPointerText) {
    if (!out) {
        platform::ShowFrameworkMessage(QString::fromLatin1(invalidPointerText));
        return;
    }
    out->reset();
    std::vector<CompressorMoniker> monikers;
    if (FAILED(walkCategory(kind, monikers))) return;
    if (position < 0 || static_cast<std::size_t>(position) >= monikers.size()) return;
    const CompressorMoniker& moniker = monikers[static_cast<std::size_t>(position)];
    if (!moniker.bindable) {
        platform::ShowFrameworkMessage(QStringLiteral("Failed to bind to object"));
        return;
    }
    *out = CompressorHandle{moniker.factoryName, moniker.friendlyName.value_or(QString()), kind};
}

}  // namespace

void InstallCompressorSource(CompressorSource* replacement) { installedSource = replacement; }

CompressorHandle StreamCopyCompressor(media::EncoderKind kind) {
    return CompressorHandle{{}, QString::fromLatin1(kDirectStreamCopyEntry), kind, true};
}

HRESULT CompressorListEntries(media::EncoderKind kind, std::vector<QString>& entries) {
    entries.clear();
    entries.push_back(QString::fromLatin1(kind == media::EncoderKind::Video ? kUncompressedVideoEntry
                                                                           : kUncompressedAudioEntry));
    std::vector<CompressorMoniker> monikers;
    const HRESULT hr = walkCategory(kind, monikers);
    if (FAILED(hr)) return hr;
    for (const CompressorMoniker& moniker : monikers)
        if (moniker.propertiesReadable && moniker.friendlyName) entries.push_back(*moniker.friendlyName);
    entries.push_back(QString::fromLatin1(kDirectStreamCopyEntry));
    return S_OK;
}

int FindDefaultVideoCompressor(int* position) {
    return findDefault(media::EncoderKind::Video, QStringLiteral("divx"), position);
}

int FindDefaultAudioCompressor(int* position) {
    return findDefault(media::EncoderKind::Audio, QStringLiteral("microsoft adpcm"), position);
}

void GetCompressor(int position, std::optional<CompressorHandle>* out) {
    bindCompressor(media::EncoderKind::Video, position, out, "GetCompressor received invalid pointer");
}

void GetAudioCompressor(int position, std::optional<CompressorHandle>* out) {
    bindCompressor(media::EncoderKind::Audio, position, out,
                   "GetAudioCompressor received invalid pointer");
}

int DisableDivxFeedback() {
    platform::SettingsStore divx(QStringLiteral("DivXNetworks"), QStringLiteral("DivX4Windows"));
    const QString key = QStringLiteral("Disable feedback");
    if (!divx.contains(QString(), key)) return 1;
    const QVariant value = divx.readValue(QString(), key);
    bool isNumber = false;
    const qlonglong number = value.toLongLong(&isNumber);
    if (isNumber) {
        // Only the first byte of the stored data becomes 1: a 32-bit value keeps its upper bytes.
        const quint32 dword = (static_cast<quint32>(number) & 0xFFFFFF00u) | 1u;
        divx.writeInt(QString(), key, static_cast<int>(dword));
    } else if (value.typeId() == QMetaType::QByteArray) {
        QByteArray bytes = value.toByteArray();
        if (bytes.isEmpty()) bytes.append('\1'); else bytes[0] = '\1';
        divx.writeValue(QString(), key, bytes);
    } else {
        QString text = value.toString();
        if (text.isEmpty()) text = QString(QChar(1)); else text[0] = QChar(1);
        divx.writeString(QString(), key, text);
    }
    divx.flush();
    return 1;
}
