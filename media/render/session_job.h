#pragma once

// Work that a render session runs on a thread of its own instead of a pipeline (a direct stream
// copy's job). The session stops it, asks how far it has come, and cancels it when it lets go
// of what it runs; dropping the last reference waits for its thread. Not for use outside
// media/.

#include <cstdint>
#include <optional>

#include "media/core/reference_time.h"

namespace media {

class SessionJob {
public:
    // Cancels work still running and waits for its thread.
    virtual ~SessionJob() = default;

    // Ends early: what was written so far is finished into a file.
    virtual void Stop() = 0;
    // Ends without finishing the file.
    virtual void Cancel() = 0;
    // How far the output has come, in its own time; nullopt before anything is written.
    virtual std::optional<ReferenceTime> Position() const = 0;
    // Packets read so far, which go on before the output does (a copy may read many before
    // its first picture is written): the session's watch for a stall counts them too.
    virtual std::int64_t PacketsRead() const = 0;
};

}  // namespace media
