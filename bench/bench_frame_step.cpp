// How long the video window's keys take, from the key press until the window holds the new
// picture, on a local 720p H.264 file (25 fps) with 10 s between key frames: the case where a
// step back decodes longest.
//
// A user lands somewhere, looks at the picture, then steps: each case first seeks to its
// starting frame and waits a second, then presses its key several times with a pause between
// presses (200 ms for frame steps, 500 ms for one-second jumps). The "cold" cases press right
// after the seek, with no time to look.
//
// Usage: bench_frame_step [presses]   (QT_QPA_PLATFORM=offscreen unless a display is wanted)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "media/core/media_framework.h"
#include "platform/event_loop.h"
#include "platform/message_boxes.h"
#include "player/preview_player.h"
#include "player/preview_window.h"

namespace {

// 40 s of 1280x720 H.264 at 25 fps, a key frame every 250 pictures (10 s), with AAC sound.
QString MakeLongGroupClip() {
    const QString path = QDir::temp().filePath(QStringLiteral("framewell_bench_720p_gop10s.mp4"));
    if (QFileInfo(path).size() > 0) return path;
    QProcess ffmpeg;
    ffmpeg.start(QStringLiteral("ffmpeg"), {"-hide_banner",
                                            "-loglevel",
                                            "error",
                                            "-y",
                                            "-f",
                                            "lavfi",
                                            "-i",
                                            "testsrc2=size=1280x720:rate=25:duration=40",
                                            "-f",
                                            "lavfi",
                                            "-i",
                                            "sine=frequency=440:sample_rate=48000:duration=40",
                                            "-c:v",
                                            "libx264",
                                            "-preset",
                                            "veryfast",
                                            "-g",
                                            "250",
                                            "-keyint_min",
                                            "250",
                                            "-sc_threshold",
                                            "0",
                                            "-pix_fmt",
                                            "yuv420p",
                                            "-c:a",
                                            "aac",
                                            "-shortest",
                                            path});
    if (!ffmpeg.waitForFinished(300000) || ffmpeg.exitCode() != 0) return {};
    return path;
}

struct Summary {
    double median = 0;
    double max = 0;
    int count = 0;
};

Summary summarise(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back(), static_cast<int>(times.size())};
}

// From the press until the window has taken a new picture.
double timePress(PreviewPlayer& player, Qt::Key key, Qt::KeyboardModifiers modifiers) {
    const qint64 before = player.m_hWnd->picture().cacheKey();
    QElapsedTimer clock;
    clock.start();
    QTest::keyClick(player.m_hWnd, key, modifiers);
    while (player.m_hWnd->picture().cacheKey() == before && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return clock.nsecsElapsed() / 1e6;
}

void land(PreviewPlayer& player, std::int64_t frame) {
    player.SeekAbsolute(media::FrameMiddle(frame, player.frameRate()));
    QTest::qWait(50);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    const int presses = argc > 1 ? std::max(3, atoi(argv[1])) : 12;

    const QString clip = MakeLongGroupClip();
    if (clip.isEmpty()) {
        std::fprintf(stderr, "could not make the 720p clip with ffmpeg\n");
        return 1;
    }
    platform::StderrMessageBoxes boxes;
    platform::InstallMessageBoxes(&boxes);
    if (FAILED(media::StartMediaFramework())) return 1;

    PreviewPlayer player(nullptr);
    player.clipName = clip;
    if (!player.LoadClipFile()) return 1;

    struct Case {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::int64_t from;
        int pauseMs;  // between presses
        bool cold;    // pressed right after landing, once per landing
    };
    const Case cases[] = {
        {"Left, from frame 240 (10 s group)", Qt::Key_Left, {}, 240, 200, false},
        {"Shift+Left, from frame 240", Qt::Key_Left, Qt::ShiftModifier, 240, 500, false},
        {"Right, from frame 100", Qt::Key_Right, {}, 100, 200, false},
        {"Shift+Right, from frame 100", Qt::Key_Right, Qt::ShiftModifier, 100, 500, false},
        {"Left right after landing (cold)", Qt::Key_Left, {}, 240, 0, true},
        {"Shift+Left right after landing (cold)", Qt::Key_Left, Qt::ShiftModifier, 240, 0, true},
    };
    std::printf("720p H.264 at 25 fps, a key frame every 250 frames, %d presses each:\n", presses);
    for (const Case& c : cases) {
        std::vector<double> times;
        const int count = c.key == Qt::Key_Left && c.modifiers ? std::min(presses, 8) : presses;
        if (!c.cold) {
            land(player, c.from);
            QTest::qWait(1000);
        }
        for (int i = 0; i < count; ++i) {
            // Each cold landing in another group of pictures, far from what was decoded.
            if (c.cold) land(player, c.from + 250 * (i % 4) - 7 * i);
            times.push_back(timePress(player, c.key, c.modifiers));
            if (c.pauseMs > 0) QTest::qWait(c.pauseMs);
        }
        const Summary summary = summarise(times);
        std::printf("  %-44s median %7.1f ms, max %7.1f ms (%d presses)\n", c.name, summary.median,
                    summary.max, summary.count);
    }
    player.UnloadClip();
    platform::InstallMessageBoxes(nullptr);
    return 0;
}
