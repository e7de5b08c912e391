#include "engine/conversion_progress.h"

#include <algorithm>
#include <cmath>
#include <limits>

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
    if (length_ <= 0) return;
    if (position_ >= length_) {
        remainingSeconds_ = 0.0;  // whatever the pace, nothing is left
        return;
    }

    // The pace is the render's own from its first move on.
    if (!start_ && position_ <= 0) return;
    if (!start_) start_ = Reading{elapsed_, position_};
    readings_.push_back({elapsed_, position_});
    // Kept: the newest reading at least two windows old, and all after it.
    while (readings_.size() > 2 && readings_[1].elapsed <= elapsed_ - 2 * kEstimateWindow)
        readings_.pop_front();

    if (!remainingSeconds_ && !paceKnown()) return;
    estimate(step);
}

std::optional<double> ConversionProgress::paceSince(std::chrono::milliseconds since) const {
    const Reading* from = &readings_.front();
    for (const Reading& reading : readings_) {
        if (reading.elapsed > since) break;
        from = &reading;
    }
    const Reading& to = readings_.back();
    if (to.elapsed <= from->elapsed) return std::nullopt;
    return static_cast<double>(to.position - from->position) / kReferenceTimePerSecond /
           Seconds(to.elapsed - from->elapsed).count();
}

bool ConversionProgress::paceKnown() const {
    if (elapsed_ - start_->elapsed < 2 * kEstimateWindow) return false;
    if (static_cast<double>(position_ - start_->position) <
        kEstimateMinimumShare * static_cast<double>(length_))
        return false;
    // The pace of the window before the last against the last window's.
    const Reading* first = &readings_.front();
    const Reading* middle = first;
    for (const Reading& reading : readings_) {
        if (reading.elapsed <= elapsed_ - 2 * kEstimateWindow) first = &reading;
        if (reading.elapsed <= elapsed_ - kEstimateWindow) middle = &reading;
    }
    const Reading& last = readings_.back();
    if (middle->elapsed <= first->elapsed || last.elapsed <= middle->elapsed) return false;
    const double before = static_cast<double>(middle->position - first->position) /
                          Seconds(middle->elapsed - first->elapsed).count();
    const double recent = static_cast<double>(last.position - middle->position) /
                          Seconds(last.elapsed - middle->elapsed).count();
    if (before <= 0.0 || recent <= 0.0) return false;
    return std::max(before, recent) <= kEstimatePaceAgreement * std::min(before, recent);
}

void ConversionProgress::estimate(double stepSeconds) {
    const double left = static_cast<double>(length_ - position_) / kReferenceTimePerSecond;
    const std::optional<double> pace = paceSince(elapsed_ - 2 * kEstimateWindow);
    const double extrapolated =
        pace && *pace > 0.0 ? left / *pace : std::numeric_limits<double>::infinity();
    if (!remainingSeconds_) {
        remainingSeconds_ = extrapolated;
        return;
    }
    // The last estimate, run down by the time since, then drawn toward the new one; a stall
    // makes it stand still and then grow, no faster than time passes.
    const double carried = std::max(0.0, *remainingSeconds_ - stepSeconds);
    const double weight = 1.0 - std::exp(-stepSeconds / Seconds(kEstimateSmoothing).count());
    const double drawn = std::isfinite(extrapolated) ? carried + weight * (extrapolated - carried)
                                                     : std::numeric_limits<double>::infinity();
    remainingSeconds_ = std::max(0.0, std::min(drawn, *remainingSeconds_ + stepSeconds));
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
