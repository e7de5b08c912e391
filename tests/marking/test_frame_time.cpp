// Frame arithmetic behind the frame steps and the marks' tooltips, and which drags from the
// desktop name a file to open.

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include "media/frame_time.h"
#include "platform/dropped_files.h"
#include "support/test_main.h"

using media::FrameRate;

class FrameTimeTest : public QObject {
    Q_OBJECT

private slots:
    void framesTimesAndTimestamps() {
        const FrameRate pal{25, 1};
        QCOMPARE(media::FrameStart(51, pal), 20'400'000);
        QCOMPARE(media::FrameIndexAt(20'399'999, pal), 50);  // the frame whose span holds it
        QCOMPARE(media::FrameIndexAt(20'799'999, pal), 51);
        QCOMPARE(media::FrameMiddle(51, pal), 20'600'000);
        QCOMPARE(media::FrameIndexAt(-5, pal), 0);
        QCOMPARE(media::FrameCount(30'100'000, pal), 76);  // frame 75 starts inside 3.01 s

        // Files in milliseconds give 33 ms and 67 ms for frames 1 and 2 of 30000/1001, whose
        // nominal starts are 33.37 ms and 66.73 ms: as times they lie in frames 0 and 2, as
        // timestamps they start frames 1 and 2.
        const FrameRate ntsc{30000, 1001};
        QCOMPARE(media::FrameIndexAt(330'000, ntsc), 0);
        QCOMPARE(media::FrameStartingAt(330'000, ntsc), 1);
        QCOMPARE(media::FrameStartingAt(670'000, ntsc), 2);
        QCOMPARE(media::FrameStartingAt(333'666, ntsc), 1);   // nanoseconds round down
        QCOMPARE(media::FrameIndexAt(20'000'000, ntsc), 59);  // 2 s is inside 1.969-2.002 s
        // Starts are rounded up to the next 100 ns so that they name their own frame, with no
        // drift after an hour (frame 107892 starts at 3599.9964 s).
        QCOMPARE(media::FrameStart(1, ntsc), 333'667);
        QCOMPARE(media::FrameStart(107892, ntsc), 35'999'964'000);
        for (std::int64_t n : {1, 2, 59, 1000, 107892}) {
            QCOMPARE(media::FrameIndexAt(media::FrameStart(n, ntsc), ntsc), n);
            QCOMPARE(media::FrameIndexAt(media::FrameMiddle(n, ntsc), ntsc), n);
            QCOMPARE(media::FrameIndexAt(media::FrameStart(n, ntsc) - 1, ntsc), n - 1);
        }
        QVERIFY(!FrameRate{}.known());
        QCOMPARE(media::FrameIndexAt(20'400'000, FrameRate{}), 0);

        QCOMPARE(media::FormatClockMilliseconds(9'999'999), std::string("00:00:00.999"));
        QCOMPARE(media::FormatClockMilliseconds(3'600'000'000'000LL + 5'000'000),
                 std::string("100:00:00.500"));
    }

    void draggedItemsThatNameAFile() {
        QTemporaryDir folder;
        const QString first = folder.filePath(QStringLiteral("first clip.avi"));
        const QString second = folder.filePath(QStringLiteral("second.avi"));
        for (const QString& path : {first, second}) QVERIFY(QFile(path).open(QIODevice::WriteOnly));

        // The first file counts; a folder or a web address before it is passed over.
        QMimeData several;
        several.setUrls({QUrl::fromLocalFile(folder.path()),
                         QUrl(QStringLiteral("https://example.com/clip.avi")),
                         QUrl::fromLocalFile(second), QUrl::fromLocalFile(first)});
        QCOMPARE(platform::DroppedFilePath(&several), QDir::toNativeSeparators(second));
        QMimeData text;
        text.setText(first);
        QMimeData folderOnly;
        folderOnly.setUrls({QUrl::fromLocalFile(folder.path())});
        QMimeData gone;
        gone.setUrls({QUrl::fromLocalFile(folder.filePath(QStringLiteral("gone.avi")))});
        for (const QMimeData* none : {&text, &folderOnly, &gone})
            QCOMPARE(platform::DroppedFilePath(none), QString());

        // Taken as a copy or a link, never as a move, after which the source deletes its file.
        QDropEvent both(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &several, Qt::LeftButton,
                        {});
        QVERIFY(platform::AcceptFileDrop(&both));
        QCOMPARE(both.dropAction(), Qt::CopyAction);
        QDropEvent link(QPointF(5, 5), Qt::LinkAction | Qt::MoveAction, &several, Qt::LeftButton,
                        {});
        QVERIFY(platform::AcceptFileDrop(&link));
        QCOMPARE(link.dropAction(), Qt::LinkAction);
        QDropEvent moveOnly(QPointF(5, 5), Qt::MoveAction, &several, Qt::LeftButton, {});
        moveOnly.accept();
        QVERIFY(!platform::AcceptFileDrop(&moveOnly));
        QVERIFY(!moveOnly.isAccepted());
    }
};

FRAMEWELL_TEST_MAIN(FrameTimeTest)
#include "test_frame_time.moc"
