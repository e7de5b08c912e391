#include "platform/file_classes.h"

#if defined(Q_OS_WIN)
#include <QSettings>
#endif

namespace platform {
namespace {

ClassReader& testReader() {
    static ClassReader reader;
    return reader;
}

std::optional<QString> readDesktopClassDefault(const QString& subkey) {
#if defined(Q_OS_WIN)
    const QSettings key(QStringLiteral("HKEY_CLASSES_ROOT\\") + subkey, QSettings::NativeFormat);
    const QVariant value = key.value(QStringLiteral("Default"));
    if (!value.isValid() || value.toString().isEmpty()) return std::nullopt;
    return value.toString();
#else
    // Elsewhere the shell's own opener (xdg-open) already is the default-browser look-up.
    Q_UNUSED(subkey);
    return std::nullopt;
#endif
}

}  // namespace

std::optional<QString> ReadClassDefault(const QString& subkey) {
    if (testReader()) return testReader()(subkey);
    return readDesktopClassDefault(subkey);
}

void InstallClassReaderForTesting(ClassReader reader) {
    testReader() = std::move(reader);
}

}  // namespace platform
