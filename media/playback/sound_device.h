#pragma once

// Whether the desktop has a device to play sound on. Where it has none, the audio libraries
// try to open one anyway each time an output starts and fill the terminal with their
// failures; the program's sounds and the video window's sound then go nowhere, quietly.
// Not for use outside media/.

namespace media {

// Asked once per process, of the places a sound server or a sound card shows itself, without
// connecting to anything: the sound server's device provider, asked instead, leaks its
// connection when no server answers.
bool DesktopHasSoundDevice();

}  // namespace media
