#pragma once

// A direct stream copy of one span, on a thread of its own: the source is read as packets from
// the key frame before the start mark; the pictures from the mark to the first key frame at or
// after it are encoded again (as are, at the end, pictures whose references lie past the end
// mark); the rest are copied as they are, with the sound in step; the finished file's own
// index is read back and held against what was due before the copy says it is done. Not for
// use outside media/.

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include <gst/gst.h>

#include "media/core/reference_time.h"
#include "media/render/render_plan.h"
#include "media/render/session_job.h"

namespace media {

struct StreamCopyRequest {
    std::string sourcePath;
    std::string outputPath;  // the file written (a hidden one, moved into place by the caller)
    // The span in the user's time, from the source's first picture. The end may lie past the
    // source's end: the copy then ends with the last picture.
    ReferenceTime start = 0;
    ReferenceTime stop = 0;
    bool withSound = true;  // the source's first sound stream is copied too
    // Or it is encoded as this route says (its encoder, or PCM); elementAdded is connected to
    // that pipeline's "deep-element-added".
    std::optional<StreamRoute> encodedSound;
    GCallback elementAdded = nullptr;
    gpointer elementAddedData = nullptr;
};

struct StreamCopyOutcome {
    bool written = false;
    std::string problem;  // why the copy failed, for the user
    bool stopped = false;  // ended early on request, with what was written
    WrittenVideo video;
    ReferenceTime length = 0;  // of the pictures written
    // What was copied and what encoded again: "H.264 video and MP3 sound copied, the 12
    // pictures before the first key frame encoded again".
    std::string summary;
};

class StreamCopyJob : public SessionJob {
public:
    // finished is called once, on the job's thread, after the file is closed.
    StreamCopyJob(StreamCopyRequest request, std::function<void(const StreamCopyOutcome&)> finished);
    // Cancels a copy still running and waits for its thread.
    ~StreamCopyJob() override;
    StreamCopyJob(const StreamCopyJob&) = delete;
    StreamCopyJob& operator=(const StreamCopyJob&) = delete;

    void Start();
    // Ends early: the pictures written so far are finished into a file, with their sound.
    void Stop() override { stopRequested_ = true; }
    // Ends without finishing the file.
    void Cancel() override { cancelled_ = true; }
    // How far the output has come, in its own time; nullopt until the first picture is written.
    std::optional<ReferenceTime> Position() const override;
    std::int64_t PacketsRead() const override { return packetsRead_; }

private:
    StreamCopyOutcome run();

    StreamCopyRequest request_;
    std::function<void(const StreamCopyOutcome&)> finished_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> cancelled_{false};
    std::atomic<ReferenceTime> position_{-1};
    std::atomic<std::int64_t> packetsRead_{0};
    std::thread thread_;
    friend class CopyRun;
};

}  // namespace media
