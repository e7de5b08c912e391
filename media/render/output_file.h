#pragma once

// Where a conversion writes. An existing file must survive every failure (a full disk, an
// error, a hang that is killed), so the render never writes into the file it replaces: it
// writes a hidden file of its own in the same folder (the same file system, so the final
// rename is atomic) and moves it over the target only once the file is finished. A failure
// deletes the hidden file and leaves the target as it was.

#include <string>

namespace media {

// Why a conversion may not write to path, in one sentence for the user; empty when path is a
// regular file (links followed) or does not exist yet. A folder, a device or a named pipe is
// refused: replacing one with a regular file would destroy it.
std::string OutputTargetProblem(const std::string& path);

// The file being written for one target, from Reserve until Commit or Abandon. Not thread
// safe: one owner at a time.
class UnfinishedOutput {
public:
    UnfinishedOutput() = default;
    // Abandons a file that was never committed.
    ~UnfinishedOutput();
    UnfinishedOutput(const UnfinishedOutput&) = delete;
    UnfinishedOutput& operator=(const UnfinishedOutput&) = delete;

    // Creates the hidden file (".<name>.XXXXXX.part", a name nobody else has) beside target,
    // empty. False with *problem set (naming the file or folder) when it cannot be created.
    bool Reserve(const std::string& target, std::string* problem);
    // Moves the finished file over the target (flushed to the disk first when it replaces
    // one). False with *problem set when it cannot; the hidden file is then deleted.
    bool Commit(std::string* problem);
    // Deletes the hidden file, if it is still there.
    void Abandon();

    bool reserved() const { return !temporaryPath_.empty(); }
    const std::string& temporaryPath() const { return temporaryPath_; }
    const std::string& target() const { return target_; }

private:
    std::string target_;         // as the caller named it, for messages
    std::string resolved_;       // the file that is replaced: links followed
    std::string temporaryPath_;  // empty when nothing is reserved
    int slot_ = -1;              // in the list that AbandonUnfinishedOutputsNow reads
};

// Deletes every reserved, uncommitted hidden file. Async-signal-safe (it only calls unlink),
// for a program that is about to be ended by a signal.
void AbandonUnfinishedOutputsNow();

}  // namespace media
