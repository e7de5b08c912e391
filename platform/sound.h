#pragma once

// Sounds: the program's wave resources and wave files, played through the desktop's audio
// output. Feature code calls PlaySound; tests install a recorder in place of the real player.

#include <QString>

namespace platform {

struct SoundRequest {
    // A sound resource of the program (res/sounds/<name>_<id>.wav); 0 when fileName names the
    // sound.
    int resourceId = 0;
    // A wave file, used when resourceId is 0.
    QString fileName;
    // Return at once instead of waiting for the end of the sound.
    bool async = true;
};

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Returns whether the sound was started. A missing sound is never replaced by a default
    // one, and a sound still playing is cut by the new one.
    virtual bool play(const SoundRequest& request) = 0;
};

// The player in use; by default the desktop's audio output, silent where there is none.
SoundPlayer& CurrentSoundPlayer();
// Installs another player (a recorder in tests); nullptr brings back the desktop's. The caller
// keeps ownership.
void InstallSoundPlayer(SoundPlayer* player);

bool PlaySound(const SoundRequest& request);

}  // namespace platform
