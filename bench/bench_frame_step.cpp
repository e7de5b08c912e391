// How long the video window's keys take, from the key press to the picture being cued, on a
// local 1080p H.264 file whose key frames are 250 frames apart (libx264's default). A step
// decodes from the key frame before the wanted frame, so it costs more the further the frame
// lies from a key frame: steps are timed right after a key frame and just before the next.
//
// Usage: bench_frame_step [steps]   (QT_QPA_PLATFORM=offscreen unless a display is wanted)

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

#include "bench/bench_support.h"
#include "platform/event_loop.h"
#include "media/media_framework.h"
#include "platform/message_boxes.h"
#include "player/preview_player.h"
#include "player/preview_window.h"

namespace {

struct Summary {
    double median = 0;
    double max = 0;
};

// Times each press; before every press, place() puts the clip where the press starts.
Summary TimePresses(PreviewPlayer& player, int presses, Qt::Key key, Qt::KeyboardModifiers mods,
                    const std::function<void()>& place) {
    std::vector<double> times;
    for (int i = 0; i < presses; ++i) {
        place();
        QElapsedTimer clock;
        clock.start();
        QTest::keyClick(player.m_hWnd, key, mods);
        times.push_back(clock.nsecsElapsed() / 1e6);
    }
    std::sort(times.begin(), times.end());
    return {times[times.size() / 2], times.back()};
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    const int presses = argc > 1 ? std::max(1, atoi(argv[1])) : 10;

    const QString clip = bench::MakeFullHdClip();
    if (clip.isEmpty()) {
        std::fprintf(stderr, "could not make the 1080p clip with ffmpeg\n");
        return 1;
    }
    platform::StderrMessageBoxes boxes;
    platform::InstallMessageBoxes(&boxes);
    if (FAILED(media::StartMediaFramework())) return 1;

    PreviewPlayer player(nullptr);
    player.clipName = clip;
    if (!player.LoadClipFile()) return 1;
    const media::FrameRate rate = player.frameRate();
    auto at = [&](std::int64_t frame) {
        return [&player, rate, frame] { player.SeekAbsolute(media::FrameMiddle(frame, rate)); };
    };

    struct Case {
        const char* name;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::int64_t from;
    };
    const Case cases[] = {
        {"Right after a key frame (frame 1 -> 2)", Qt::Key_Right, {}, 1},
        {"Right far from a key frame (frame 240 -> 241)", Qt::Key_Right, {}, 240},
        {"Left after a key frame (frame 2 -> 1)", Qt::Key_Left, {}, 2},
        {"Left far from a key frame (frame 241 -> 240)", Qt::Key_Left, {}, 241},
        {"Shift+Right (frame 200 -> 230)", Qt::Key_Right, Qt::ShiftModifier, 200},
        {"End (frame 10 -> 599, 99 after the key frame at 500)", Qt::Key_End, {}, 10},
    };
    std::printf("1080p H.264 at 30 fps, key frames every 250 frames, %d presses each:\n", presses);
    for (const Case& c : cases) {
        const Summary summary = TimePresses(player, presses, c.key, c.modifiers, at(c.from));
        std::printf("  %-52s median %7.1f ms, max %7.1f ms\n", c.name, summary.median, summary.max);
    }
    player.UnloadClip();
    platform::InstallMessageBoxes(nullptr);
    return 0;
}
