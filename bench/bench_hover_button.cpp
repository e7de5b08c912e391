// What the dressed buttons cost the UI thread: one paint of a button in each state, a repaint
// of the whole main dialog, and starting the hover sound (which must return at once while the
// sound plays on the player's own thread). Prints the median of many runs in microseconds.
// Run headless: QT_QPA_PLATFORM=offscreen build/bench/bench_hover_button

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "media/core/media_framework.h"
#include "media/playback/wave_player.h"
#include "platform/dialog_template.h"
#include "platform/event_loop.h"
#include "platform/settings_store.h"
#include "platform/sound.h"

namespace {

double medianMicroseconds(int runs, const std::function<void()>& work) {
    std::vector<double> times;
    times.reserve(runs);
    for (int i = 0; i < runs; ++i) {
        const auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(
            std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::nth_element(times.begin(), times.begin() + runs / 2, times.end());
    return times[runs / 2];
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    // Keep the user's settings out of it.
    platform::SettingsStore::UseFolderForTesting(QDir::tempPath() + "/framewell-bench-settings");

    ConverterDialog dialog;
    dialog.show();
    application.processEvents();
    HoverButton* button = platform::Control<HoverButton>(&dialog, MainDialogIds::kOpenVideo);
    QImage image(button->size(), QImage::Format_ARGB32_Premultiplied);

    const struct {
        const char* name;
        HoverButton::DrawState state;
    } states[] = {{"normal", {}},
                  {"hovering", {false, false, false, true}},
                  {"pressed", {true, false, false, true}},
                  {"disabled", {false, false, true, false}}};
    for (const auto& s : states) {
        const double us = medianMicroseconds(2000, [&] {
            QPainter painter(&image);
            button->DrawButton(painter, s.state);
        });
        std::printf("paint one button, %-9s %8.1f us\n", s.name, us);
    }
    std::printf("repaint the main dialog     %8.1f us\n",
                medianMicroseconds(200, [&] { dialog.grab(); }));

    // The desktop's player (its output falls back to silence where there is no device).
    int started = 0;
    const double startUs = medianMicroseconds(200, [&started] {
        started += platform::PlaySound({144, QString(), true}) ? 1 : 0;
    });
    std::printf("start the hover sound       %8.1f us  (UI thread, %d of 200 started)\n", startUs,
                started);

    QFile file(QStringLiteral(":/sounds/hover_click_144.wav"));
    file.open(QIODevice::ReadOnly);
    const QByteArray bytes = file.readAll();
    const std::vector<std::uint8_t> wave(bytes.begin(), bytes.end());
    media::WavePlayer player("fakesink");
    std::printf("decode the sound to its end %8.1f us  (player thread, silent sink)\n",
                medianMicroseconds(50, [&] {
                    player.Play(wave);
                    player.Wait(std::chrono::seconds(5));
                }));
    return 0;
}
