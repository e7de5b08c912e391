// The timeline a Convert builds from the clip lists, the marks and the output settings, and
// what the builder says and does when a step fails.

#include <QtTest>

#include "clips/clip_list.h"
#include "clips/transition_catalogue.h"
#include "engine/conversion_engine.h"
#include "engine/timeline_builder.h"
#include "media/media_framework.h"
#include "platform/settings_store.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

struct Material {
    ClipList clips;
    MusicList music;
    OutputSettings settings;
    ReferenceTime totalDuration = -1;

    explicit Material(int transition = 0) {
        clips.count = 1;
        clips[0] = {QStringLiteral("/videos/holiday.mpg"), 95 * kSecond, transition, 0};
        music.count = 1;
        music[0] = {QStringLiteral("/videos/holiday.mpg"), 957'000'000};
        settings.outputWidth = 352;
        settings.outputHeight = 288;
        settings.outputFrameRate = 25.0;
    }

    media::TimelineModel build(ReferenceTime start, ReferenceTime end, HRESULT* status = nullptr) {
        TimelineBuilder builder(clips, music, start, end, settings, totalDuration);
        media::TimelineModel timeline;
        const HRESULT hr = builder.BuildTimeline(&timeline);
        if (status) *status = hr;
        return timeline;
    }
};

}  // namespace

class TimelineBuilderTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;

private slots:
    void initTestCase() { QCOMPARE(media::StartMediaFramework(), S_OK); }
    void init() { environment.messages.clear(); }

    void marksBecomeTimelineAndMediaTimes() {
        Material material;
        HRESULT status = E_FAIL;
        media::TimelineModel timeline = material.build(10 * kSecond, 25 * kSecond, &status);
        QCOMPARE(status, S_OK);
        QVERIFY(environment.messages.boxes.isEmpty());
        QCOMPARE(timeline.groups.size(), std::size_t{2});

        const media::TimelineGroup& video = timeline.groups[0];
        QVERIFY(video.isVideo());
        QCOMPARE(video.outputFrameRate, 25.0);
        QCOMPARE(video.tracks.size(), std::size_t{1});
        QCOMPARE(video.tracks[0].sources.size(), std::size_t{1});
        const media::TimelineSource& clip = video.tracks[0].sources[0];
        QCOMPARE(clip.start, ReferenceTime{0});
        QCOMPARE(clip.stop, ReferenceTime{150'000'000});
        QCOMPARE(clip.mediaStart, ReferenceTime{100'000'000});
        QCOMPARE(clip.mediaStop, ReferenceTime{250'000'000});
        QCOMPARE(clip.mediaName, std::string("/videos/holiday.mpg"));
        QCOMPARE(clip.stretchMode, std::optional<std::int32_t>(2));

        const media::TimelineGroup& audio = timeline.groups[1];
        QVERIFY(!audio.isVideo());
        QCOMPARE(audio.outputFrameRate, 0.0);
        const media::TimelineSource& sound = audio.tracks.at(0).sources.at(0);
        QCOMPARE(sound.start, ReferenceTime{0});
        QCOMPARE(sound.stop, ReferenceTime{150'000'000});
        QCOMPARE(sound.mediaStart, ReferenceTime{100'000'000});
        QCOMPARE(sound.mediaStop, ReferenceTime{250'000'000});
        QVERIFY(!sound.stretchMode);
        QCOMPARE(media::TimelineDuration(timeline), ReferenceTime{150'000'000});

        // A render turns preview off so that every frame is made.
        QVERIFY(video.previewMode && audio.previewMode);
        DisablePreviewMode(timeline);
        QVERIFY(!timeline.groups[0].previewMode && !timeline.groups[1].previewMode);

        material.settings.resizeMode = kResizeStretch;
        QCOMPARE(material.build(0, kSecond).groups[0].tracks[0].sources[0].stretchMode,
                 std::optional<std::int32_t>(0));
    }

    void videoGroupMediaTypeFieldByField() {
        Material material;
        const media::GroupMediaType type = material.build(0, kSecond).groups.at(0).mediaType;
        QCOMPARE(type.majortype, media::MajorType::Video);
        QCOMPARE(type.subtype, media::MediaSubtype::Rgb24);
        QVERIFY(type.bFixedSizeSamples);
        QVERIFY(!type.bTemporalCompression);
        QCOMPARE(type.lSampleSize, 304'128u);
        QCOMPARE(type.formattype, media::FormatType::VideoInfo);
        QCOMPARE(type.cbFormat, 88u);
        QVERIFY(type.format);
        const media::VideoInfoHeader& info = *type.format;
        QCOMPARE(info.rcSource.right, 0);
        QCOMPARE(info.rcTarget.bottom, 0);
        QCOMPARE(info.dwBitRate, 0u);
        QCOMPARE(info.dwBitErrorRate, 0u);
        QCOMPARE(info.AvgTimePerFrame, ReferenceTime{0});
        const media::BitmapInfoHeader& picture = info.bmiHeader;
        QCOMPARE(picture.biSize, 40u);
        QCOMPARE(picture.biWidth, 352);
        QCOMPARE(picture.biHeight, 288);
        QCOMPARE(picture.biPlanes, std::uint16_t{1});
        QCOMPARE(picture.biBitCount, std::uint16_t{24});
        QCOMPARE(picture.biCompression, 0u);
        QCOMPARE(picture.biSizeImage, 304'128u);  // 1056 bytes a row
        QCOMPARE(picture.biXPelsPerMeter + picture.biYPelsPerMeter, 0);
        QCOMPARE(picture.biClrUsed + picture.biClrImportant, 0u);

        material.settings.outputWidth = 350;  // 1050 bytes a row, rounded up to 1052
        QCOMPARE(material.build(0, kSecond).groups.at(0).mediaType.format->bmiHeader.biSizeImage,
                 302'976u);
        QCOMPARE(media::Rgb24ImageSize(1, -3), 12u);  // the height counts as its absolute value

        const media::GroupMediaType audio = material.build(0, kSecond).groups.at(1).mediaType;
        QCOMPARE(audio.majortype, media::MajorType::Audio);
        QCOMPARE(audio.subtype, media::MediaSubtype::None);
        QCOMPARE(audio.formattype, media::FormatType::None);
        QCOMPARE(audio.lSampleSize, 1u);
        QVERIFY(audio.bFixedSizeSamples && !audio.bTemporalCompression && !audio.format);
    }

    void transitionsComeFromTheCatalogue() {
        Material none(0);
        QVERIFY(none.build(0, kSecond).groups[0].tracks[0].transitions.empty());

        Material bars(5);
        const auto barsTransitions = bars.build(0, kSecond).groups[0].tracks[0].transitions;
        QCOMPARE(barsTransitions.size(), std::size_t{1});
        QCOMPARE(barsTransitions[0].effectClass,
                 std::string("{2E7700B7-27C4-437F-9FBF-1E8BE2817566}"));
        QCOMPARE(barsTransitions[0].start, ReferenceTime{0});
        QCOMPARE(barsTransitions[0].stop, ReferenceTime{0});
        QVERIFY(!barsTransitions[0].maskNum);

        Material matrix(46);
        const auto matrixTransitions = matrix.build(0, kSecond).groups[0].tracks[0].transitions;
        QCOMPARE(matrixTransitions.at(0).effectClass, std::string(kDxtJpegClass));
        QCOMPARE(matrixTransitions.at(0).maskNum, std::optional<std::int32_t>(301));

        Material stored(99);  // a stored index outside the catalogue: the wipe's default
        const auto storedTransitions = stored.build(0, kSecond).groups[0].tracks[0].transitions;
        QCOMPARE(storedTransitions.at(0).effectClass, std::string(kDxtJpegClass));
        QVERIFY(!storedTransitions.at(0).maskNum);
        QVERIFY(environment.messages.boxes.isEmpty());
    }

    void everyEntryIsLaidAndTheListsAreUpdated() {
        Material material(17);
        material.clips.count = 3;
        material.clips[1] = {QStringLiteral("/videos/b.avi"), 8 * kSecond, 0, 5 * kSecond};
        material.clips[2] = {QStringLiteral("/videos/c.avi"), 2 * kSecond, 3, 2 * kSecond};
        material.clips[0].transitionDuration = 7 * kSecond;
        material.music.count = 2;
        material.music[1] = {QStringLiteral("/music/ignored.mp3"), 0};
        const media::TimelineModel timeline = material.build(0, kSecond);
        QCOMPARE(material.totalDuration, 105 * kSecond);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(material.clips[i].transitionDuration, ReferenceTime{0});

        const media::TimelineGroup& video = timeline.groups.at(0);
        QCOMPARE(video.tracks.size(), std::size_t{3});
        QCOMPARE(video.tracks[1].sources.at(0).mediaName, std::string("/videos/b.avi"));
        QCOMPARE(video.tracks[2].sources.at(0).mediaName, std::string("/videos/c.avi"));
        for (std::size_t i = 0; i < 3; ++i)
            QCOMPARE(video.tracks[i].priority, static_cast<std::int32_t>(i));
        QVERIFY(video.tracks[1].transitions.empty());
        QCOMPARE(video.tracks[2].transitions.size(), std::size_t{1});
        // Only the first music entry gives the audio.
        QCOMPARE(timeline.groups.at(1).tracks.size(), std::size_t{1});
        QCOMPARE(timeline.groups.at(1).tracks[0].sources.at(0).mediaName,
                 std::string("/videos/holiday.mpg"));

        Material empty;
        empty.clips.count = 0;
        empty.music.count = 0;
        HRESULT status = E_FAIL;
        QVERIFY(empty.build(0, kSecond, &status).groups.empty());
        QCOMPARE(status, S_OK);
        QCOMPARE(empty.totalDuration, ReferenceTime{0});
    }

    void aFailingStepSaysSoAndTheBuildGoesOn() {
        // No frame size: the video group fails, the audio group becomes the first group.
        Material sizeless;
        sizeless.settings.outputWidth = 0;
        HRESULT status = E_FAIL;
        media::TimelineModel timeline = sizeless.build(0, kSecond, &status);
        QCOMPARE(status, S_OK);
        QCOMPARE(environment.messages.texts(),
                 QStringList{QStringLiteral("Could not pVideoGroup->SetMediaType(&mtGroup)")});
        QCOMPARE(environment.messages.boxes.first().caption, platform::ProgramBaseName());
        QCOMPARE(environment.messages.boxes.first().icon, platform::BoxIcon::Exclamation);
        QCOMPARE(timeline.groups.size(), std::size_t{1});
        QVERIFY(!timeline.groups[0].isVideo());

        environment.messages.clear();
        Material rateless;
        rateless.settings.outputFrameRate = 0.0;  // an unreadable custom rate
        timeline = rateless.build(0, kSecond);
        QCOMPARE(environment.messages.texts(),
                 QStringList{QStringLiteral("Could not SetOutputFPS")});
        QCOMPARE(timeline.groups.size(), std::size_t{1});

        // End before start: each clip fails and leaves its empty track.
        environment.messages.clear();
        Material reversed;
        timeline = reversed.build(20 * kSecond, 10 * kSecond, &status);
        QCOMPARE(status, S_OK);
        QCOMPARE(environment.messages.texts(),
                 (QStringList{QStringLiteral("Could not configure media source"),
                              QStringLiteral("Could not set audio start and eng time!")}));
        QCOMPARE(timeline.groups.size(), std::size_t{2});
        QVERIFY(timeline.groups[0].tracks.at(0).sources.empty());
        QVERIFY(timeline.groups[1].tracks.at(0).sources.empty());

        environment.messages.clear();
        Material nameless;
        nameless.clips[0].fileName.clear();
        nameless.music[0].fileName.clear();
        nameless.settings.resizeMode = 9;
        nameless.build(0, kSecond);
        QCOMPARE(environment.messages.texts(),
                 (QStringList{QStringLiteral("Could not configure media source"),
                              QStringLiteral("Could not configure pSource3Src")}));

        // No media framework: no timeline at all, in the dialog's own box.
        environment.messages.clear();
        media::StopMediaFramework();
        Material unstarted;
        unstarted.build(0, kSecond, &status);
        QVERIFY(FAILED(status));
        QCOMPARE(environment.messages.texts(),
                 QStringList{QStringLiteral("Could not create timeline")});
        QCOMPARE(environment.messages.boxes.first().caption, QStringLiteral("Error"));
        QCOMPARE(environment.messages.boxes.first().buttons, platform::BoxButtons::Ok);
        QCOMPARE(media::StartMediaFramework(), S_OK);
    }
};

FRAMEWELL_TEST_MAIN(TimelineBuilderTest)
#include "test_timeline_builder.moc"
