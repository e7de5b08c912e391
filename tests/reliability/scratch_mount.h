#pragma once

// A small memory file system mounted on a folder of the test's own, to fill a disk or make a
// read-only one without touching any device. Mounting needs privileges that a CI runner may not
// give: available() then says so and the test skips with the reason.

#include <QString>

namespace reliability_tests {

class ScratchMount {
public:
    // Mounts a tmpfs of sizeBytes at folder (made if needed), read-only when asked.
    ScratchMount(const QString& folder, qint64 sizeBytes, bool readOnly = false);
    ~ScratchMount();
    ScratchMount(const ScratchMount&) = delete;
    ScratchMount& operator=(const ScratchMount&) = delete;

    bool available() const { return mounted_; }
    // Why the mount failed, for the skip message.
    QString failure() const { return failure_; }
    QString folder() const { return folder_; }

private:
    QString folder_;
    bool mounted_ = false;
    QString failure_;
};

}  // namespace reliability_tests
