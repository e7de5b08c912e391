#pragma once

// Plays one media file: the stand-in for the playback graph of the video window. Decoded
// pictures come out as plain RGBx frames and the graph's events (end of stream, failure) wait
// in a queue that the owner drains on its own thread, after a notification. Nothing GLib-typed
// leaves this header.
//
// Every time here is the user's: the file's first picture is time 0 (see source_timing.h).
//
// Threads: every member function is called on the owner's thread. The two listeners are called
// on GStreamer's streaming threads; they must only post work to the owner's thread and return.
// Clearing a listener waits for a call in progress, so after SetEventListener({}) or
// SetFrameListener({}) returns, the listener is never called again and its target may go.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "media/core/graph_event_codes.h"
#include "media/core/reference_time.h"
#include "media/core/status.h"
#include "media/source/source_timing.h"

namespace media {

class FrameCache;

// An event the owner acts on: EC_COMPLETE, or EC_ERRORABORT with the status in param1.
struct GraphEvent {
    long code = 0;
    HRESULT param1 = S_OK;
};

// One decoded picture, 4 bytes a pixel (R, G, B, unused). The pixels stay valid as long as a
// copy of the frame exists.
struct VideoFrame {
    int width = 0;
    int height = 0;
    int stride = 0;  // bytes per row
    const std::uint8_t* pixels = nullptr;
    std::shared_ptr<const void> keeper;  // holds the decoded buffer
    ReferenceTime timestamp = -1;
    // Where the picture stands in the file: from streamStart until streamEnd, when the next
    // picture takes over; -1 when unknown.
    ReferenceTime streamStart = -1;
    ReferenceTime streamEnd = -1;

    bool isNull() const { return pixels == nullptr; }
};

struct VideoFormat {
    int width = 0;  // the upright picture size, as the pictures come out
    int height = 0;
    int frameRateNumerator = 0;  // the source's own rate, as the probe found it
    int frameRateDenominator = 1;
};

class PlaybackSession {
public:
    PlaybackSession();
    ~PlaybackSession();
    PlaybackSession(const PlaybackSession&) = delete;
    PlaybackSession& operator=(const PlaybackSession&) = delete;

    // Makes the empty graph: the player element with its picture and sound outputs.
    HRESULT Create();
    // Builds the graph for a local file (UTF-8 path) and cues it: returns when the first
    // picture is decoded and the graph stands paused at the start, or fails when no decoder
    // fits, the file is corrupt or nothing is ready within the time limit. LastErrorText() then
    // says why. Needs Create() first.
    HRESULT RenderFile(const std::string& path,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

    bool HasVideo() const { return hasVideo_; }
    // The negotiated picture format; E_NOINTERFACE for a file without a picture.
    HRESULT GetVideoFormat(VideoFormat& format) const;

    HRESULT Run();
    HRESULT Pause();
    // Stops the clock where it is; the graph stays cued so that a later Pause shows a picture.
    HRESULT Stop();
    // Playback speed; only normal speed is supported.
    HRESULT SetRate(double rate);

    // Absolute position in media time; a flushing, frame-accurate seek.
    HRESULT SetPosition(ReferenceTime position);
    // Pictures on from the picture on show, decoded on from it instead of from the key frame
    // before it, so that a step costs the pictures stepped over wherever the clip stands. For
    // a paused graph; returns once the picture that many on is cued, S_FALSE when the
    // pictures ended first. The sound follows the pictures by the time they moved.
    HRESULT StepForward(std::uint32_t pictures = 1,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));
    HRESULT GetCurrentPosition(ReferenceTime& position) const;
    HRESULT GetStopPosition(ReferenceTime& position) const;
    // Where the picture on show stands in the file: the span of the newest picture cued or
    // played, end -1 when the file does not say how long it lasts. After an accurate seek
    // the decoder starts the picture at the place asked for, inside the frame, while its end
    // stays the next frame's start: the end is the more faithful of the two. E_FAIL before
    // the first picture and for a file without pictures.
    HRESULT GetPictureSpan(ReferenceTime& start, ReferenceTime& end) const;

    // Called on a streaming thread whenever an event was queued.
    void SetEventListener(std::function<void()> listener);
    // Takes the oldest queued event; false when none is left.
    bool GetEvent(GraphEvent& event);

    // Called on a streaming thread when a new picture is waiting and the previous one was
    // taken; pictures that arrive before it is taken replace each other.
    void SetFrameListener(std::function<void()> listener);
    // The newest picture (null before the first); allows the next notification.
    VideoFrame TakeFrame();

    // Called by the GStreamer callbacks; not part of the interface.
    struct Callbacks;

private:
    void onSample(VideoFrame frame);
    void onMessage(long code, HRESULT status, const std::string& text);
    void onStepDone(bool reachedEnd);
    void readStreams();
    void close();

    struct Pipeline;
    std::unique_ptr<Pipeline> pipeline_;
    bool hasVideo_ = false;
    VideoFormat videoFormat_;
    SourceTiming timing_;

    mutable std::mutex eventMutex_;
    std::deque<GraphEvent> events_;
    std::function<void()> eventListener_;

    // Pictures decoded ahead for steps back. A picture on show may come from there while the
    // graph still stands where it was last cued: cachedPosition_ is then where the picture on
    // show stands, and the graph goes there only when it has to move on from it.
    std::unique_ptr<FrameCache> cache_;
    std::optional<ReferenceTime> cachedPosition_;
    bool showCached(ReferenceTime position);
    HRESULT cueCachedPosition();
    void anticipate();

    mutable std::mutex frameMutex_;
    VideoFrame latestFrame_;
    bool framePending_ = false;
    std::function<void()> frameListener_;
    // Frame steps wait on these: a count of pictures taken, and the end of a step.
    std::condition_variable frameArrived_;
    std::uint64_t framesTaken_ = 0;
    bool stepEnded_ = false;
    bool stepReachedEnd_ = false;
};

}  // namespace media
