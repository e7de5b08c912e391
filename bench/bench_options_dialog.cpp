// How long the Options button takes, from the click until the Output options dialog is painted:
// the first time in a process (cold) and the times after (warm). The main dialog starts with
// fresh settings and is left a second before the first click, as a user would take.
// "uncompressed" stores both compressor choices as none first: start-up then lists no
// compressors, and the first Options dialog is the first to ask for them (with the trials'
// outcomes from the cache folder, or tried anew when it holds none for these plugins).
//
// Usage: bench_options_dialog [clicks] [uncompressed]
//        (QT_QPA_PLATFORM=offscreen unless a display is wanted)

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/converter_app.h"
#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "platform/dialog_template.h"
#include "platform/event_loop.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "settings/output_options_dialog.h"

namespace {

// Closes the options dialog at its first paint and notes when that was.
class FirstPaint : public QObject {
public:
    QElapsedTimer clock;
    double paintedMs = -1;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* dialog = qobject_cast<OutputOptionsDialog*>(watched);
        if (dialog && event->type() == QEvent::Paint && paintedMs < 0) {
            paintedMs = clock.nsecsElapsed() / 1e6;
            QTimer::singleShot(0, dialog, &QDialog::reject);
        }
        return false;
    }
};

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    const int clicks = argc > 1 ? std::max(2, atoi(argv[1])) : 6;
    QCoreApplication::setOrganizationName(QString::fromLatin1(platform::kOrganisation));
    QCoreApplication::setApplicationName(platform::ProgramBaseName());
    if (argc > 2 && QByteArray(argv[2]) == "uncompressed") {
        platform::SettingsStore store;
        store.writeInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), -1);
        store.writeInt(QStringLiteral("DexAudioCompress"), QStringLiteral("CompressorNumber"), -1);
        store.flush();
    }

    ConverterApp app;
    ConverterDialog dialog;
    dialog.show();
    QTest::qWait(1000);

    FirstPaint watcher;
    application.installEventFilter(&watcher);
    std::vector<double> times;
    for (int i = 0; i < clicks; ++i) {
        watcher.paintedMs = -1;
        watcher.clock.start();
        platform::Control<HoverButton>(&dialog, MainDialogIds::kOptions)
            ->click();  // returns when the dialog has closed again
        times.push_back(watcher.paintedMs);
        QTest::qWait(100);
    }
    std::vector<double> warm(times.begin() + 1, times.end());
    std::sort(warm.begin(), warm.end());
    std::printf("Options to a painted dialog: first %.1f ms, then median %.1f ms (max %.1f ms)\n",
                times.front(), warm[warm.size() / 2], warm.back());
    return 0;
}
