#pragma once

// Records every sound the program asks for instead of playing it.

#include <QList>

#include "platform/sound.h"

namespace testing_support {

class SoundRecorder : public platform::SoundPlayer {
public:
    SoundRecorder() { platform::InstallSoundPlayer(this); }
    ~SoundRecorder() override { platform::InstallSoundPlayer(nullptr); }
    SoundRecorder(const SoundRecorder&) = delete;
    SoundRecorder& operator=(const SoundRecorder&) = delete;

    bool play(const platform::SoundRequest& request) override {
        requests.push_back(request);
        return true;
    }

    QList<platform::SoundRequest> requests;
};

}  // namespace testing_support
