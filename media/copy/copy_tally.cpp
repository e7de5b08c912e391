#include "media/copy/copy_tally.h"

#include <cmath>
#include <cstdlib>

#include "media/copy/avi_index.h"

namespace media {
namespace {

// "the 12 pictures" or "the picture"; "the last 2 pictures" or "the last picture".
std::string pictures(std::size_t count, const char* which = "") {
    return count == 1 ? std::string("the ") + which + "picture"
                      : std::string("the ") + which + std::to_string(count) + " pictures";
}

}  // namespace

std::string CheckCopiedFile(const std::string& path, const CopyTally& tally) {
    const AviIndexFacts facts = ReadAviIndex(path);
    if (!facts.problem.empty()) return path + " cannot be read back: " + facts.problem + ".";
    // A copy that stopped early or could not cut where asked is held to what it wrote.
    const bool asWritten = tally.stopped || tally.startsEarly || tally.droppedTail;
    const std::int64_t expected = asWritten ? tally.written : tally.due + tally.repeats;
    const ReferenceTime frame = FrameStart(1, tally.rate);
    // Containers that keep milliseconds place a picture up to half of one off its time.
    const ReferenceTime rounding = 2 * kTimestampRounding;
    std::string wrong;
    if (facts.videoChunks != expected || facts.videoHeaderLength != facts.videoChunks ||
        tally.written != facts.videoChunks)
        wrong = "its index holds " + std::to_string(facts.videoChunks) + " pictures where " +
                std::to_string(expected) + " were due";
    else if (!facts.firstPictureIsKey && facts.videoChunks > 0)
        wrong = "its first picture is not a key frame";
    else if (facts.videoRate != static_cast<std::uint32_t>(tally.rate.numerator) ||
             facts.videoScale != static_cast<std::uint32_t>(tally.rate.denominator))
        wrong = "its picture rate is not the source's";
    else if (!asWritten && facts.videoChunks > 0 &&
             std::llabs(FrameStart(facts.videoChunks - 1, tally.rate) -
                        (tally.lastDue - tally.firstShown)) > frame / 2 + rounding)
        wrong = "its last picture is not at the time of the source's last one";
    else if (facts.hasAudio && tally.soundFrame >= 0 &&
             std::abs(facts.audioSeconds() - facts.videoSeconds()) > tally.soundFrame + 0.001)
        wrong = "its sound does not last as long as its pictures";
    return wrong.empty() ? std::string() : "The copy came out wrong: " + wrong + ".";
}

std::string CopySummary(const CopyTally& tally, const std::string& format,
                        const std::string& sound) {
    const std::string soundWords = sound.empty() ? std::string() : sound + " sound";
    std::string text;
    if (tally.wholeSpanEncoded) {
        text = format + " video encoded again (the span holds no key frame)" +
               (sound.empty() ? std::string() : ", " + soundWords + " copied");
    } else {
        text = format + " video" + (sound.empty() ? std::string() : " and " + soundWords) +
               " copied";
        if (tally.head && tally.tail)
            text += ", " + pictures(tally.head) + " before the first key frame and " +
                    pictures(tally.tail, "last ") + " encoded again";
        else if (tally.head)
            text += ", " + pictures(tally.head) + " before the first key frame encoded again";
        else if (tally.tail)
            text += ", " + pictures(tally.tail, "last ") + " encoded again";
    }
    if (tally.startsEarly) text += ", from the key frame before the start";
    if (tally.droppedTail) text += ", up to the last picture that could be cut before the end";
    return text;
}

}  // namespace media
