#include "media/core/frame_time.h"

#include <cstdio>

namespace media {
namespace {

// A frame lasts denominator × 10^7 / numerator units; the arithmetic stays in integers
// scaled by the numerator, so that 30000/1001 does not drift over hours of frames.
std::int64_t ScaledPeriod(FrameRate rate) {
    return static_cast<std::int64_t>(rate.denominator) * kReferenceTimePerSecond;
}

std::int64_t CeilDivide(std::int64_t value, std::int64_t divisor) {
    return value >= 0 ? (value + divisor - 1) / divisor : -((-value) / divisor);
}

}  // namespace

std::int64_t FrameIndexAt(ReferenceTime t, FrameRate rate) {
    if (!rate.known() || t <= 0) return 0;
    return t * rate.numerator / ScaledPeriod(rate);
}

std::int64_t FrameStartingAt(ReferenceTime timestamp, FrameRate rate) {
    return FrameIndexAt(timestamp + kTimestampRounding, rate);
}

ReferenceTime FrameStart(std::int64_t index, FrameRate rate) {
    if (!rate.known() || index <= 0) return 0;
    return CeilDivide(index * ScaledPeriod(rate), rate.numerator);
}

ReferenceTime FrameMiddle(std::int64_t index, FrameRate rate) {
    if (!rate.known()) return 0;
    if (index < 0) index = 0;
    return (2 * index + 1) * ScaledPeriod(rate) / (2 * static_cast<std::int64_t>(rate.numerator));
}

std::int64_t FrameCount(ReferenceTime length, FrameRate rate) {
    if (!rate.known() || length <= 0) return 0;
    // Frame n starts before the end when FrameStart(n) < length, that is when
    // n × period <= (length - 1) × numerator.
    return (length - 1) * rate.numerator / ScaledPeriod(rate) + 1;
}

std::string FormatClockMilliseconds(ReferenceTime t) {
    const std::int64_t totalMilliseconds = t / 10'000;
    const std::int64_t milliseconds = totalMilliseconds % 1000;
    const std::string clock = FormatClock(t);
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, ".%03d",
                  static_cast<int>(milliseconds < 0 ? -milliseconds : milliseconds));
    return clock + buffer;
}

}  // namespace media
