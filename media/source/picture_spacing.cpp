#include "media/source/picture_spacing.h"

#include <gst/gst.h>

#include <algorithm>
#include <cmath>

namespace media {
namespace {

// A stated rate stands unless the pictures' own spacing differs from it by more than this.
constexpr double kStatedRateTolerance = 0.01;
constexpr FrameRate kAssumedRate{25, 1};

double valueOf(FrameRate rate) {
    return static_cast<double>(rate.numerator) / rate.denominator;
}

}  // namespace

void PictureSpacing::Add(std::vector<ReferenceTime> starts) {
    std::sort(starts.begin(), starts.end());
    starts.erase(std::unique(starts.begin(), starts.end()), starts.end());
    if (starts.size() < 3) return;
    std::vector<ReferenceTime> steps;
    for (std::size_t i = 1; i < starts.size(); ++i) steps.push_back(starts[i] - starts[i - 1]);
    std::vector<ReferenceTime> sorted = steps;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const ReferenceTime usual = sorted[sorted.size() / 2];
    for (ReferenceTime step : steps) {
        if (step * 2 < usual || step * 2 > usual * 3) continue;
        total_ += step;
        ++count_;
    }
}
FrameRate PictureSpacing::Rate() const {
    if (count_ < 2 || total_ <= 0) return {};
    const double perSecond = static_cast<double>(kReferenceTimePerSecond) *
                             static_cast<double>(count_) / static_cast<double>(total_);
    gint numerator = 0;
    gint denominator = 1;
    gst_util_double_to_fraction(perSecond, &numerator, &denominator);
    return SnapToStandardRate({numerator, denominator});
}

void DecideFrameRate(const PictureSpacing& spacing, SourceTiming& timing) {
    const FrameRate measured = spacing.Rate();
    const FrameRate stated = timing.statedFrameRate;
    if (stated.known() && (!measured.known() || std::fabs(valueOf(measured) - valueOf(stated)) <=
                                                    valueOf(stated) * kStatedRateTolerance)) {
        timing.frameRate = SnapToStandardRate(stated);
        timing.frameRateOrigin = FrameRateOrigin::Declared;
    } else if (measured.known()) {
        timing.frameRate = measured;
        timing.frameRateOrigin = FrameRateOrigin::Measured;
    } else {
        timing.frameRate = kAssumedRate;
        timing.frameRateOrigin = FrameRateOrigin::Assumed;
    }
}

}  // namespace media
