#pragma once

// Drives Open Video of a real main dialog through the scripted file dialog, and takes a
// snapshot of everything an open may change, so that a test can tell that a refused file
// changed nothing.

#include <QString>
#include <QStringList>

#include "media/reference_time.h"

class ConverterDialog;
class PreviewPlayer;

namespace testing_support {
class TestEnvironment;
}

namespace reliability_tests {

// What the user would notice of the project and the transport after an open.
struct DialogSnapshot {
    int clipCount = 0;
    QString clipFile;
    ReferenceTime clipDuration = 0;
    int musicCount = 0;
    QString musicFile;
    ReferenceTime musicDuration = 0;
    ReferenceTime startMark = 0;
    ReferenceTime endMark = 0;
    QString startText;
    QString endText;
    QString statusText;
    int sourceWidth = 0;
    int sourceHeight = 0;
    int outputWidth = 0;
    int outputHeight = 0;
    double sourceFrameRate = 0.0;
    double outputFrameRate = 0.0;
    const PreviewPlayer* player = nullptr;
    int playState = -1;
    QString playerClip;
    bool transportEnabled = false;
    QString lastFolder;

    bool operator==(const DialogSnapshot&) const = default;
    // The fields that differ from other, for a failure message.
    QString differences(const DialogSnapshot& other) const;
};

DialogSnapshot TakeSnapshot(const ConverterDialog& dialog);

// Picks path in the scripted file dialog and waits for the open to finish, at most timeoutMs.
// Returns the milliseconds it took, or -1 when it did not finish in time.
qint64 OpenThroughDialog(ConverterDialog& dialog, testing_support::TestEnvironment& environment,
                         const QString& path, int timeoutMs = 30000);

}  // namespace reliability_tests
