#include "media/reference_time.h"

#include <cstdio>

std::string FormatClockSeconds(std::int32_t secs) {
    const std::int32_t hours = secs / 3600;
    const std::int32_t minutes = (secs - hours * 3600) / 60;
    const std::int32_t seconds = secs - hours * 3600 - minutes * 60;
    char buffer[48];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hours, minutes, seconds);
    return buffer;
}

std::string FormatClock(ReferenceTime t) {
    // The whole seconds are held in 32 bits, as the position display always did.
    return FormatClockSeconds(static_cast<std::int32_t>(t / kReferenceTimePerSecond));
}
