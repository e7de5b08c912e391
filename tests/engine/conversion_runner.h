#pragma once

// Runs whole conversions the way Convert does, minus the dialog: the clip lists and marks as
// Open Video leaves them, the timeline builder, then the render engine and its events.

#include <QStringList>

#include <functional>
#include <optional>

#include "clips/clip_list.h"
#include "engine/conversion_engine.h"

namespace testing_support {

struct ConversionJob {
    QString source;
    ReferenceTime startMark = 0;
    ReferenceTime endMark = 0;
    QString output;
    OutputSettings settings;    // size, frame rate and resize mode
    OutputGraphSettings graph;  // compression and its compressors, off unless set
};

struct ConversionOutcome {
    HRESULT setUpStatus = E_FAIL;
    media::RenderStep setUpStep = media::RenderStep::None;  // the step that failed
    QString setUpText;                                      // and why
    QList<long> eventCodes;
    QStringList eventTexts;
    QStringList encoders;  // factory names, sorted
    ReferenceTime duration = 0;
    bool editingServices = false;  // rendered through a GES timeline, not the plain graph

    bool completed() const { return eventCodes.contains(1); }
};

// The lists and marks that Open Video makes of one file.
void OpenAsClip(const QString& path, ClipList& clipList, MusicList& musicList);

// Runs the job to its first event (completion or error) or the bound, then releases the
// holders.
ConversionOutcome RunConversion(const ConversionJob& job, int timeoutMs = 60000);

CompressorHandle Compressor(const char* factoryName, media::EncoderKind kind);

// ffprobe's account of a file's streams in one line, e.g.
// "mpeg4 DIVX yuv420p 160x120 25/1 50 frames | mp3 44100 Hz 2 ch" ("-" for a missing stream).
QString StreamSummary(const QString& path);

}  // namespace testing_support
