#pragma once

// Media time in units of 100 nanoseconds, the unit of every length, mark, start and stop.

#include <cstdint>
#include <string>

using ReferenceTime = std::int64_t;

inline constexpr ReferenceTime kReferenceTimePerSecond = 10'000'000;
// A time that was not given (a packet without one); any time it is compared with is later.
inline constexpr ReferenceTime kNoTime = INT64_MIN;

constexpr std::int64_t ReferenceTimeToNanoseconds(ReferenceTime t) { return t * 100; }
constexpr ReferenceTime NanosecondsToReferenceTime(std::int64_t ns) { return ns / 100; }
constexpr ReferenceTime SecondsToReferenceTime(std::int64_t seconds) {
    return seconds * kReferenceTimePerSecond;
}

// Whole seconds, truncated toward zero, as "%02d:%02d:%02d"; hours may exceed two digits.
std::string FormatClock(ReferenceTime t);
// The same for a count of whole seconds.
std::string FormatClockSeconds(std::int32_t seconds);
