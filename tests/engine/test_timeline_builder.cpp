// The material of a conversion and the timeline a Convert builds of it: the transition a new
// clip gets, the clip defaults, measuring a file, and the builder's groups, times and failures.

#include <QSet>
#include <QtTest>

#include <algorithm>

#include "clips/clip_list.h"
#include "clips/transition_catalogue.h"
#include "engine/conversion_engine.h"
#include "engine/timeline_builder.h"
#include "media/core/media_framework.h"
#include "platform/settings_store.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

constexpr ReferenceTime kSecond = kReferenceTimePerSecond;

// A 95.7 s clip and its sound as Open Video leaves them, for a 352x288 output at 25 fps.
struct Material {
    ClipList clips;
    MusicList music;
    OutputSettings settings;
    ReferenceTime totalDuration = -1;

    explicit Material(int transition = 0) {
        clips.count = music.count = 1;
        clips[0] = {u"/videos/holiday.mpg"_s, 95 * kSecond, transition, 0};
        music[0] = {u"/videos/holiday.mpg"_s, 957'000'000};
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

    void newClipsTakeTheTransitionTheirPolicyChooses() {
        const int sequence = static_cast<int>(TransitionPolicy::Sequence);
        const QList<QPair<int, int>> wrapped = {{0, 0},   {46, 46}, {47, 1}, {48, 2},
                                                {92, 46}, {93, 1},  {139, 1}};
        for (const auto& [n, index] : wrapped)
            QCOMPARE(chooseTransition(sequence, n, 0), std::optional<int>(index));
        const int same = static_cast<int>(TransitionPolicy::Same);
        QCOMPARE(chooseTransition(same, 0, 99), std::optional<int>(99));  // whatever was stored
        QCOMPARE(chooseTransition(7, 0, 36), std::nullopt);

        // The C runtime's generator (srand(1) draws 41 first), over the whole catalogue.
        const int random = static_cast<int>(TransitionPolicy::Random);
        SeedTransitionRandom(1);
        QCOMPARE(NextTransitionRandom(), 41);
        QSet<int> seen;
        for (int i = 0; i < 5000; ++i) seen.insert(*chooseTransition(random, i, 0));
        QCOMPARE(seen.size(), kTransitionCount);
        QVERIFY(*std::min_element(seen.begin(), seen.end()) == 0 &&
                *std::max_element(seen.begin(), seen.end()) == kTransitionCount - 1);

        // A stored index outside the catalogue: the first wipe's name, the wipe's own pattern.
        for (int outside : {47, -1, INT_MIN}) {
            QCOMPARE(transitionName(outside), std::string("Horizontal"));
            QVERIFY(!transitionEffect(outside).hasMaskNum);
        }
        QVERIFY(!transitionEffect(16).hasMaskNum && transitionEffect(17).hasMaskNum);
    }

    void defaultsFillNewClips() {
        platform::SettingsStore store;
        ClipDefaults defaults = ReadClipDefaults(store);
        QCOMPARE((std::array{defaults.clipDuration, defaults.transitionDuration, defaults.policy,
                             defaults.sameTransition}),
                 (std::array{8, 0, 0, 0}));
        QVERIFY(!store.contains(u"TransitionSettings"_s, u"PhotoDuration"_s));  // never written

        ClipList clips;
        defaults.clipDuration = 95;  // Open Video's whole seconds of a 95.7 s clip
        QVERIFY(appendClip(clips, u"/videos/a.mpg"_s, defaults));
        QCOMPARE(clips.count, 1);
        QCOMPARE(clips[0].duration, ReferenceTime{950'000'000});

        store.writeInt(u"TransitionSettings"_s, u"TransitionType"_s, 2);  // Same
        store.writeInt(u"TransitionSettings"_s, u"TransitionName"_s, 36);
        store.writeInt(u"TransitionSettings"_s, u"TransitionDuration"_s, 3);
        defaults = ReadClipDefaults(store);
        clips.count = 0;
        appendClip(clips, u"b.avi"_s, defaults);
        QCOMPARE(clips[0].transition, 36);
        QCOMPARE(clips[0].transitionDuration, ReferenceTime{30'000'000});

        // An unknown policy leaves what the slot held; a full list takes nothing more.
        clips[1].transition = 12;
        appendClip(clips, u"d.avi"_s, ClipDefaults{8, 0, 9, 0});
        QCOMPARE(clips[1].transition, 12);
        clips.count = ClipList::kCapacity;
        QVERIFY(!appendClip(clips, u"e.avi"_s, defaults));
        QCOMPARE(clips.count, ClipList::kCapacity);
    }

    void marksBecomeTimelineAndMediaTimes() {
        Material material;
        material.clips[0].transitionDuration = 7 * kSecond;
        HRESULT status = E_FAIL;
        media::TimelineModel timeline = material.build(10 * kSecond, 25 * kSecond, &status);
        QCOMPARE(status, S_OK);
        QCOMPARE(material.totalDuration, 95 * kSecond);  // the clip list's, not the span's
        QCOMPARE(material.clips[0].transitionDuration, ReferenceTime{0});
        QVERIFY(environment.messages.boxes.isEmpty());
        QCOMPARE(timeline.groups.size(), std::size_t{2});
        QCOMPARE(media::TimelineDuration(timeline), ReferenceTime{150'000'000});

        const media::TimelineGroup& video = timeline.groups[0];
        const media::TimelineGroup& audio = timeline.groups[1];
        QVERIFY(video.isVideo() && !audio.isVideo());
        QCOMPARE(video.outputFrameRate, 25.0);
        for (const media::TimelineGroup* group : {&video, &audio}) {
            const media::TimelineSource& source = group->tracks.at(0).sources.at(0);
            QCOMPARE(source.start, ReferenceTime{0});
            QCOMPARE(source.stop, ReferenceTime{150'000'000});
            QCOMPARE(source.mediaStart, ReferenceTime{100'000'000});
            QCOMPARE(source.mediaStop, ReferenceTime{250'000'000});
            QCOMPARE(source.mediaName, std::string("/videos/holiday.mpg"));
        }
        QCOMPARE(video.tracks[0].sources[0].stretchMode, std::optional<std::int32_t>(2));
        QVERIFY(!audio.tracks[0].sources[0].stretchMode);

        // A render turns preview off so that every frame is made.
        QVERIFY(video.previewMode && audio.previewMode);
        DisablePreviewMode(timeline);
        QVERIFY(!timeline.groups[0].previewMode && !timeline.groups[1].previewMode);

        material.settings.resizeMode = kResizeStretch;
        QCOMPARE(material.build(0, kSecond).groups[0].tracks[0].sources[0].stretchMode,
                 std::optional<std::int32_t>(0));
    }

    void videoGroupTakesTheOutputSizeWithPaddedRows() {
        Material material;
        const media::GroupMediaType type = material.build(0, kSecond).groups.at(0).mediaType;
        QVERIFY(type.format);
        QCOMPARE(type.format->bmiHeader.biWidth, 352);
        QCOMPARE(type.format->bmiHeader.biHeight, 288);
        QCOMPARE(type.format->bmiHeader.biSizeImage, 304'128u);  // 1056 bytes a row
        material.settings.outputWidth = 350;                     // 1050 bytes a row, padded to 1052
        QCOMPARE(material.build(0, kSecond).groups.at(0).mediaType.format->bmiHeader.biSizeImage,
                 302'976u);
        QCOMPARE(media::Rgb24ImageSize(1, -3), 12u);  // the height counts as its absolute value
    }

    void transitionsComeFromTheCatalogue() {
        QVERIFY(Material(0).build(0, kSecond).groups[0].tracks[0].transitions.empty());

        const auto bars = Material(5).build(0, kSecond).groups[0].tracks[0].transitions;
        QCOMPARE(bars.size(), std::size_t{1});
        QCOMPARE(bars[0].effectClass, std::string("{2E7700B7-27C4-437F-9FBF-1E8BE2817566}"));
        QCOMPARE(bars[0].start, ReferenceTime{0});
        QCOMPARE(bars[0].stop, ReferenceTime{0});
        QVERIFY(!bars[0].maskNum);

        const auto matrix = Material(46).build(0, kSecond).groups[0].tracks[0].transitions;
        QCOMPARE(matrix.at(0).effectClass, std::string(kDxtJpegClass));
        QCOMPARE(matrix.at(0).maskNum, std::optional<std::int32_t>(301));

        const auto stored = Material(99).build(0, kSecond).groups[0].tracks[0].transitions;
        QCOMPARE(stored.at(0).effectClass, std::string(kDxtJpegClass));
        QVERIFY(!stored.at(0).maskNum);
        QVERIFY(environment.messages.boxes.isEmpty());
    }

    // No frame size, a frame too large to hold, or a rate no conversion can use: the step and
    // the reason are recorded, nothing is shown, the build goes on and the audio group becomes
    // the first group, but the timeline is not complete enough to convert.
    void aFailingStepIsRecordedAndTheBuildGoesOn() {
        Material sizeless, oversized, rateless, endless;
        sizeless.settings.outputWidth = 0;
        oversized.settings.outputWidth = oversized.settings.outputHeight = 99992;
        rateless.settings.outputFrameRate = 0.0;
        endless.settings.outputFrameRate = 1e308;
        const QList<std::tuple<Material*, TimelineStep, QString>> groupFailures = {
            {&sizeless, TimelineStep::VideoMediaType, u"0*288 has no picture"_s},
            {&oversized, TimelineStep::VideoMediaType, u"more than 4 GB"_s},
            {&rateless, TimelineStep::VideoFrameRate, u"0.001 to 1000"_s},
            {&endless, TimelineStep::VideoFrameRate, u"1e+308"_s}};
        for (const auto& [material, step, reason] : groupFailures) {
            TimelineBuilder builder(material->clips, material->music, 0, kSecond,
                                    material->settings, material->totalDuration);
            media::TimelineModel timeline;
            QCOMPARE(builder.BuildTimeline(&timeline), S_OK);
            QCOMPARE(builder.Failures().size(), std::size_t{1});
            QCOMPARE(builder.Failures()[0].step, step);
            QVERIFY2(builder.Failures()[0].reason.contains(reason),
                     qPrintable(builder.Failures()[0].reason));
            QVERIFY(!builder.Complete());
            QCOMPARE(timeline.groups.size(), std::size_t{1});
            QVERIFY(!timeline.groups[0].isVideo());
        }
        QVERIFY(environment.messages.boxes.isEmpty());
    }

    void withoutTheMediaFrameworkNothingIsMeasuredOrBuilt() {
        media::StopMediaFramework();
        QCOMPARE(readMediaDuration(u"/nowhere.avi"_s), ReferenceTime{0});
        Material material;
        TimelineBuilder builder(material.clips, material.music, 0, kSecond, material.settings,
                                material.totalDuration);
        media::TimelineModel timeline;
        QVERIFY(FAILED(builder.BuildTimeline(&timeline)));
        QCOMPARE(builder.Failures().at(0).step, TimelineStep::CreateTimeline);
        QVERIFY(environment.messages.boxes.isEmpty());
        QCOMPARE(media::StartMediaFramework(), S_OK);
    }
};

FRAMEWELL_TEST_MAIN(TimelineBuilderTest)
#include "test_timeline_builder.moc"
