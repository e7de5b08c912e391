#include "media/core/reference_time.h"

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
    // The whole seconds go through the same 32 bits as FormatClockSeconds, so that a mark and
    // the position display show one second the same way.
    return FormatClockSeconds(static_cast<std::int32_t>(t / kReferenceTimePerSecond));
}
