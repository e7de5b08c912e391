#pragma once

// The event codes a graph (playback or conversion) queues for its owner. Both kinds of graph
// share them, so a file that drives both sees one set.

namespace media {

// Every stream reached its end; for a conversion, the file is finished.
inline constexpr long EC_COMPLETE = 1;
// The graph stopped on an error.
inline constexpr long EC_ERRORABORT = 3;

}  // namespace media
