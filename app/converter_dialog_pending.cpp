// Handlers whose subsystems are still being built. Each moves to its topic's file when its
// subsystem lands, and this file goes away.

#include "app/converter_dialog.h"

void ConverterDialog::ShowOutputOptions() {}
void ConverterDialog::OnOpenVideo() {}
void ConverterDialog::OnPlay() {}
void ConverterDialog::OnPause() {}
void ConverterDialog::OnStop() {}
void ConverterDialog::OnStartTime() {}
void ConverterDialog::OnEndTime() {}
void ConverterDialog::OnCloseClip() {}
void ConverterDialog::OnSliderReleased() {}
void ConverterDialog::RefreshPosition() {}
int ConverterDialog::SeekFromSlider(int) { return 0; }
void ConverterDialog::OnAbout() {}
