#include "platform/settings_store.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSettings>

namespace platform {
namespace {

QString keyPath(const QString& section, const QString& key) {
    return section.isEmpty() ? key : section + QLatin1Char('/') + key;
}

}  // namespace

QString ProgramBaseName() {
    const QString path = QCoreApplication::applicationFilePath();
    if (!path.isEmpty()) return QFileInfo(path).completeBaseName();
    return QCoreApplication::applicationName();
}

SettingsStore::SettingsStore() : SettingsStore(kOrganisation, ProgramBaseName()) {}

SettingsStore::SettingsStore(QString organisation, QString application)
    : organisation_(std::move(organisation)), application_(std::move(application)) {}

QVariant SettingsStore::readValue(const QString& section, const QString& key) const {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, organisation_, application_);
    return settings.value(keyPath(section, key));
}

bool SettingsStore::contains(const QString& section, const QString& key) const {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, organisation_, application_);
    return settings.contains(keyPath(section, key));
}

int SettingsStore::readInt(const QString& section, const QString& key, int defaultValue) const {
    const QVariant value = readValue(section, key);
    if (!value.isValid()) return defaultValue;
    bool ok = false;
    // A DWORD holds negative numbers in two's complement; read it back the same way.
    const qlonglong number = value.toLongLong(&ok);
    return ok ? static_cast<int>(static_cast<quint32>(number)) : defaultValue;
}

QString SettingsStore::readString(const QString& section, const QString& key,
                                  const QString& defaultValue) const {
    const QVariant value = readValue(section, key);
    return value.isValid() ? value.toString() : defaultValue;
}

void SettingsStore::writeValue(const QString& section, const QString& key, const QVariant& value) {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, organisation_, application_);
    settings.setValue(keyPath(section, key), value);
}

void SettingsStore::writeInt(const QString& section, const QString& key, int value) {
    writeValue(section, key, value);
}

void SettingsStore::writeString(const QString& section, const QString& key, const QString& value) {
    writeValue(section, key, value);
}

void SettingsStore::flush() {
    QSettings settings(QSettings::NativeFormat, QSettings::UserScope, organisation_, application_);
    settings.sync();
}

void SettingsStore::UseFolderForTesting(const QString& folder) {
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, folder);
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, folder);
}

}  // namespace platform
