// Handlers whose subsystems are still being built. Each moves to its topic's file when its
// subsystem lands, and this file goes away.

#include "app/converter_dialog.h"

void ConverterDialog::OnConvert() {}
void ConverterDialog::OnGraphEvent() {}
void ConverterDialog::FinishConversion() {}
void ConverterDialog::OnTimer(int) {}
