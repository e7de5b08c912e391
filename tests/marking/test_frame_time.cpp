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
    void framesOfAWholeRate() {
        const FrameRate pal{25, 1};
        QCOMPARE(media::FrameStart(51, pal), 20'400'000);  // 2.04 s
        QCOMPARE(media::FrameIndexAt(20'400'000, pal), 51);
        QCOMPARE(media::FrameIndexAt(20'399'999, pal), 50);  // the frame whose span holds it
        QCOMPARE(media::FrameIndexAt(20'799'999, pal), 51);
        // A timestamp from a file may be rounded to the millisecond either way.
        QCOMPARE(media::FrameStartingAt(20'395'000, pal), 51);
        QCOMPARE(media::FrameStartingAt(20'405'000, pal), 51);
        QCOMPARE(media::FrameStartingAt(20'390'000, pal), 50);
        QCOMPARE(media::FrameMiddle(51, pal), 20'600'000);
        QCOMPARE(media::FrameIndexAt(media::FrameMiddle(51, pal), pal), 51);
        // Nothing before the start.
        QCOMPARE(media::FrameIndexAt(-5, pal), 0);
        QCOMPARE(media::FrameStart(-3, pal), 0);
        QCOMPARE(media::FrameMiddle(-3, pal), 200'000);
        // A clip of 3 s has frames 0 to 74; one of 3.01 s has a 76th that starts inside it.
        QCOMPARE(media::FrameCount(30'000'000, pal), 75);
        QCOMPARE(media::FrameCount(30'100'000, pal), 76);
        QCOMPARE(media::FrameCount(0, pal), 0);
        // Without a rate every answer is the start.
        QCOMPARE(media::FrameIndexAt(20'400'000, FrameRate{}), 0);
        QCOMPARE(media::FrameCount(30'000'000, FrameRate{0, 1}), 0);
        QVERIFY(!FrameRate{}.known());
    }

    void framesOfAFractionalRate() {
        const FrameRate ntsc{30000, 1001};
        // Frame 1 starts at 33.3667 ms: rounded up to the next 100 ns, it is frame 1 again.
        QCOMPARE(media::FrameStart(1, ntsc), 333'667);
        // Files in 100 ns or nanoseconds round a start down, files in milliseconds give
        // 33 ms and 67 ms for frames 1 and 2: each is still the frame that starts there.
        QCOMPARE(media::FrameStartingAt(333'666, ntsc), 1);
        QCOMPARE(media::FrameStartingAt(330'000, ntsc), 1);
        QCOMPARE(media::FrameStartingAt(670'000, ntsc), 2);
        QCOMPARE(media::FrameStartingAt(1'000'000, ntsc), 3);  // 100 ms for 100.1 ms
        // As a time, 33 ms is still inside frame 0, and 2 s inside frame 59 (1.969 s).
        QCOMPARE(media::FrameIndexAt(330'000, ntsc), 0);
        QCOMPARE(media::FrameIndexAt(20'000'000, ntsc), 59);
        // No drift after an hour: frame 107892 starts at 3599.9964 s.
        const std::int64_t hour = 107892;
        QCOMPARE(media::FrameStart(hour, ntsc), 35'999'964'000);
        QCOMPARE(media::FrameIndexAt(media::FrameStart(hour, ntsc), ntsc), hour);
        QCOMPARE(media::FrameIndexAt(media::FrameMiddle(hour, ntsc), ntsc), hour);
        // Every start and middle of the first thousand frames names its own frame.
        for (std::int64_t n = 0; n < 1000; ++n) {
            QCOMPARE(media::FrameIndexAt(media::FrameStart(n, ntsc), ntsc), n);
            QCOMPARE(media::FrameIndexAt(media::FrameMiddle(n, ntsc), ntsc), n);
            QCOMPARE(media::FrameIndexAt(media::FrameStart(n + 1, ntsc) - 1, ntsc), n);
            QCOMPARE(media::FrameStartingAt(media::FrameStart(n, ntsc) - 4'999, ntsc), n);
            QVERIFY(media::FrameMiddle(n, ntsc) < media::FrameStart(n + 1, ntsc));
        }
    }

    void millisecondClock() {
        QCOMPARE(media::FormatClockMilliseconds(20'400'000), std::string("00:00:02.040"));
        QCOMPARE(media::FormatClockMilliseconds(333'667), std::string("00:00:00.033"));
        QCOMPARE(media::FormatClockMilliseconds(0), std::string("00:00:00.000"));
        // Truncated, as the whole seconds are.
        QCOMPARE(media::FormatClockMilliseconds(9'999'999), std::string("00:00:00.999"));
        QCOMPARE(media::FormatClockMilliseconds(3'600'000'000'000LL + 5'000'000),
                 std::string("100:00:00.500"));
    }

    void droppedItemsThatNameAFile() {
        QTemporaryDir folder;
        const QString first = folder.filePath(QStringLiteral("first clip.avi"));
        const QString second = folder.filePath(QStringLiteral("second.avi"));
        for (const QString& path : {first, second}) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
        }

        QMimeData one;
        one.setUrls({QUrl::fromLocalFile(first)});
        QCOMPARE(platform::DroppedFilePath(&one), QDir::toNativeSeparators(first));

        // Only the first file counts; a folder or a web address before it is passed over.
        QMimeData several;
        several.setUrls({QUrl::fromLocalFile(folder.path()),
                         QUrl(QStringLiteral("https://example.com/clip.avi")),
                         QUrl::fromLocalFile(second), QUrl::fromLocalFile(first)});
        QCOMPARE(platform::DroppedFilePath(&several), QDir::toNativeSeparators(second));

        // No file at all.
        QMimeData text;
        text.setText(first);
        QCOMPARE(platform::DroppedFilePath(&text), QString());
        QMimeData folderOnly;
        folderOnly.setUrls({QUrl::fromLocalFile(folder.path())});
        QCOMPARE(platform::DroppedFilePath(&folderOnly), QString());
        QMimeData gone;
        gone.setUrls({QUrl::fromLocalFile(folder.filePath(QStringLiteral("gone.avi")))});
        QCOMPARE(platform::DroppedFilePath(&gone), QString());
        QCOMPARE(platform::DroppedFilePath(nullptr), QString());
    }

    void dropsAreTakenAsCopiesNeverMoves() {
        QMimeData data;
        // A file manager offering copy and move: copy, so it keeps its file.
        QDropEvent both(QPointF(5, 5), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton,
                        {});
        QVERIFY(platform::AcceptFileDrop(&both));
        QVERIFY(both.isAccepted());
        QCOMPARE(both.dropAction(), Qt::CopyAction);

        QDropEvent link(QPointF(5, 5), Qt::LinkAction | Qt::MoveAction, &data, Qt::LeftButton, {});
        QVERIFY(platform::AcceptFileDrop(&link));
        QCOMPARE(link.dropAction(), Qt::LinkAction);

        QDropEvent moveOnly(QPointF(5, 5), Qt::MoveAction, &data, Qt::LeftButton, {});
        moveOnly.accept();
        QVERIFY(!platform::AcceptFileDrop(&moveOnly));
        QVERIFY(!moveOnly.isAccepted());
    }
};

FRAMEWELL_TEST_MAIN(FrameTimeTest)
#include "test_frame_time.moc"
