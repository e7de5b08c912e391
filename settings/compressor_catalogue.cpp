#include "settings/compressor_catalogue.h"

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
// entries.
CatalogueResult walkCategory(media::EncoderKind kind, std::vector<CompressorMoniker>& monikers) {
    HRESULT hr = source().createSystemEnumerator();
    if (FAILED(hr)) return {CatalogueStep::SystemEnumerator, hr, kind};
    hr = source().enumerate(kind, monikers);
    if (FAILED(hr)) return {CatalogueStep::ClassEnumerator, hr, kind};
    return {CatalogueStep::None, S_OK, kind};
}

int findDefault(media::EncoderKind kind, const QString& wanted, int* position,
                CatalogueResult* result) {
    std::vector<CompressorMoniker> monikers;
    const CatalogueResult walk = walkCategory(kind, monikers);
    if (result) *result = walk;
    if (walk.failed()) return 0;
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

CatalogueResult bindCompressor(media::EncoderKind kind, int position,
                               std::optional<CompressorHandle>* out) {
    if (!out) return {CatalogueStep::NoDestination, E_POINTER, kind};
    out->reset();
    std::vector<CompressorMoniker> monikers;
    if (const CatalogueResult walk = walkCategory(kind, monikers); walk.failed()) return walk;
    if (position < 0 || static_cast<std::size_t>(position) >= monikers.size())
        return {CatalogueStep::None, S_OK, kind};
    const CompressorMoniker& moniker = monikers[static_cast<std::size_t>(position)];
    if (!moniker.bindable) return {CatalogueStep::Bind, E_FAIL, kind};
    *out = CompressorHandle{moniker.factoryName, moniker.friendlyName.value_or(QString()), kind};
    return {CatalogueStep::None, S_OK, kind};
}

}  // namespace

void InstallCompressorSource(CompressorSource* replacement) {
    installedSource = replacement;
}

CompressorHandle StreamCopyCompressor(media::EncoderKind kind) {
    return CompressorHandle{{}, QString::fromLatin1(kDirectStreamCopyEntry), kind, true};
}

QString CatalogueFailureText(const CatalogueResult& result) {
    const bool video = result.kind == media::EncoderKind::Video;
    switch (result.failedStep) {
        case CatalogueStep::SystemEnumerator:
            return QStringLiteral("Failed to create system enumerator");
        case CatalogueStep::ClassEnumerator:
            return QStringLiteral("Failed to create class enumerator");
        case CatalogueStep::Bind:
            return QStringLiteral("Failed to bind to object");
        case CatalogueStep::NoDestination:
            return video ? QStringLiteral("GetCompressor received invalid pointer")
                         : QStringLiteral("GetAudioCompressor received invalid pointer");
        case CatalogueStep::None:
            break;
    }
    return {};
}

CatalogueResult CompressorListEntries(media::EncoderKind kind, std::vector<QString>& entries) {
    entries.clear();
    entries.push_back(QString::fromLatin1(kind == media::EncoderKind::Video ? kUncompressedVideoEntry
                                                                           : kUncompressedAudioEntry));
    std::vector<CompressorMoniker> monikers;
    const CatalogueResult walk = walkCategory(kind, monikers);
    if (walk.failed()) return walk;
    for (const CompressorMoniker& moniker : monikers)
        if (moniker.propertiesReadable && moniker.friendlyName) entries.push_back(*moniker.friendlyName);
    entries.push_back(QString::fromLatin1(kDirectStreamCopyEntry));
    return walk;
}

int FindDefaultVideoCompressor(int* position, CatalogueResult* result) {
    return findDefault(media::EncoderKind::Video, QStringLiteral("divx"), position, result);
}

int FindDefaultAudioCompressor(int* position, CatalogueResult* result) {
    return findDefault(media::EncoderKind::Audio, QStringLiteral("microsoft adpcm"), position,
                       result);
}

CatalogueResult GetCompressor(int position, std::optional<CompressorHandle>* out) {
    return bindCompressor(media::EncoderKind::Video, position, out);
}

CatalogueResult GetAudioCompressor(int position, std::optional<CompressorHandle>* out) {
    return bindCompressor(media::EncoderKind::Audio, position, out);
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
        if (bytes.isEmpty())
            bytes.append('\1');
        else
            bytes[0] = '\1';
        divx.writeValue(QString(), key, bytes);
    } else {
        QString text = value.toString();
        if (text.isEmpty())
            text = QString(QChar(1));
        else
            text[0] = QChar(1);
        divx.writeString(QString(), key, text);
    }
    divx.flush();
    return 1;
}
