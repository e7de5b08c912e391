#pragma once

// Whether the desktop has a device to play sound on. Where it has none, the audio libraries
// try to open one anyway each time an output starts and fill the terminal with their
// failures; the program's sounds and the video window's sound then go nowhere, quietly.
// Not for use outside media/.

namespace media {

// Asked once per process of the device providers (the sound server's, the sound cards'),
// which look without opening anything. Needs a started media framework.
bool DesktopHasSoundDevice();

}  // namespace media
