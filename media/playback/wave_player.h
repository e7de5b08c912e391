#pragma once

// Short WAVE sounds (button feedback) played without blocking the caller. One sound plays at a
// time: a new one cuts the one still playing, as the desktop's own sound player does. Where the
// desktop has no sound device nothing is played and nothing is reported: the audio libraries'
// own attempts to open a missing device would fill the terminal on every sound.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "media/core/status.h"

namespace media {

enum class SoundOutcome {
    None,      // nothing was played yet
    Playing,   // the latest sound is still playing
    Finished,  // the latest sound played to its end
    Cut,       // a newer sound or the player's end stopped it
    Failed,    // it could not be decoded or the output could not start
    Silent,    // the desktop has no sound device: nothing was played
};

class WavePlayer {
public:
    // sinkFactory names the output element; empty for the desktop's device, when it has one.
    explicit WavePlayer(std::string sinkFactory = {});
    // Cuts what plays and waits for the worker to let go of the output.
    ~WavePlayer();
    WavePlayer(const WavePlayer&) = delete;
    WavePlayer& operator=(const WavePlayer&) = delete;

    // Queues a whole WAVE file image and returns at once. E_INVALIDARG for no data,
    // E_UNEXPECTED when the media framework is not running.
    HRESULT Play(std::vector<std::uint8_t> wave);
    // Waits until the latest sound has ended or the time is up; returns its outcome.
    SoundOutcome Wait(std::chrono::milliseconds timeout);
    SoundOutcome lastOutcome() const;
    // GStreamer's text for the latest failure; empty when none.
    std::string lastFailure() const;

private:
    void run();
    SoundOutcome playOne(const std::vector<std::uint8_t>& wave, std::string& failure);
    bool shouldCut() const;

    const std::string sinkFactory_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    std::vector<std::uint8_t> pending_;
    bool hasPending_ = false;
    bool quitting_ = false;
    SoundOutcome outcome_ = SoundOutcome::None;
    std::string failure_;
    std::thread worker_;
};

}  // namespace media
