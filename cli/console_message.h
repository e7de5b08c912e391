#pragma once

// What framewell-convert tells the user goes to the standard error at once, so that it stays in
// order with GStreamer's own lines there.

#include <QString>

#include <cstdio>

inline void PrintMessage(const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stderr);
    std::fflush(stderr);
}
