#pragma once

// The main dialog as its user reaches it: a control found by its id, a button pressed (a
// disabled one does nothing, as under the mouse) and the output choices changed as the
// Options dialog's OK changes them.

#include <QAbstractButton>
#include <QLabel>
#include <QTest>

#include "app/converter_dialog.h"
#include "platform/dialog_template.h"

namespace testing_support {

template <typename Control = QWidget>
Control* DialogControl(const ConverterDialog& dialog, int id) {
    return platform::Control<Control>(&dialog, id);
}

inline void Press(ConverterDialog& dialog, int id) {
    if (auto* button = platform::Control<QAbstractButton>(&dialog, id)) button->click();
}

inline QString StatusText(const ConverterDialog& dialog) {
    const auto* line = platform::Control<QLabel>(&dialog, MainDialogIds::kStatusLine);
    return line ? line->text() : QString();
}

// Opens a file as a drop does and waits until it has been measured and loaded.
inline bool OpenVideoAndWait(ConverterDialog& dialog, const QString& path) {
    dialog.OpenVideoFile(path);
    return QTest::qWaitFor([&] { return !dialog.isOpeningVideo(); }, 30000);
}

// Changes the record the dialog converts with through change(settings), then hands it back as
// the Options dialog's OK does.
template <typename Change>
void ChangeOutput(ConverterDialog& dialog, Change change) {
    OutputSettings settings = dialog.settings();
    change(settings);
    dialog.UseOutputChoices(settings);
}

// Converts what the marks hold into output, uncompressed, as Convert does once the question
// about the missing compressor is answered Yes (what the recorders answer without a script),
// and waits for "Done.".
inline bool ConvertUncompressedAndWait(ConverterDialog& dialog, const QString& output,
                                       int boundMs = 60000) {
    ChangeOutput(dialog, [&](OutputSettings& settings) {
        settings.outputName = output;
        settings.videoCompressionOn = 0;
        settings.audioCompressionOn = 0;
    });
    Press(dialog, MainDialogIds::kConvert);
    return QTest::qWaitFor([&] { return StatusText(dialog).startsWith(QStringLiteral("Done.")); },
                           boundMs);
}

}  // namespace testing_support
