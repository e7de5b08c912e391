// The material of a conversion: the transition catalogue, the policies that choose a new
// clip's transition, the clip defaults from the settings, and measuring a file.

#include <QFile>
#include <QSet>
#include <QtTest>

#include "clips/clip_list.h"
#include "clips/transition_catalogue.h"
#include "media/media_framework.h"
#include "platform/settings_store.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;

class ClipMaterialTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;

private slots:
    void catalogueNamesAndEffects() {
        QCOMPARE(transitionName(0), std::string("None"));
        QCOMPARE(transitionName(36), std::string("Circle"));
        QCOMPARE(transitionName(46), std::string("Matrix, horizontal"));
        for (int outside : {47, 1000, -1, INT_MIN})
            QCOMPARE(transitionName(outside), std::string("Horizontal"));
        QSet<QString> names;
        for (int i = 0; i < kTransitionCount; ++i)
            names.insert(QString::fromStdString(transitionName(i)));
        QCOMPARE(names.size(), kTransitionCount);

        // 1 to 16: a class each, no pattern; 17 to 46: the SMPTE wipe with its pattern.
        QCOMPARE(transitionEffect(5).effectClass,
                 std::string("{2E7700B7-27C4-437F-9FBF-1E8BE2817566}"));
        QSet<QString> classes;
        for (int i = 1; i <= 16; ++i) {
            QVERIFY(!transitionEffect(i).hasMaskNum);
            classes.insert(QString::fromStdString(transitionEffect(i).effectClass));
        }
        QCOMPARE(classes.size(), 16);
        QVERIFY(!classes.contains(QString::fromLatin1(kDxtJpegClass)));
        for (int i = 17; i <= 46; ++i) {
            QCOMPARE(transitionEffect(i).effectClass, std::string(kDxtJpegClass));
            QVERIFY(transitionEffect(i).hasMaskNum);
        }
        QCOMPARE(transitionEffect(17).maskNum, 1);
        QCOMPARE(transitionEffect(36).maskNum, 119);
        QCOMPARE(transitionEffect(46).maskNum, 301);
        // A stored index outside the catalogue plays the wipe's own default pattern.
        for (int outside : {47, -3}) {
            QCOMPARE(transitionEffect(outside).effectClass, std::string(kDxtJpegClass));
            QVERIFY(!transitionEffect(outside).hasMaskNum);
        }
    }

    void policiesChooseTheTransition() {
        const int sequence = static_cast<int>(TransitionPolicy::Sequence);
        for (int n = 0; n <= 46; ++n)
            QCOMPARE(chooseTransition(sequence, n, 0), std::optional<int>(n));
        const QList<QPair<int, int>> wrapped = {{47, 1}, {48, 2},   {92, 46},
                                                {93, 1}, {138, 46}, {139, 1}};
        for (const auto& [n, index] : wrapped)
            QCOMPARE(chooseTransition(sequence, n, 0), std::optional<int>(index));

        const int same = static_cast<int>(TransitionPolicy::Same);
        QCOMPARE(chooseTransition(same, 5, 36), std::optional<int>(36));
        QCOMPARE(chooseTransition(same, 0, 99), std::optional<int>(99));  // whatever was stored
        QCOMPARE(chooseTransition(7, 0, 36), std::nullopt);  // an unknown policy assigns nothing

        // The runtime's generator: the same seed gives the same draws, 0 to 46, all of them.
        const int random = static_cast<int>(TransitionPolicy::Random);
        SeedTransitionRandom(1);
        QCOMPARE(NextTransitionRandom(), 41);  // the C runtime's first draw after srand(1)
        SeedTransitionRandom(20240601);
        QList<int> first;
        for (int i = 0; i < 20; ++i) first << *chooseTransition(random, i, 0);
        SeedTransitionRandom(20240601);
        QSet<int> seen;
        for (int i = 0; i < 5000; ++i) {
            const int index = *chooseTransition(random, i, 0);
            if (i < 20) QCOMPARE(index, first[i]);
            QVERIFY(index >= 0 && index <= 46);
            seen.insert(index);
        }
        QCOMPARE(seen.size(), kTransitionCount);
    }

    void defaultsFillNewClips() {
        const platform::SettingsStore store;
        ClipDefaults defaults = ReadClipDefaults(store);
        QCOMPARE(defaults.clipDuration, 8);
        QCOMPARE(defaults.transitionDuration, 0);
        QCOMPARE(defaults.policy, 0);
        QCOMPARE(defaults.sameTransition, 0);
        QVERIFY(
            !store.contains(QStringLiteral("TransitionSettings"), QStringLiteral("PhotoDuration")));

        // Open Video puts the clip's whole seconds in place of the stored duration.
        ClipList clips;
        defaults.clipDuration = 95;  // a clip of 95.7 s
        QVERIFY(appendClip(clips, QStringLiteral("/videos/a.mpg"), defaults));
        QCOMPARE(clips.count, 1);
        QCOMPARE(clips[0].fileName, QStringLiteral("/videos/a.mpg"));
        QCOMPARE(clips[0].duration, ReferenceTime{950'000'000});
        QCOMPARE(clips[0].transitionDuration, ReferenceTime{0});
        QVERIFY(clips[0].transition >= 0 && clips[0].transition <= 46);

        platform::SettingsStore writable;
        writable.writeInt(QStringLiteral("TransitionSettings"), QStringLiteral("TransitionType"),
                          2);
        writable.writeInt(QStringLiteral("TransitionSettings"), QStringLiteral("TransitionName"),
                          36);
        writable.writeInt(QStringLiteral("TransitionSettings"),
                          QStringLiteral("TransitionDuration"), 3);
        defaults = ReadClipDefaults(writable);
        clips.count = 0;
        appendClip(clips, QStringLiteral("b.avi"), defaults);
        QCOMPARE(clips[0].transition, 36);
        QCOMPARE(clips[0].transitionDuration, ReferenceTime{30'000'000});
        writable.writeInt(QStringLiteral("TransitionSettings"), QStringLiteral("TransitionType"),
                          1);
        clips.count = 0;
        appendClip(clips, QStringLiteral("c.avi"), ReadClipDefaults(writable));
        QCOMPARE(clips[0].transition, 0);

        // An unknown policy leaves what the slot held; a full list takes nothing more.
        clips[1].transition = 12;
        clips.count = 1;
        appendClip(clips, QStringLiteral("d.avi"), ClipDefaults{8, 0, 9, 0});
        QCOMPARE(clips[1].transition, 12);
        clips.count = ClipList::kCapacity;
        QVERIFY(!appendClip(clips, QStringLiteral("e.avi"), defaults));
        QCOMPARE(clips.count, ClipList::kCapacity);
    }

    void filesAreMeasuredAndFoldersFound() {
        // Without the media framework there is nothing to measure with.
        QVERIFY(!media::MediaFrameworkRunning());
        QCOMPARE(readMediaDuration(QStringLiteral("/nowhere.avi")), ReferenceTime{0});

        QCOMPARE(media::StartMediaFramework(), S_OK);
        ClipSpec spec;
        spec.seconds = 2.5;
        const QString clip = MakeClip(spec);
        const ReferenceTime length = readMediaDuration(clip);
        QVERIFY2(std::llabs(length - 25'000'000) <= 400'000, qPrintable(QString::number(length)));
        QCOMPARE(readMediaDuration(environment.scratchPath(QStringLiteral("missing.avi"))),
                 ReferenceTime{-1});
        QFile text(environment.scratchPath(QStringLiteral("notes.avi")));
        QVERIFY(text.open(QIODevice::WriteOnly));
        text.write("not a video at all, just words");
        text.close();
        QCOMPARE(readMediaDuration(text.fileName()), ReferenceTime{-1});
        media::StopMediaFramework();

        QCOMPARE(folderOf(QStringLiteral("/home/ann/clip.avi"), platform::PathStyle::Posix),
                 QStringLiteral("/home/ann/"));
        QCOMPARE(folderOf(QStringLiteral("clip.avi"), platform::PathStyle::Posix), QString());
        QCOMPARE(folderOf(QStringLiteral("D:\\Videos\\clip.avi"), platform::PathStyle::Windows),
                 QStringLiteral("D:\\Videos\\"));
        QCOMPARE(folderOf(QStringLiteral("D:\\Videos/raw\\clip.avi"), platform::PathStyle::Windows),
                 QStringLiteral("D:\\Videos/raw\\"));
        QCOMPARE(folderOf(QStringLiteral("a\\b.avi"), platform::PathStyle::Posix), QString());
    }
};

FRAMEWELL_TEST_MAIN(ClipMaterialTest)
#include "test_clip_material.moc"
