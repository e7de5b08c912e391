#pragma once

// Which source frame a picture painted by the video window shows, for the fixtures of
// media_fixtures.h (the frame number is in the grey levels of the picture's two halves).

#include <QImage>
#include <QtGlobal>

namespace testing_support {

// The picture is full-range RGB converted from video-range grey levels, so the darkest level
// (8) and black (16) both come out as 0: the rounding leans down by a quarter step.
inline int PictureFrameNumber(const QImage& picture) {
    if (picture.isNull()) return -1;
    auto level = [&](int x) {
        const double red = qRed(picture.pixel(x, picture.height() / 2));
        const double luma = red * 219.0 / 255.0 + 16.0;
        return qBound(0, static_cast<int>((luma - 8.0) / 16.0 + 0.25), 15);
    };
    return level(picture.width() * 3 / 4) * 16 + level(picture.width() / 4);
}

}  // namespace testing_support
