#pragma once

// How far a conversion has come and how long it has left, worked out from readings of the
// render's position against the length of what is being converted. Pure arithmetic: the main
// dialog and framewell-convert feed it readings and show what it says.
//
// What it promises, because a progress display that lies is worse than none:
// - the share never goes back, and never passes the length;
// - 100% only once the conversion has really reached its end (Complete), never from a reading;
// - the time left is measured from the conversion's own progress: from the first reading that
//   finds the render moving, so that setting up, discovery and the pipeline's start are not
//   taken for its pace;
// - none is given before that pace is known: two windows of readings in a row agree on it and
//   enough has been converted since; a conversion over before then never shows one;
// - once given it follows the recent pace smoothly (one odd reading does not throw it about),
//   rises no faster than time passes while the render stalls, and is never negative.

#include <QString>

#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>

#include "media/core/reference_time.h"

// No estimate before this share of the length has been converted since the render began to
// move...
inline constexpr double kEstimateMinimumShare = 0.02;
// ...nor before two windows of this length have passed since then, the second at a pace within
// kEstimatePaceAgreement of the first. The estimate then goes by the pace over the last two
// windows.
inline constexpr std::chrono::milliseconds kEstimateWindow{1000};
inline constexpr double kEstimatePaceAgreement = 1.25;
// How quickly the estimate follows a change of pace: a new reading counts the more, the longer
// it has been since the one before (an exponential average over time, so the pace of readings
// does not matter).
inline constexpr std::chrono::milliseconds kEstimateSmoothing{3000};

class ConversionProgress {
public:
    ConversionProgress() = default;
    // length: the timeline time the conversion renders; 0 or less when unknown.
    explicit ConversionProgress(ReferenceTime length) : length_(length) {}

    // A reading of the render's position (timeline time) taken `elapsed` after the conversion
    // began (when exactly does not matter to the time left). A missing reading only lets time
    // pass; a position behind an earlier one is taken as the earlier one. Readings after the
    // end change nothing.
    void Sample(std::chrono::milliseconds elapsed, std::optional<ReferenceTime> position);
    // The conversion reached its real end: 100%, nothing left. Ignored after Interrupt.
    void Complete();
    // The conversion ended short of its end (stopped, failed): the share stays where it was.
    // Ignored after Complete.
    void Interrupt();

    bool Running() const { return state_ == State::Running; }
    bool Completed() const { return state_ == State::Completed; }
    ReferenceTime Length() const { return length_; }
    // How far the render has come, within 0 and the length.
    ReferenceTime Position() const { return position_; }
    // 0 to 1.
    double Share() const;
    // Whole percent: at most 99 until Complete, 100 after it.
    int Percent() const;
    // Seconds left, once there is enough to go on; nullopt before.
    std::optional<double> RemainingSeconds() const { return remainingSeconds_; }
    // Frames converted per second of elapsed time, at the output's frame rate.
    double FramesPerSecond(double outputFrameRate) const;
    std::chrono::milliseconds Elapsed() const { return elapsed_; }

private:
    enum class State { Running, Completed, Interrupted };
    struct Reading {
        std::chrono::milliseconds elapsed;
        ReferenceTime position;
    };

    // Timeline time per second between the last reading at or before `since` (the first one
    // kept, when none is that old) and the newest; nullopt without two readings apart in time.
    std::optional<double> paceSince(std::chrono::milliseconds since) const;
    // Whether the pace is known well enough for a first estimate, now.
    bool paceKnown() const;
    void estimate(double stepSeconds);

    ReferenceTime length_ = 0;
    ReferenceTime position_ = 0;
    std::chrono::milliseconds elapsed_{0};
    std::optional<double> remainingSeconds_;
    State state_ = State::Running;
    // The first reading that found the render moving, and the readings since, as far back as
    // two windows reach.
    std::optional<Reading> start_;
    std::deque<Reading> readings_;
};

// The window title while converting, e.g. "42% - Framewell".
QString ProgressWindowTitle(int percent, const QString& idleTitle);
// "Please wait... Used Time: 00:01:05", followed by "     Left: 00:00:12" once the time left
// is known (whole seconds, rounded up, so that it reads 0 only when nothing is left).
QString ProgressStatusLine(std::int32_t elapsedSeconds, std::optional<double> remainingSeconds);
// framewell-convert's line, e.g. " 42%   87.5 fps  Used Time: 00:00:03  Left: 00:00:04", with
// "--:--:--" while the time left is unknown. Always the same width for the same hours, so that
// a line rewritten in place leaves nothing of the one before.
QString ProgressConsoleLine(int percent, double framesPerSecond, std::int32_t elapsedSeconds,
                            std::optional<double> remainingSeconds);
