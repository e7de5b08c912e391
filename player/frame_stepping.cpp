// The video window's keys for exact marking: frame steps, one-second jumps, play and pause,
// first and last picture; and the live position that the marks take.

#include <algorithm>

#include "media/playback/playback_session.h"
#include "player/preview_player.h"

namespace {

ReferenceTime StopOf(const media::PlaybackSession& graph) {
    ReferenceTime stop = 0;
    return SUCCEEDED(graph.GetStopPosition(stop)) ? stop : 0;
}

std::int64_t FramesPerSecond(media::FrameRate rate) {
    return (rate.numerator + rate.denominator / 2) / rate.denominator;
}

// The last picture: the last frame whose middle lies inside the clip. A length that is not a
// whole number of frames must not send a seek past the end, where no picture would come.
// -1 when the clip's length is unknown.
std::int64_t LastFrame(const media::PlaybackSession& graph, media::FrameRate rate) {
    const ReferenceTime stop = StopOf(graph);
    if (stop <= 0) return -1;
    std::int64_t last = std::max<std::int64_t>(media::FrameCount(stop, rate) - 1, 0);
    while (last > 0 && media::FrameMiddle(last, rate) >= stop) --last;
    return last;
}

}  // namespace

media::FrameRate PreviewPlayer::frameRate() const {
    media::VideoFormat format;
    if (!graph || FAILED(graph->GetVideoFormat(format))) return {};
    return {format.frameRateNumerator, format.frameRateDenominator};
}

ReferenceTime PreviewPlayer::LivePosition() const {
    if (!graph) return currentPosition;
    ReferenceTime start = 0;
    ReferenceTime end = 0;
    if (SUCCEEDED(graph->GetPictureSpan(start, end))) {
        const media::FrameRate rate = frameRate();
        if (!rate.known()) return start;
        // The frame is the one that ends where the picture ends: its start may be the place a
        // seek asked for, anywhere inside it. Its time is the frame's nominal start.
        const std::int64_t frame =
            end > 0 ? std::max<std::int64_t>(media::FrameStartingAt(end, rate) - 1, 0)
                    : media::FrameStartingAt(start, rate);
        return media::FrameStart(frame, rate);
    }
    ReferenceTime position = 0;
    if (SUCCEEDED(graph->GetCurrentPosition(position))) return position;
    return currentPosition;
}

void PreviewPlayer::ShowFrame(std::int64_t index, media::FrameRate rate) {
    const std::int64_t last = LastFrame(*graph, rate);
    if (last >= 0) index = std::min(index, last);
    index = std::max<std::int64_t>(index, 0);
    if (index == media::FrameIndexAt(LivePosition(), rate)) return;
    graph->SetPosition(media::FrameMiddle(index, rate));
}

bool PreviewPlayer::StepOn(std::int64_t index, media::FrameRate rate) {
    // A seek decodes again from the key frame before its place, which in a long group of
    // pictures takes most of a second; decoding on from the picture on show costs only the
    // pictures stepped over. Up to a second of them, forward, while paused.
    const std::int64_t shown = media::FrameIndexAt(LivePosition(), rate);
    const std::int64_t last = LastFrame(*graph, rate);
    if (playState == Running || index <= shown || (last >= 0 && index > last) ||
        index - shown > std::max<std::int64_t>(FramesPerSecond(rate), 1))
        return false;
    return graph->StepForward(static_cast<std::uint32_t>(index - shown)) == S_OK &&
           media::FrameIndexAt(LivePosition(), rate) == index;
}

void PreviewPlayer::StepFrames(int count) {
    if (!graph || audioOnly || count == 0) return;
    // A step is meant to be watched frame by frame: a running clip stops moving first.
    if (playState == Running) PausePlayback();
    if (playState == Running) return;
    const media::FrameRate rate = frameRate();
    if (!rate.known()) {
        // Without a constant rate the frames have no times to aim at, but the next picture
        // can still be decoded.
        if (count == 1) graph->StepForward();
        return;
    }
    const std::int64_t target = media::FrameIndexAt(LivePosition(), rate) + count;
    // A step that went wrong is put right by the seek.
    if (!StepOn(target, rate)) ShowFrame(target, rate);
}

void PreviewPlayer::JumpSeconds(int count) {
    if (!graph || count == 0) return;
    const ReferenceTime target = LivePosition() + count * kReferenceTimePerSecond;
    const media::FrameRate rate = frameRate();
    if (rate.known() && !audioOnly) {
        const std::int64_t frame = media::FrameIndexAt(target, rate);
        if (!StepOn(frame, rate)) ShowFrame(frame, rate);
        return;
    }
    const ReferenceTime stop = StopOf(*graph);
    SeekAbsolute(stop > 0 ? std::min(target, stop) : target);
}

void PreviewPlayer::TogglePlayback() {
    if (playState == Running)
        PausePlayback();
    else
        StartPlayback();
}

void PreviewPlayer::GoToStart() {
    SeekAbsolute(0);
}

void PreviewPlayer::GoToEnd() {
    if (!graph) return;
    const media::FrameRate rate = frameRate();
    if (rate.known() && !audioOnly) {
        ShowFrame(media::FrameCount(StopOf(*graph), rate), rate);
        return;
    }
    SeekAbsolute(StopOf(*graph));
}
