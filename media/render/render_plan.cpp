#include "media/render/render_plan.h"

#include <gst/gst.h>

#include <cmath>
#include <cstdio>

namespace media {

Fraction FrameRateFraction(double framesPerSecond) {
    if (!(framesPerSecond >= kLowestOutputFrameRate && framesPerSecond <= kHighestOutputFrameRate))
        return {0, 1};
    // The NTSC rates as the settings write them ("23.976", "29.97") and as sources report them.
    if (std::fabs(framesPerSecond - 23.976) < 0.0005) return {24000, 1001};
    if (std::fabs(framesPerSecond - 29.97) < 0.0005) return {30000, 1001};
    gint numerator = 0;
    gint denominator = 1;
    gst_util_double_to_fraction(framesPerSecond, &numerator, &denominator);
    if (numerator <= 0 || denominator <= 0) return {0, 1};
    return {numerator, denominator};
}

std::string FormatFrameRate(Fraction rate) {
    if (rate.denominator <= 0) return "?";
    if (rate.numerator % rate.denominator == 0)
        return std::to_string(rate.numerator / rate.denominator);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.3f",
                  static_cast<double>(rate.numerator) / rate.denominator);
    std::string text = buffer;
    while (text.back() == '0') text.pop_back();
    return text;
}

bool UsesStreamCopy(const RenderPlan& plan) {
    return plan.video.streamCopy || plan.audio.streamCopy;
}

}  // namespace media
