#include "settings/codec_settings.h"

#include <QStringList>

#include "platform/settings_store.h"

namespace {
const QString kSection = QStringLiteral("CodecSettings");
}

media::EncoderProperties LoadCodecSettings(const platform::SettingsStore& store,
                                           const std::string& factoryName) {
    media::EncoderProperties properties;
    const QStringList entries =
        store.readValue(kSection, QString::fromStdString(factoryName)).toStringList();
    for (const QString& entry : entries) {
        const qsizetype equals = entry.indexOf(QLatin1Char('='));
        if (equals <= 0) continue;
        properties.push_back({entry.left(equals).toStdString(), entry.mid(equals + 1).toStdString()});
    }
    return properties;
}

void SaveCodecSettings(platform::SettingsStore& store, const std::string& factoryName,
                       const media::EncoderProperties& properties) {
    QStringList entries;
    for (const media::EncoderProperty& property : properties)
        entries << QString::fromStdString(property.name) + QLatin1Char('=') +
                       QString::fromStdString(property.value);
    store.writeValue(kSection, QString::fromStdString(factoryName), entries);
    store.flush();
}
