// The Options command: the output options dialog on a copy of the record.

#include "app/converter_dialog.h"
#include "settings/output_options_dialog.h"

void ConverterDialog::ShowOutputOptions() {
    // Also while a conversion runs: the running graph keeps the file and compressors it was
    // built with, and its "Done." line names that file.
    OutputOptionsDialog dialog(outputSettings, clipList.count, this);
    dialog.SetSource(sourceOptions, sourceTracks);
    if (dialog.exec() != QDialog::Accepted) return;
    UseOutputChoices(dialog.settings());
    UseSourceChoices(dialog.sourceOptions());
}

void ConverterDialog::UseOutputChoices(const OutputSettings& confirmed) {
    // The source facts are the main dialog's; only the choices come back.
    outputSettings.outputName = confirmed.outputName;
    outputSettings.outputWidth = confirmed.outputWidth;
    outputSettings.outputHeight = confirmed.outputHeight;
    outputSettings.videoCompressionOn = confirmed.videoCompressionOn;
    outputSettings.audioCompressionOn = confirmed.audioCompressionOn;
    outputSettings.videoCompressor = confirmed.videoCompressor;
    outputSettings.audioCompressor = confirmed.audioCompressor;
    outputSettings.frameRateIndex = confirmed.frameRateIndex;
    outputSettings.outputFrameRate = confirmed.outputFrameRate;
    outputSettings.resizeMode = confirmed.resizeMode;
    ShowOutputSummary(outputSettings.sourceWidth == 0 && outputSettings.sourceHeight == 0
                          ? SummaryForm::OriginalSize
                          : SummaryForm::Size);
}
