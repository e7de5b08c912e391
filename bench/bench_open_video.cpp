// How long Open Video takes from the moment the user accepts a file in the open-file dialog to
// the first picture painted in the video window, on a local 1080p H.264 file. The file is
// made once with ffmpeg under the temporary folder. The first open of a process also loads
// the decoder plugins; the later ones show what each further open costs.
//
// Usage: bench_open_video [runs]   (QT_QPA_PLATFORM=offscreen unless a display is wanted)

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/converter_dialog.h"
#include "app/source_player.h"
#include "bench/bench_support.h"
#include "platform/dialog_template.h"
#include "platform/event_loop.h"
#include "platform/file_chooser.h"
#include "platform/message_boxes.h"
#include "platform/settings_store.h"
#include "player/preview_player.h"
#include "player/preview_window.h"

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    const int runs = argc > 1 ? std::max(1, atoi(argv[1])) : 6;

    const QString clip = bench::MakeFullHdClip();
    if (clip.isEmpty()) {
        std::fprintf(stderr, "could not make the 1080p clip with ffmpeg\n");
        return 1;
    }
    QTemporaryDir settings;
    platform::SettingsStore::UseFolderForTesting(settings.path());
    bench::AcceptFile chooser(clip);
    platform::InstallFileChooser(&chooser);
    platform::StderrMessageBoxes boxes;
    platform::InstallMessageBoxes(&boxes);

    ConverterDialog dialog;
    dialog.show();
    std::vector<double> times;
    for (int run = 0; run < runs; ++run) {
        QElapsedTimer clock;
        clock.start();
        platform::Control<QAbstractButton>(&dialog, MainDialogIds::kOpenVideo)->click();
        QEventLoop loop;
        QTimer limit;
        limit.setSingleShot(true);
        QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
        limit.start(10000);
        // The window is made during the open; poll for it, then wait for its first painted picture.
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (!dialog.isOpeningVideo() && currentPlayer && currentPlayer->m_hWnd &&
                currentPlayer->m_hWnd->paintedPictures() > 0)
                loop.quit();
        });
        poll.start(0);
        loop.exec();
        const double ms = clock.nsecsElapsed() / 1e6;
        if (!limit.isActive()) {
            std::fprintf(stderr, "run %d: no picture within 10 s\n", run + 1);
            return 1;
        }
        times.push_back(ms);
        std::printf("open %d: %.1f ms%s\n", run + 1, ms, run == 0 ? " (first in process)" : "");
    }
    std::vector<double> later(times.begin() + (times.size() > 1 ? 1 : 0), times.end());
    std::sort(later.begin(), later.end());
    std::printf(
        "1080p H.264, accept to first picture: first %.1f ms, median of the rest %.1f ms "
        "(min %.1f, max %.1f)\n",
        times.front(), later[later.size() / 2], later.front(), later.back());

    // Smoothness: pictures painted per second while the 30 fps clip plays.
    const int paintedBefore = currentPlayer->m_hWnd->paintedPictures();
    platform::Control<QAbstractButton>(&dialog, MainDialogIds::kPlay)->click();
    QElapsedTimer played;
    played.start();
    QEventLoop playing;
    QTimer::singleShot(4000, &playing, &QEventLoop::quit);
    playing.exec();
    const double seconds = played.nsecsElapsed() / 1e9;
    std::printf("1080p playback: %.1f pictures painted per second (source 30)\n",
                (currentPlayer->m_hWnd->paintedPictures() - paintedBefore) / seconds);
    platform::Control<QAbstractButton>(&dialog, MainDialogIds::kCloseClip)->click();
    platform::InstallFileChooser(nullptr);
    platform::InstallMessageBoxes(nullptr);
    return 0;
}
