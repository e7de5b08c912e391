#pragma once

// The one video-window player of the process, made and deleted only by the main dialog's
// CreateSourcePlayer and DestroySourcePlayer; null while no clip is open.

class PreviewPlayer;

extern PreviewPlayer* currentPlayer;

// The position slider's scale: position p of 0 to 600 stands for p / 600 of the stop position.
inline constexpr int kSliderSteps = 600;
