#pragma once

// What a render session shares between the thread that made it, its worker and GStreamer's
// streaming threads. Not for use outside media/.

#include <gst/gst.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "media/core/gst_handles.h"
#include "media/encoders/encoder_properties.h"
#include "media/render/output_file.h"
#include "media/render/render_plan.h"
#include "media/render/session_job.h"
#include "media/render/span_guard.h"
#include "media/source/source_ends.h"
#include "media/source/stream_holes.h"

namespace media {

struct RenderSessionState {
    mutable std::mutex mutex;
    std::deque<RenderEvent> events;
    std::function<void()> notifier;
    bool ended = false;
    bool draining = false;
    // While the pipeline is being set up its errors only explain the failing step.
    bool settingUp = true;
    std::string firstSetupError;
    std::vector<std::string> encoderFactories;
    GstPtr<GstElement> encodebin;          // for the stop
    std::shared_ptr<SpanGuard> spanGuard;  // keeps the sound within the pictures
    // Where the sources' streams ended; filled before the pipeline exists, then only read.
    std::shared_ptr<SourceEnds> sourceEnds = std::make_shared<SourceEnds>();
    // Holes in the sources' streams, filled as they come; set up like sourceEnds.
    std::shared_ptr<StreamHoles> streamHoles = std::make_shared<StreamHoles>();
    std::string videoFactory;
    std::string audioFactory;
    EncoderProperties videoProperties;
    EncoderProperties audioProperties;

    // The end of the file: once the streams have ended, the worker finishes the file and moves
    // it into place before the completion event is queued. postToWorker is empty once the
    // session is going away.
    std::function<void(std::function<void()>)> postToWorker;
    bool finishing = false;
    std::optional<WrittenVideo> writtenVideo;
    std::optional<ReferenceTime> finalPosition;
    // The hidden file being written and the name the user gave, so that messages name the
    // latter.
    std::string temporaryName;
    std::string targetName;

    // The pipeline is the worker's. Queries from other threads hold this second lock, which
    // no streaming thread ever takes, so a query cannot wait on a thread that waits on us.
    std::mutex pipelineMutex;
    GstPtr<GstElement> pipeline;
    // A direct stream copy runs on a thread of its own instead of a pipeline.
    std::shared_ptr<SessionJob> copyJob;

    // The worker's alone: reserved in set-up, committed when the file is finished, abandoned
    // when the pipeline is released without that.
    UnfinishedOutput output;

    // A text that speaks of the hidden file speaks of the target instead.
    std::string withTargetName(std::string text) const {
        std::lock_guard lock(mutex);
        if (temporaryName.empty()) return text;
        for (std::size_t at = text.find(temporaryName); at != std::string::npos;
             at = text.find(temporaryName, at + targetName.size()))
            text.replace(at, temporaryName.size(), targetName);
        return text;
    }

    // Runs on any thread. The notifier is called under the lock, so that once it has been
    // cleared nothing can reach what it posted to.
    void queueEvent(RenderEvent event) {
        std::lock_guard lock(mutex);
        if (settingUp) {
            if (event.code == EC_ERRORABORT && firstSetupError.empty())
                firstSetupError = event.text;
            return;
        }
        ended = true;
        events.push_back(std::move(event));
        if (notifier) notifier();
    }
};

// A set-up step that failed, with its code and reason.
inline RenderSetupResult SetupFailure(RenderStep step, HRESULT status, std::string text) {
    RenderSetupResult result;
    result.status = status;
    result.failedStep = step;
    result.errorText = std::move(text);
    return result;
}

}  // namespace media
