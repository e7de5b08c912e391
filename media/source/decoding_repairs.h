#pragma once

// Work-arounds for readers inside GStreamer that mislead the rest of a pipeline, applied to
// each element as it joins a pipeline (playback, measurement or conversion alike):
//  - mpegpsdemux seeks by the system clock references of the packs, which run ahead of the
//    pictures' own times in most program streams (by the multiplexer's preload, half a second
//    in ffmpeg's files), and the decoder then waits for the next key picture: an accurate seek
//    lands most of a second late. Its seeks are made earlier by a margin, and the segments it
//    sends back carry the place asked for, so that the decoders drop what lies before it.
//    mpegvideoparse also stamps some pictures a frame late (those that straddle two packets,
//    and the ones after them); after the decoder each picture takes the earlier of its stamp
//    and the previous picture's end, before the pictures ahead of the place asked are dropped.
//  - avdec_gif stamps every picture of an animated GIF with the segment's start, and the GIF
//    reader cannot seek but to its start: the pictures get the times their durations add up
//    to, and a seek goes to the start, the pictures before the place asked being dropped.
//  - asfdemux holds back what it reads after an accurate seek until a packet of each stream
//    lies at or after the place asked, so a place inside a stream's last packet (the last
//    picture) gives nothing of it. Its accurate seeks within a second of the pictures' end go a
//    second earlier, the segments put back as for program streams.
// Not for use outside media/.

#include <gst/gst.h>

namespace media {

// Applies what the element needs, if anything. Call from deep-element-added (or element-added)
// of the pipeline, before the element runs.
void RepairDecodingElement(GstElement* element);

// Whether the demultiplexer's seeks are moved earlier and its segments put back (program
// streams, GIFs): a graph that reads such a file must seek it the way the editing services do.
bool MendsSeeksOf(GstElementFactory* demuxer);

// Connects RepairDecodingElement to every element that is added anywhere inside bin from now.
void RepairDecodingInside(GstElement* bin);

}  // namespace media
