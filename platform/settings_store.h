#pragma once

// The program's settings, in the current user's branch under the maker's name and the
// program's base name. On Windows this is the registry key
// HKEY_CURRENT_USER\Software\Orvanta\<base name>; elsewhere an INI file under
// $XDG_CONFIG_HOME/Orvanta/. Sections are groups; numbers are stored as integers and texts
// as strings, so settings written by one run are read by the next.

#include <QString>
#include <QVariant>

namespace platform {

inline constexpr const char* kOrganisation = "Orvanta";

// The base name of the program file ("framewell" for /usr/bin/framewell), which names the
// settings branch and captions the framework's message boxes.
QString ProgramBaseName();

class SettingsStore {
public:
    // The program's own branch.
    SettingsStore();
    // Another program's branch, e.g. a codec vendor's.
    SettingsStore(QString organisation, QString application);

    int readInt(const QString& section, const QString& key, int defaultValue) const;
    QString readString(const QString& section, const QString& key,
                       const QString& defaultValue) const;
    bool contains(const QString& section, const QString& key) const;
    QVariant readValue(const QString& section, const QString& key) const;

    // Failed writes are not reported: settings are a convenience, never a reason to stop.
    void writeInt(const QString& section, const QString& key, int value);
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeValue(const QString& section, const QString& key, const QVariant& value);

    // Writes reach the disk here at the latest.
    void flush();

    // Tests keep every store inside a folder of their own and never touch a user's settings.
    static void UseFolderForTesting(const QString& folder);

private:
    QString organisation_;
    QString application_;
};

}  // namespace platform
