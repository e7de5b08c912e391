#pragma once

// The sound of a copy whose pictures are copied while its sound is not: the source's first
// sound stream decoded from a time on and encoded as the conversion asks (through its chosen
// encoder with its settings, or as 16-bit PCM without one), in frames with their times, for
// the copy to put in step with its pictures as it does copied sound. Not for use outside
// media/.

#include <gst/gst.h>

#include <cstdint>
#include <string>
#include <vector>

#include "media/core/gst_handles.h"
#include "media/core/reference_time.h"
#include "media/render/render_plan.h"

namespace media {

class EncodedSound {
public:
    EncodedSound() = default;
    ~EncodedSound();
    EncodedSound(const EncodedSound&) = delete;
    EncodedSound& operator=(const EncodedSound&) = delete;

    // Starts decoding at the stream time given (the sound's own, as the copy reads it).
    // elementAdded is connected to the pipeline's "deep-element-added" (the encoder's
    // settings are applied there). False with *problem set.
    bool Start(const std::string& path, const StreamRoute& route, ReferenceTime from,
               GCallback elementAdded, gpointer elementAddedData, std::string* problem);

    // The next frame (or run of PCM samples), its start in stream time; waits for it when
    // wait is set. False when none is ready, at the end, or after a failure (problem set).
    bool Next(bool wait, ReferenceTime* start, std::vector<std::uint8_t>* data);
    // The format of the frames, once the first has come.
    const GstCaps* caps() const { return caps_.get(); }
    bool ended() const { return ended_; }
    const std::string& problem() const { return problem_; }

    struct Shared;

private:
    PipelinePtr pipeline_;
    std::shared_ptr<Shared> shared_;
    CapsPtr caps_;
    bool ended_ = false;
    std::string problem_;
};

}  // namespace media
