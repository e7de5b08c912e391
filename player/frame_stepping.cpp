// The video window's keys for exact marking: frame steps, one-second jumps, play and pause,
// first and last picture; and the live position that the marks take.

#include <algorithm>

#include "media/playback_session.h"
#include "player/preview_player.h"

namespace {

ReferenceTime StopOf(const media::PlaybackSession& graph) {
    ReferenceTime stop = 0;
    return SUCCEEDED(graph.GetStopPosition(stop)) ? stop : 0;
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
    const ReferenceTime stop = StopOf(*graph);
    if (stop > 0) {
        // The last picture is the last frame whose middle lies inside the clip: a length that
        // is not a whole number of frames must not send the seek past the end, where no
        // picture would come.
        std::int64_t last = std::max<std::int64_t>(media::FrameCount(stop, rate) - 1, 0);
        while (last > 0 && media::FrameMiddle(last, rate) >= stop) --last;
        index = std::min(index, last);
    }
    index = std::max<std::int64_t>(index, 0);
    if (index == media::FrameIndexAt(LivePosition(), rate)) return;
    graph->SetPosition(media::FrameMiddle(index, rate));
}

void PreviewPlayer::StepFrames(int count) {
    if (!graph || audioOnly || count == 0) return;
    // A step is meant to be watched frame by frame: a running clip stops moving first.
    if (playState == Running) PausePlayback();
    const media::FrameRate rate = frameRate();
    if (!rate.known()) return;
    ShowFrame(media::FrameIndexAt(LivePosition(), rate) + count, rate);
}

void PreviewPlayer::JumpSeconds(int count) {
    if (!graph || count == 0) return;
    const ReferenceTime target = LivePosition() + count * kReferenceTimePerSecond;
    const media::FrameRate rate = frameRate();
    if (rate.known() && !audioOnly) {
        ShowFrame(media::FrameIndexAt(target, rate), rate);
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
