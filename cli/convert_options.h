#pragma once

// The command line of framewell-convert:
//   framewell-convert [options] INPUT OUTPUT
// Options take their value as the next argument or after "=".

#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

#include "media/reference_time.h"

struct ConvertOptions {
    QString input;
    QString output;
    std::optional<ReferenceTime> startMark;               // nullopt: the beginning
    std::optional<ReferenceTime> endMark;                 // nullopt: the source's whole length
    std::optional<QSize> size;                            // nullopt: the source's own size
    std::optional<double> frameRate;                      // nullopt: the source's own rate
    int resizeMode = 2;                                   // preserve the aspect ratio
    QString videoCompressor = QStringLiteral("default");  // NAME, position, none, default, copy
    QString audioCompressor = QStringLiteral("default");
    bool listCompressors = false;
    bool overwrite = false;
    bool quiet = false;
    bool help = false;
    bool version = false;
};

struct ParsedCommandLine {
    ConvertOptions options;
    QString error;  // empty when the command line is usable
    bool ok() const { return error.isEmpty(); }
};

// arguments without the program name.
ParsedCommandLine ParseConvertArguments(const QStringList& arguments);

// An explicit output size, as the options dialog keeps sizes: rounded down to a multiple of 8,
// and at least 16.
int RoundOutputDimension(int pixels);

QString ConvertUsage();
