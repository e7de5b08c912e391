#pragma once

// Pictures of a clip decoded ahead, in the background, for stepping back. A step back in a
// long group of pictures otherwise decodes from the key frame before the wanted picture, which
// takes most of a second or more. The cache decodes the same file on a second pipeline of its
// own, from the key frame before the picture on show up to it, and keeps what the next steps
// back will ask for: the pictures just before it and one picture each second back to the key
// frame. It holds at most a budget of memory (64 MB by default), in the decoder's own format,
// and hands pictures out as RGBx frames like the playback graph's.
//
// Threads: every member function is called on the owner's thread. The decoding runs on a
// worker thread of the cache's own; nothing of it reaches the owner except through Find.

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "media/core/reference_time.h"
#include "media/playback/playback_session.h"

namespace media {

inline constexpr std::size_t kFrameCacheBudgetBytes = 64u << 20;

class FrameCache {
public:
    explicit FrameCache(std::size_t budgetBytes = kFrameCacheBudgetBytes);
    // Stops the decoding and waits for the worker.
    ~FrameCache();
    FrameCache(const FrameCache&) = delete;
    FrameCache& operator=(const FrameCache&) = delete;

    // The file whose pictures are cached (UTF-8 path), with its picture size for a first
    // guess at what a picture costs. Opened on the worker when the first anchor comes.
    void Open(const std::string& path, int width, int height);

    // The picture on show stands from start to end (in the file's stream time): the cache
    // makes ready the pictures before it, when too few of them are there already. Returns at
    // once.
    void Anticipate(ReferenceTime start, ReferenceTime end);

    // The cached picture whose span holds t, as RGBx. When the worker is decoding toward t, it
    // waits for that picture up to the bound. A null frame when there is none.
    VideoFrame Find(ReferenceTime t, std::chrono::milliseconds wait = std::chrono::milliseconds(0));

    // How many pictures and bytes it holds now, for checks.
    std::size_t PictureCount() const;
    std::size_t ByteCount() const;

    struct State;

private:
    std::shared_ptr<State> state_;
};

}  // namespace media
