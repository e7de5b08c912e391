#include "engine/conversion_progress.h"

#include <algorithm>
#include <cmath>

namespace {

using Seconds = std::chrono::duration<double>;

// Longer than any conversion anyone waits for, and still a clock the status line can show.
constexpr double kLongestShownSeconds = 999.0 * 3600.0;

std::int32_t wholeSecondsLeft(double seconds) {
    return static_cast<std::int32_t>(std::ceil(std::clamp(seconds, 0.0, kLongestShownSeconds)));
}

}  // namespace

void ConversionProgress::Sample(std::chrono::milliseconds elapsed,
                                std::optional<ReferenceTime> position) {
    if (state_ != State::Running || elapsed < elapsed_) return;
    const double step = Seconds(elapsed - elapsed_).count();
    elapsed_ = elapsed;
    if (position && length_ > 0) position_ = std::clamp(*position, position_, length_);

    const double share = Share();
    if (!remainingSeconds_ &&
        (length_ <= 0 || share < kEstimateMinimumShare || elapsed_ < kEstimateMinimumElapsed))
        return;

    // The pace so far, over the whole run: steadier than the last step's.
    const double elapsedSeconds = Seconds(elapsed_).count();
    const double extrapolated = share >= 1.0 ? 0.0 : elapsedSeconds * (1.0 - share) / share;
    if (!remainingSeconds_) {
        remainingSeconds_ = extrapolated;
        return;
    }
    // The last estimate, run down by the time since, then drawn toward the new one.
    const double carried = std::max(0.0, *remainingSeconds_ - step);
    const double weight = 1.0 - std::exp(-step / Seconds(kEstimateSmoothing).count());
    remainingSeconds_ =
        share >= 1.0 ? 0.0 : std::max(0.0, carried + weight * (extrapolated - carried));
}

void ConversionProgress::Complete() {
    if (state_ != State::Running) return;
    state_ = State::Completed;
    if (length_ > 0) position_ = length_;
    remainingSeconds_ = 0.0;
}

void ConversionProgress::Interrupt() {
    if (state_ == State::Running) state_ = State::Interrupted;
}

double ConversionProgress::Share() const {
    if (state_ == State::Completed) return 1.0;
    if (length_ <= 0) return 0.0;
    return static_cast<double>(position_) / static_cast<double>(length_);
}

int ConversionProgress::Percent() const {
    if (state_ == State::Completed) return 100;
    if (length_ <= 0) return 0;
    // In whole numbers, so that 29% of a length never reads 28.
    return static_cast<int>(std::min<ReferenceTime>(99, position_ * 100 / length_));
}

double ConversionProgress::FramesPerSecond(double outputFrameRate) const {
    const double elapsedSeconds = Seconds(elapsed_).count();
    if (elapsedSeconds <= 0.0 || !(outputFrameRate > 0.0)) return 0.0;
    const double frames =
        static_cast<double>(position_) / kReferenceTimePerSecond * outputFrameRate;
    return frames / elapsedSeconds;
}

QString ProgressWindowTitle(int percent, const QString& idleTitle) {
    return QStringLiteral("%1% - %2").arg(percent).arg(idleTitle);
}

QString ProgressStatusLine(std::int32_t elapsedSeconds, std::optional<double> remainingSeconds) {
    QString line = QStringLiteral("Please wait... Used Time: %1")
                       .arg(QString::fromStdString(FormatClockSeconds(elapsedSeconds)));
    if (remainingSeconds)
        line += QStringLiteral("     Left: %1")
                    .arg(QString::fromStdString(
                        FormatClockSeconds(wholeSecondsLeft(*remainingSeconds))));
    return line;
}

QString ProgressConsoleLine(int percent, double framesPerSecond, std::int32_t elapsedSeconds,
                            std::optional<double> remainingSeconds) {
    const QString left =
        remainingSeconds
            ? QString::fromStdString(FormatClockSeconds(wholeSecondsLeft(*remainingSeconds)))
            : QStringLiteral("--:--:--");
    return QStringLiteral("%1%  %2 fps  Used Time: %3  Left: %4")
        .arg(percent, 3)
        .arg(std::isfinite(framesPerSecond) ? framesPerSecond : 0.0, 6, 'f', 1)
        .arg(QString::fromStdString(FormatClockSeconds(elapsedSeconds)), left);
}
