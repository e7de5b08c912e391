#pragma once

// The command line of framewell-convert:
//   framewell-convert [options] INPUT OUTPUT
//   framewell-convert [options] INPUT... FOLDER
//   framewell-convert --list-tracks INPUT
// Options take their value as the next argument or after "=".

#include <QSize>
#include <QString>
#include <QStringList>

#include <optional>

#include "media/core/reference_time.h"
#include "media/source/source_choices.h"

struct ConvertOptions {
    QString input;   // the first INPUT
    QString output;  // OUTPUT, or the FOLDER the outputs of several inputs go into
    QStringList inputs;
    // Each INPUT's output is named after it, with ".avi", in the folder named by output: given
    // several inputs, or one and a folder.
    bool toFolder = false;
    std::optional<ReferenceTime> startMark;               // nullopt: the beginning
    std::optional<ReferenceTime> endMark;                 // nullopt: the source's whole length
    std::optional<QSize> size;                            // nullopt: the source's own size
    std::optional<double> frameRate;                      // nullopt: the source's own rate
    int resizeMode = 2;                                   // preserve the aspect ratio
    QString videoCompressor = QStringLiteral("default");  // NAME, position, none, default, copy
    QString audioCompressor = QStringLiteral("default");
    int audioTrack = 1;     // among the sound tracks, from 1
    int subtitleTrack = 0;  // among the subtitle tracks, from 1; 0 for none
    QString subtitleFile;   // a side file to burn in instead of a track
    media::DeinterlaceMode deinterlace = media::DeinterlaceMode::Auto;
    std::optional<double> targetSizeMegabytes;  // nullopt: no size is aimed at
    int jobs = 1;                               // conversions at a time, for several inputs
    bool listCompressors = false;
    bool listTracks = false;
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

// The highest --jobs: more conversions at a time than this only wait on each other.
inline constexpr int kMostJobs = 64;

// An explicit output size, as the options dialog keeps sizes: rounded down to a multiple of 8,
// and at least 16.
int RoundOutputDimension(int pixels);

QString ConvertUsage();
