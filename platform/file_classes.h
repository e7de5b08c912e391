#pragma once

// The desktop's table of file classes (the registry's HKEY_CLASSES_ROOT on Windows): which
// program opens a kind of document. Used only as a fallback when the shell cannot open an
// address.

#include <QString>

#include <functional>
#include <optional>

namespace platform {

// The default value of a key of the class table, e.g. ".htm" or
// "htmlfile\shell\open\command"; nothing when the key or its value is absent, and always
// nothing where the desktop keeps no such table (it opens addresses through the shell only).
std::optional<QString> ReadClassDefault(const QString& subkey);

// Tests answer the look-ups themselves; an empty function brings back the desktop's table.
using ClassReader = std::function<std::optional<QString>(const QString& subkey)>;
void InstallClassReaderForTesting(ClassReader reader);

}  // namespace platform
