#pragma once

// The AVI file's streams as GStreamer makes them: the format each group's stream takes (raw BGR
// or PCM, or what the chosen encoder makes that the multiplexer takes, avi_inputs) and its
// encoding profile. The conversion and the stream copy take the AVI formats from here. Not for use
// outside media/.

#include <gst/gst.h>
#include <gst/pbutils/pbutils.h>

#include <memory>
#include <string>

#include "media/core/gst_handles.h"
#include "media/encoders/avi_inputs.h"
#include "media/render/render_plan.h"

namespace media {

// The multiplexer inside an encoding bin, with a reference of the caller's; null before the
// bin has made it.
GstPtr<GstElement> MultiplexerIn(GstElement* encodebin);

struct AviStreamFormat {
    CapsPtr caps;
    std::string presetName;  // the encoder factory encodebin must use; empty for raw
    std::string errorText;
};

// The format one group's stream takes in the file: raw BGR or PCM without compression,
// otherwise what the chosen encoder makes that the multiplexer accepts.
AviStreamFormat AviStreamFormatOf(bool videoGroup, const StreamRoute& route);

// How many channels of sound the file gets from a source with sourceChannels. The AVI
// multiplexer cannot write raw sound of more than two channels, and most audio encoders take
// one or two: more is mixed down to stereo. An encoder that takes the source's channels (AC-3
// takes 5.1) keeps them.
int OutputChannelsFor(const StreamRoute& route, int sourceChannels);

struct EncodingProfileUnref {
    void operator()(GstEncodingContainerProfile* profile) const;
};
using ContainerProfilePtr = std::unique_ptr<GstEncodingContainerProfile, EncodingProfileUnref>;

// The AVI container's encoding profile, without streams yet.
ContainerProfilePtr NewAviContainerProfile();

// The encoding profile of a group's stream, added to the container: the encoder's format, or
// raw video or PCM, with the video held to the output's size and rate. Fails with the step
// whose stream the multiplexer or the encoder would refuse.
RenderSetupResult AddAviStreamProfile(GstEncodingContainerProfile* container,
                                      const TimelineGroup& group, const StreamRoute& route,
                                      bool first);

}  // namespace media
