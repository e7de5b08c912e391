// The parts of a direct stream copy that work on bytes and times alone: the order pictures show
// in as their own bits say it, the rate read from their times, the AVI file the copy writes
// (past the end of an OpenDML part) and the check of it before the copy says done, and the
// sound put in step with the pictures.

#include <QDir>
#include <QFile>
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <map>

#include "media/copy/avi_index.h"
#include "media/copy/avi_writer.h"
#include "media/copy/copied_sound_track.h"
#include "media/copy/copy_tally.h"
#include "media/copy/picture_timeline.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

// The chunks of the first stream of an AVI file ffmpeg wrote, in file order: one picture each.
QList<QByteArray> pictureChunks(const QString& path) {
    QFile file(path);
    QList<QByteArray> chunks;
    if (!file.open(QIODevice::ReadOnly)) return chunks;
    const QByteArray data = file.readAll();
    qsizetype at = data.indexOf("movi");
    if (at < 0) return chunks;
    for (at += 4; at + 8 <= data.size();) {
        const QByteArray id = data.mid(at, 4);
        quint32 size = 0;
        std::memcpy(&size, data.constData() + at + 4, 4);
        if (id == "LIST") {
            at += 12;
            continue;
        }
        if (id == "idx1") break;
        if (id == "00dc" && size > 0) chunks << data.mid(at + 8, size);
        at += 8 + size + (size & 1);
    }
    return chunks;
}

// The presentation times of the first video stream's packets in decoding order.
QList<double> packetTimes(const QString& path) {
    const ProcessResult result =
        RunProcess(u"ffprobe"_s, {u"-v"_s, u"error"_s, u"-select_streams"_s, u"v:0"_s,
                                  u"-show_entries"_s, u"packet=pts_time"_s, u"-of"_s, u"csv=p=0"_s,
                                  path});
    QList<double> times;
    for (const QByteArray& line : result.standardOutput.split('\n'))
        if (!line.trimmed().isEmpty()) times << line.trimmed().toDouble();
    return times;
}

// Each packet's place in display order, from times.
QList<int> ranksOf(const QList<double>& times) {
    QList<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    QList<int> ranks;
    for (double time : times) ranks << static_cast<int>(sorted.indexOf(time));
    return ranks;
}

}  // namespace

class CopyPartsTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;

private slots:
    // Pictures read in decoding order come out in the order they show, as the stream's own
    // bits say it: H.264 by its order counts (B-pictures referring to B-pictures), MPEG-2 and
    // MPEG-4 Part 2 by their picture types. The times an MP4 file gives to the same packets
    // are the truth held against it.
    void picturesShowInTheOrderTheirBitsSay() {
        const struct {
            const char* name;
            media::PictureCodec codec;
            QStringList encoder;
        } cases[] = {
            {"H.264 with a B-pyramid", media::PictureCodec::H264,
             {u"-c:v"_s, u"libx264"_s, u"-x264-params"_s,
              u"bframes=3:b-adapt=0:b-pyramid=normal"_s}},
            {"MPEG-2 with two B-pictures", media::PictureCodec::Mpeg12,
             {u"-c:v"_s, u"mpeg2video"_s, u"-bf"_s, u"2"_s}},
            {"MPEG-4 Part 2 with two B-pictures", media::PictureCodec::Mpeg4Part2,
             {u"-c:v"_s, u"mpeg4"_s, u"-bf"_s, u"2"_s}},
        };
        for (const auto& c : cases) {
            ClipSpec spec;
            spec.seconds = 2.0;
            spec.audio = false;
            spec.extension = u"mp4"_s;
            spec.videoCodec = c.encoder.value(1);
            spec.extraArguments = c.encoder.mid(2) << u"-g"_s << u"25"_s;
            const QString mp4 = MakeClip(spec);
            QVERIFY2(!mp4.isEmpty(), c.name);
            const QString avi = environment.scratchPath(u"order.avi"_s);
            QStringList remux = {u"-v"_s, u"error"_s, u"-y"_s, u"-i"_s, mp4, u"-c"_s, u"copy"_s};
            if (c.codec == media::PictureCodec::H264)
                remux << u"-bsf:v"_s << u"h264_mp4toannexb"_s;
            QCOMPARE(RunProcess(u"ffmpeg"_s, remux << avi).exitCode, 0);
            const QList<QByteArray> chunks = pictureChunks(avi);
            const QList<int> expected = ranksOf(packetTimes(mp4));
            QCOMPARE(chunks.size(), expected.size());

            media::PictureSyntax syntax(c.codec);
            media::DisplayOrder order(c.codec);
            std::map<std::size_t, int> shown;
            std::size_t id = 0;
            auto take = [&shown](const std::vector<std::size_t>& ids) {
                for (std::size_t each : ids) shown.emplace(each, static_cast<int>(shown.size()));
            };
            for (const QByteArray& chunk : chunks) {
                const auto* data = reinterpret_cast<const std::uint8_t*>(chunk.constData());
                for (const media::PictureFacts& facts : syntax.Read(data, chunk.size()))
                    take(order.Add(id++, facts));
            }
            take(order.Flush());
            QList<int> ranks;
            for (const auto& [each, rank] : shown) ranks << rank;
            QVERIFY2(ranks == expected, c.name);
        }
    }

    // A DivX or Xvid unit of two pictures (a "packed bitstream") is read as its two pictures,
    // and its mark says it is packed no more once they are written apart.
    void aPackedUnitIsTwoPictures() {
        const auto bits = [](std::initializer_list<int> bytes) {
            return std::vector<std::uint8_t>(bytes.begin(), bytes.end());
        };
        // A volume header with 25 ticks a second (5 bits of time), then "DivX503b1393p", a
        // P-picture and a B-picture, each coded.
        std::vector<std::uint8_t> unit = bits({0, 0, 1, 0x20, 0x08, 0x88, 0x00, 0x00, 0x0c, 0x82,
                                               0x00, 0x20});
        const std::string mark = "DivX503b1393p";
        for (int byte : bits({0, 0, 1, 0xb2})) unit.push_back(static_cast<std::uint8_t>(byte));
        unit.insert(unit.end(), mark.begin(), mark.end());
        const std::size_t second = unit.size() + 8;
        for (int byte : bits({0, 0, 1, 0xb6, 0x50, 0x30, 0xff, 0xff, 0, 0, 1, 0xb6, 0x90, 0x30, 0xff}))
            unit.push_back(static_cast<std::uint8_t>(byte));
        media::PictureSyntax syntax(media::PictureCodec::Mpeg4Part2);
        const std::vector<media::PictureFacts> pictures = syntax.Read(unit.data(), unit.size());
        QCOMPARE(pictures.size(), std::size_t{2});
        QVERIFY(syntax.Packed());
        QCOMPARE(pictures[0].type, 'P');
        QCOMPARE(pictures[1].type, 'B');
        QCOMPARE(pictures[0].offset, std::size_t{0});
        QCOMPARE(pictures[1].offset, second);
        QCOMPARE(pictures[0].size + pictures[1].size, unit.size());
        QVERIFY(pictures[0].carriesSetUp && pictures[0].coded);
        const std::vector<std::uint8_t> unpacked = media::UnpackedDivxMark(unit.data(), second);
        const std::string text(unpacked.begin(), unpacked.end());
        QVERIFY(text.find("DivX503b1393n") != std::string::npos);
    }

    // When each picture shows: the container's time where it gives one and where it grows,
    // counted on from the last one given, and counted back from the first one given for the
    // pictures shown before it; an AVI file's slots where its pictures are not reordered
    // (a slot left empty repeats the picture before), the earliest slot for the first of
    // reordered ones, and an MPEG-4 picture's own time within its second.
    void eachPictureShowsWhenItsStreamSaysIt() {
        constexpr ReferenceTime k40ms = 400'000;
        const auto facts = [](char type, std::int64_t ticks = 0, int perSecond = 0) {
            media::PictureFacts picture;
            picture.type = type;
            picture.key = type == 'I';
            picture.reference = type != 'B';
            picture.ticks = ticks;
            picture.ticksPerSecond = perSecond;
            return picture;
        };
        struct Given {
            media::PictureFacts facts;
            ReferenceTime pts = kNoTime;
            ReferenceTime dts = kNoTime;
        };
        const struct {
            const char* name;
            media::PictureCodec codec;
            bool slotTimes;
            std::vector<Given> pictures;  // in decoding order
            std::vector<ReferenceTime> shown;  // display times in display order
        } cases[] = {
            {"times for some pictures only, the first without",
             media::PictureCodec::Mpeg12, false,
             {{facts('I')}, {facts('P'), 3 * k40ms}, {facts('B')}, {facts('B'), 2 * k40ms},
              {facts('P')}},
             {0, k40ms, 2 * k40ms, 3 * k40ms, 4 * k40ms}},
            {"a time that does not grow is not taken", media::PictureCodec::Mpeg12, false,
             {{facts('I'), 10 * k40ms}, {facts('P'), 11 * k40ms}, {facts('P'), 11 * k40ms},
              {facts('P'), 13 * k40ms}},
             {10 * k40ms, 11 * k40ms, 12 * k40ms, 13 * k40ms}},
            {"AVI slots with one left empty", media::PictureCodec::IntraOnly, true,
             {{facts('I'), kNoTime, 0}, {facts('I'), kNoTime, 2 * k40ms},
              {facts('I'), kNoTime, 3 * k40ms}},
             {0, 2 * k40ms, 3 * k40ms}},
            {"AVI reordered from slot 50, open group", media::PictureCodec::Mpeg12, true,
             {{facts('I'), kNoTime, 50 * k40ms}, {facts('B'), kNoTime, 51 * k40ms},
              {facts('B'), kNoTime, 52 * k40ms}, {facts('P'), kNoTime, 53 * k40ms}},
             {50 * k40ms, 51 * k40ms, 52 * k40ms, 53 * k40ms}},
            {"MPEG-4 in AVI, packed: the picture's own time, slots later",
             media::PictureCodec::Mpeg4Part2, true,
             {{facts('I', 23, 25), kNoTime, 23 * k40ms}, {facts('P', 1, 25), kNoTime, 25 * k40ms},
              {facts('B', 24, 25), kNoTime, 25 * k40ms}},
             {23 * k40ms, 24 * k40ms, 26 * k40ms}},
        };
        for (const auto& c : cases) {
            media::PictureTimeline timeline(c.codec, {25, 1}, c.slotTimes);
            std::vector<std::size_t> order;
            for (const Given& given : c.pictures) {
                media::TimelinePicture picture;
                picture.facts = given.facts;
                picture.containerPts = given.pts;
                picture.containerDts = given.dts;
                for (std::size_t id : timeline.Add(picture)) order.push_back(id);
            }
            for (std::size_t id : timeline.Finish()) order.push_back(id);
            std::vector<ReferenceTime> shown;
            for (std::size_t id : order) shown.push_back(timeline.at(id).pts);
            QVERIFY2(shown == c.shown, c.name);
        }
    }

    // The rate the times say: the container's tag where they agree with it (2997/125 stays
    // so), the standard rate they match where it says nothing or something else, times that
    // only some pictures have and times kept to the millisecond.
    void theRateIsWhatTheTimesSay() {
        const auto times = [](double period, int count, int every, double rounding) {
            std::vector<std::pair<std::int64_t, ReferenceTime>> shown;
            for (int i = 0; i < count; i += every) {
                double t = 1.4 + i * period;
                if (rounding > 0) t = std::round(t / rounding) * rounding;
                shown.emplace_back(i, static_cast<ReferenceTime>(t * kReferenceTimePerSecond));
            }
            return shown;
        };
        const struct {
            const char* name;
            std::vector<std::pair<std::int64_t, ReferenceTime>> shown;
            media::FrameRate tag;
            media::FrameRate expected;
        } cases[] = {
            {"the tag agrees", times(125.0 / 2997, 48, 1, 0), {2997, 125}, {2997, 125}},
            {"the tag says 25, the times 29.97", times(1001.0 / 30000, 48, 1, 0), {25, 1},
             {30000, 1001}},
            {"milliseconds, no tag", times(1001.0 / 24000, 48, 1, 0.001), {0, 1}, {24000, 1001}},
            {"a time every fifth picture", times(0.04, 48, 5, 0), {0, 1}, {25, 1}},
            {"too few times", times(0.04, 2, 1, 0), {30, 1}, {30, 1}},
        };
        for (const auto& c : cases) {
            const media::FrameRate rate = media::RateFromTimes(c.shown, c.tag);
            QVERIFY2(rate.numerator == c.expected.numerator &&
                         rate.denominator == c.expected.denominator,
                     qPrintable(u"%1: %2/%3"_s.arg(QLatin1String(c.name))
                                    .arg(rate.numerator)
                                    .arg(rate.denominator)));
        }
    }

    // A file written in OpenDML parts (the first with the legacy index) holds every chunk, at
    // its key flags and its exact rate, as its own index and ffmpeg read it; a file that holds
    // less than was due, or at another rate, or sound of another length, is caught.
    void theFileHoldsWhatWasWrittenAndTheCheckCatchesWhatIsNot() {
        const QString path = environment.scratchPath(u"parts.avi"_s);
        media::AviVideoStream video;
        // A format ffmpeg does not know: it takes the key frames from the index alone.
        video.fourcc = media::FourCc('F', 'W', 'T', 'K');
        video.width = 16;
        video.height = 16;
        video.rate = 2997;
        video.scale = 125;
        media::AviAudioStream audio;
        audio.channels = 1;
        audio.sampleRate = 8000;
        audio.blockAlign = 2;
        audio.averageBytesPerSecond = 16000;
        audio.bitsPerSample = 16;
        audio.scale = 2;
        audio.rate = 16000;
        audio.sampleSize = 2;
        {
            media::AviWriter writer(64 * 1024);  // parts of 64 KiB
            std::string problem;
            QVERIFY(writer.Open(path.toStdString(), video, audio, &problem));
            const std::vector<std::uint8_t> picture(3000, 0x55);
            const std::vector<std::uint8_t> sound(667, 0);  // a picture's worth of samples, odd
            for (int i = 0; i < 120; ++i) {
                QVERIFY(writer.WriteAudio(sound.data(), sound.size() & ~1u));
                // Every tenth a key frame; the 55th repeats the picture before.
                QVERIFY(writer.WriteVideo(picture.data(), i == 55 ? 0 : picture.size(), i % 10 == 0));
            }
            QVERIFY2(writer.Finish(&problem), problem.c_str());
        }
        const media::AviIndexFacts facts = media::ReadAviIndex(path.toStdString());
        QVERIFY2(facts.problem.empty(), facts.problem.c_str());
        QCOMPARE(facts.videoChunks, 120);
        QCOMPARE(facts.videoHeaderLength, 120);
        QVERIFY(facts.firstPictureIsKey);
        QCOMPARE(facts.audioUnits, 120 * 333);
        const ProcessResult probed = RunProcess(
            u"ffprobe"_s, {u"-v"_s, u"error"_s, u"-select_streams"_s, u"v:0"_s, u"-show_entries"_s,
                          u"packet=flags"_s, u"-of"_s, u"csv=p=0"_s, path});
        const QList<QByteArray> flags = probed.standardOutput.trimmed().split('\n');
        QCOMPARE(flags.size(), 119);  // ffmpeg passes over the empty one
        QCOMPARE(std::count_if(flags.begin(), flags.end(),
                               [](const QByteArray& flag) { return flag.startsWith('K'); }),
                 12);

        media::CopyTally tally;
        tally.rate = {2997, 125};
        tally.written = 120;
        tally.due = 120;
        tally.firstShown = 0;
        tally.lastDue = media::FrameStart(119, tally.rate);
        QCOMPARE(media::CheckCopiedFile(path.toStdString(), tally), std::string());
        media::CopyTally heldToSound = tally;  // PCM 10 ms shorter than the pictures
        heldToSound.soundFrame = 0;
        QVERIFY(media::CheckCopiedFile(path.toStdString(), heldToSound).find("sound") !=
                std::string::npos);
        media::CopyTally fewer = tally;
        fewer.due = 122;
        QCOMPARE(media::CheckCopiedFile(path.toStdString(), fewer),
                 std::string("The copy came out wrong: its index holds 120 pictures where 122 "
                             "were due."));
        media::CopyTally otherRate = tally;
        otherRate.rate = {24000, 1001};
        QVERIFY(media::CheckCopiedFile(path.toStdString(), otherRate).find("rate") !=
                std::string::npos);
        media::CopyTally later = tally;
        later.lastDue += media::FrameStart(2, tally.rate);
        QVERIFY(media::CheckCopiedFile(path.toStdString(), later).find("last picture") !=
                std::string::npos);
        QFile::resize(path, QFileInfo(path).size() / 2);  // a file cut short loses its index
        QVERIFY(!media::CheckCopiedFile(path.toStdString(), tally).empty());
    }

    // The sound starts with the frame nearest to the first picture (silence first where the
    // source's starts later), fills a gap in the source with silence, and ends within half a
    // frame of the pictures; PCM to the sample. The same, whether the sound was read well
    // ahead of the pictures or only after the last of them.
    void theSoundIsInStepWithThePictures() {
        const QString path = environment.scratchPath(u"sound.avi"_s);
        media::AviVideoStream video;
        video.fourcc = media::FourCc('M', 'J', 'P', 'G');
        video.width = video.height = 16;
        constexpr ReferenceTime kFrame = 240'000;  // 24 ms: 1152 samples at 48 kHz
        const struct {
            const char* name;
            ReferenceTime firstSource;  // where the source's first frame starts
            ReferenceTime gapAfter;     // a frame missing after this many frames; 0 none
            int pictures;               // at 25 a second
            std::int64_t units;         // frames, or samples for PCM
        } cases[] = {
            {"MP3 starting 100 ms late", 1'000'000, 0, 25, 42},
            {"MP3 starting 10 ms early with a frame missing", -100'000, 10, 25, 42},
            // Its 84th frame starts 8 ms before the pictures' end: more than half of it after.
            {"MP3 over 2 s", 0, 0, 50, 83},
            {"PCM starting 5 ms early", -50'000, 0, 25, 48000},
        };
        for (const auto& c : cases) {
            for (const bool readAhead : {true, false}) {
                const QString what = QLatin1String(c.name) +
                                     (readAhead ? u", read ahead"_s : u", read late"_s);
                media::CopiedSound sound;
                const bool pcm = QByteArray(c.name).startsWith("PCM");
                sound.name = pcm ? "PCM" : "MP3";
                sound.sampleRate = 48000;
                sound.channels = 1;
                sound.samplesPerFrame = pcm ? 0 : 1152;
                sound.bytesPerSample = pcm ? 2 : 0;
                sound.silence.assign(pcm ? 2 : 144, 0);
                sound.avi.scale = pcm ? 2 : 1152;
                sound.avi.rate = pcm ? 96000 : 48000;
                sound.avi.sampleSize = pcm ? 2 : 0;
                media::AviWriter writer;
                std::string problem;
                QVERIFY(writer.Open(path.toStdString(), video, sound.avi, &problem));
                media::CopiedSoundTrack track(sound, writer);
                track.Begin(0);
                const std::vector<std::uint8_t> frame(pcm ? 960 : 144, 1);  // 10 ms of PCM
                const ReferenceTime step = pcm ? 100'000 : kFrame;
                const auto addSound = [&] {
                    for (int i = 0; i < 120; ++i)
                        if (!(c.gapAfter && i == c.gapAfter))
                            track.Add(c.firstSource + i * step, frame);
                };
                if (readAhead) addSound();
                for (int picture = 0; picture < c.pictures; ++picture) {
                    QVERIFY(track.WriteBefore(media::FrameStart(picture, {25, 1})));
                    QVERIFY(writer.WriteVideo(frame.data(), frame.size(), true));
                }
                if (!readAhead) addSound();
                QVERIFY(track.Finish(media::FrameStart(c.pictures, {25, 1})));
                QVERIFY(writer.Finish(&problem));
                const media::AviIndexFacts facts = media::ReadAviIndex(path.toStdString());
                QVERIFY2(facts.audioUnits == c.units,
                         qPrintable(u"%1: %2"_s.arg(what).arg(facts.audioUnits)));
                if (!pcm && c.firstSource != 0)
                    QCOMPARE(track.silentFrames(), c.firstSource > 0 ? 4 : 1);
            }
        }
    }
};

FRAMEWELL_TEST_MAIN(CopyPartsTest)
#include "test_copy_parts.moc"
