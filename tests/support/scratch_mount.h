#pragma once

// A small tmpfs mounted on a folder, to fill a disk or make a read-only one without touching a
// device. Mounting needs root; where it is not allowed, failure says why and the caller skips.

#include <QString>

namespace testing_support {

class ScratchMount {
public:
    ScratchMount(const QString& folder, qint64 sizeBytes, bool readOnly = false);
    // Lazily: a file the code under test still holds open must not keep the mount alive.
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    const QString folder;
    QString failure;  // empty when mounted
};

}  // namespace testing_support
