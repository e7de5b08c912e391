// The program on a real X display with a window manager (Xvfb and openbox of its own), driven
// by xdotool as a user would: message boxes come up above the window on top and take the keys,
// in windowed and in full-screen mode, and the video window fits the screen beside the main
// dialog. CTest runs it on a 1600x1000 and on a 1366x768 screen.

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QScreen>
#include <QTimer>

#include <QAbstractButton>
#include <QPushButton>
#include <QDialogButtonBox>

#include "media/core/media_framework.h"
#include "platform/desktop_message_boxes.h"
#include "platform/event_loop.h"
#include "player/player_test_support.h"
#include "player/preview_window.h"
#include "player/window_placement.h"
#include "settings/codec_config_dialog.h"
#include "settings/output_options_dialog.h"
#include "support/modal_driver.h"
#include "support/x_session.h"

using namespace player_tests;
using testing_support::ActiveWindow;
using testing_support::StackingOrder;
using testing_support::TestEnvironment;
using testing_support::TransientFor;
using testing_support::WindowStates;
using testing_support::XdoTool;

namespace {

QString skipReason;

// What the window manager made of one message box, and whether a key pressed for the active
// window reached it.
struct BoxSeen {
    QString text;
    bool onTop = false;
    bool active = false;
    QStringList states;
    WId owner = 0;
    bool closedByKey = false;
};

// Watches for the program's message boxes while the code under test waits in one. Each box,
// once the window manager has it, is looked at and then answered with Return through xdotool.
class BoxWatcher : public QObject {
public:
    BoxWatcher() {
        connect(&poll_, &QTimer::timeout, this, [this] { look(); });
        poll_.start(50);
    }
    QList<BoxSeen> seen;

private:
    void look() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (busy_ || !box || box == last_) return;
        busy_ = true;
        last_ = box;
        BoxSeen record;
        record.text = box->text();
        const WId id = box->winId();
        // Mapped, stacked and given the focus by the window manager.
        record.onTop = QTest::qWaitFor(
            [&] { return !StackingOrder().isEmpty() && StackingOrder().last() == id; }, 5000);
        record.active = QTest::qWaitFor([&] { return ActiveWindow() == id; }, 3000);
        record.states = WindowStates(id);
        record.owner = TransientFor(id);
        const QPointer<QMessageBox> watched(box);
        XdoTool({QStringLiteral("key"), QStringLiteral("Return")});
        record.closedByKey =
            QTest::qWaitFor([&] { return !watched || !watched->isVisible(); }, 5000);
        if (watched && watched->isVisible()) watched->reject();
        seen << record;
        busy_ = false;
    }

    QTimer poll_;
    QPointer<QMessageBox> last_;
    bool busy_ = false;
};

// Waits until the window manager stacks a window.
bool Managed(const QWidget* window) {
    // Generous: a window manager on a machine busy with other tests maps windows late.
    return QTest::qWaitFor([&] { return StackingOrder().contains(window->winId()); }, 15000);
}

void ClickIn(const QWidget* window) {
    const QPoint centre = window->mapToGlobal(window->rect().center());
    // Apart by more than a double click's time, and after the pointer has settled.
    XdoTool({QStringLiteral("mousemove"), QString::number(centre.x()), QString::number(centre.y()),
             QStringLiteral("sleep"), QStringLiteral("0.2"), QStringLiteral("click"),
             QStringLiteral("1")});
    QTest::qWait(600);
}

// The whole screen as the user sees it, under the build folder's screenshots/.
void SaveScreen(const QString& name) {
    QDir().mkpath(QStringLiteral(FRAMEWELL_SCREENSHOT_DIR));
    QGuiApplication::primaryScreen()->grabWindow(0).save(
        QDir(QStringLiteral(FRAMEWELL_SCREENSHOT_DIR)).filePath(name + QStringLiteral(".png")));
}

}  // namespace

class RealDesktopTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<ConverterDialog> dialog;

    // Shows each box of a step, checks where the window manager put it and answers it.
    static void expectBoxes(const QList<BoxSeen>& seen, const QStringList& texts, WId owner) {
        QCOMPARE(seen.size(), texts.size());
        for (int i = 0; i < seen.size(); ++i) {
            const BoxSeen& box = seen[i];
            qInfo().noquote() << QStringLiteral("box \"%1\": top %2, active %3, states [%4]")
                                     .arg(box.text.section(QLatin1Char('.'), 0, 0))
                                     .arg(box.onTop)
                                     .arg(box.active)
                                     .arg(box.states.join(QStringLiteral(", ")));
            QVERIFY2(box.text.startsWith(texts[i]), qPrintable(box.text));
            QVERIFY(box.onTop);
            QVERIFY(box.active);
            QVERIFY(box.closedByKey);
            if (owner) QCOMPARE(box.owner, owner);
        }
    }

private slots:
    void initTestCase() {
        if (!skipReason.isEmpty()) QSKIP(qPrintable(skipReason));
        QVERIFY(SUCCEEDED(media::StartMediaFramework()));
    }

    void init() {
        // A failed init() is not followed by cleanup(): the last function's environment goes
        // first, or its end would take away the new one's scripted file dialog.
        dialog.reset();
        environment.reset();
        environment = std::make_unique<TestEnvironment>();
        // The real boxes: where they appear is what is tested.
        platform::InstallMessageBoxes(&platform::DesktopMessageBoxes());
        dialog = std::make_unique<ConverterDialog>();
        dialog->show();
        QVERIFY(Managed(dialog.get()));
    }

    void cleanup() {
        dialog.reset();
        environment.reset();
    }

    // The steps: a clip open, two clicks in the video window make the dialog stay on
    // top, then a broken file. Then the same in full screen, with the dialog sent away and
    // brought back on top.
    void boxesComeUpAboveTheWindowOnTop() {
        QVERIFY(OpenVideo(*dialog, *environment, SmallClip()));
        QVERIFY(currentPlayer && currentPlayer->m_hWnd);
        PreviewWindow* video = currentPlayer->m_hWnd;
        QVERIFY(Managed(video));

        dialogAbove = 1;
        ClickIn(video);
        QTRY_COMPARE(dialogAbove, 0);
        ClickIn(video);
        QTRY_COMPARE(dialogAbove, 1);
        QTRY_VERIFY(WindowStates(dialog->winId()).contains(QStringLiteral("ABOVE")));
        {
            BoxWatcher watcher;
            QVERIFY(OpenVideo(*dialog, *environment, CorruptFile(*environment)));
            expectBoxes(watcher.seen,
                        {QStringLiteral("Cannot open the file."),
                         QStringLiteral("Can not get the duration of the clip!")},
                        dialog->winId());
            for (const BoxSeen& box : watcher.seen)
                QVERIFY(box.states.contains(QStringLiteral("ABOVE")));
        }

        // Full screen; the first click sends the dialog away: the box is the video window's.
        currentPlayer->OnCommand(ID_FULL_SCREEN);
        QTRY_COMPARE(video->geometry(), video->screen()->geometry());
        ClickIn(video);
        QTRY_VERIFY(dialog->isMinimized());
        const auto failLater = [] {
            QTimer::singleShot(100, [] {
                platform::ShowFrameworkMessage(QStringLiteral("The conversion failed."));
            });
        };
        {
            BoxWatcher watcher;
            failLater();
            QTRY_COMPARE(watcher.seen.size(), 1);
            expectBoxes(watcher.seen, {QStringLiteral("The conversion failed.")}, video->winId());
        }
        // The next click brings the dialog back on top of the picture: the box goes above it.
        ClickIn(video);
        QTRY_VERIFY(!dialog->isMinimized());
        QTRY_VERIFY(WindowStates(dialog->winId()).contains(QStringLiteral("ABOVE")));
        {
            BoxWatcher watcher;
            failLater();
            QTRY_COMPARE(watcher.seen.size(), 1);
            expectBoxes(watcher.seen, {QStringLiteral("The conversion failed.")}, dialog->winId());
        }
        currentPlayer->OnEscape();
        QTRY_VERIFY(!currentPlayer->fullScreen);
    }

    // A clip larger than the screen is scaled down to it, aspect kept; a small one stands
    // beside the dialog. Both stay inside the work area and can be resized.
    void videoWindowFitsTheScreen() {
        const QRect available = dialog->screen()->availableGeometry();
        // The frame's extents may arrive in parts: the title bar is the last to count.
        QTRY_VERIFY(dialog->frameGeometry().top() < dialog->geometry().top() &&
                    dialog->frameGeometry().left() < dialog->geometry().left());
        const QRect dialogFrame = dialog->frameGeometry();
        qInfo() << "work area" << available << "main dialog" << dialogFrame;
        testing_support::ClipSpec large;
        large.seconds = 1.0;
        large.width = 1920;
        large.height = 1080;
        const struct {
            QString name;
            QString clip;
            QSize native;
        } clips[] = {
            {QStringLiteral("1080p"), testing_support::MakeClip(large), {1920, 1080}},
            {QStringLiteral("320x240"), SmallClip(), {320, 240}},
        };
        for (const auto& clip : clips) {
            QVERIFY(OpenVideo(*dialog, *environment, clip.clip));
            PreviewWindow* video = currentPlayer->m_hWnd;
            QVERIFY(Managed(video));
            // The frame's size arrives from the window manager a moment after mapping; the
            // window then keeps inside the work area by it.
            QTRY_VERIFY(video->frameGeometry().top() < video->geometry().top() &&
                        video->frameGeometry().left() < video->geometry().left());
            QTRY_VERIFY(available.contains(video->frameGeometry()));
            // Scaled or not, the picture's aspect is kept to a pixel (once the window manager
            // has had its say).
            const auto aspectKept = [&] {
                const QSize size = video->size();
                return qAbs(size.width() * clip.native.height() -
                            size.height() * clip.native.width()) <= clip.native.width();
            };
            QTRY_VERIFY(aspectKept());
            const QRect frame = video->frameGeometry();
            const QSize client = video->size();
            qInfo() << clip.name << "clip: video window" << frame << "picture" << video->geometry();
            const QSize nativeFrame = clip.native.grownBy(FrameMargins(video));
            if (nativeFrame.width() <= available.width() &&
                nativeFrame.height() <= available.height())
                QCOMPARE(client, clip.native);
            else
                QVERIFY(client.width() < clip.native.width());
            const bool roomBeside = available.right() - dialogFrame.right() >= frame.width() ||
                                    dialogFrame.left() - available.left() >= frame.width() ||
                                    available.bottom() - dialogFrame.bottom() >= frame.height() ||
                                    dialogFrame.top() - available.top() >= frame.height();
            if (roomBeside) {
                QVERIFY(!frame.intersects(dialogFrame));
            } else {
                // Over the dialog, but below it: its controls stay in reach, and the video
                // window keeps the keys.
                QTRY_VERIFY(StackingOrder().indexOf(dialog->winId()) >
                            StackingOrder().indexOf(video->winId()));
                QCOMPARE(ActiveWindow(), video->winId());
            }
            QTRY_VERIFY(video->paintedPictures() > 0);
            SaveScreen(QStringLiteral("real_desktop_%1_on_%2x%3")
                           .arg(clip.name)
                           .arg(dialog->screen()->geometry().width())
                           .arg(dialog->screen()->geometry().height()));

            // The user makes it smaller: the picture follows, whole, aspect kept.
            XdoTool({QStringLiteral("windowsize"), QString::number(video->winId()),
                     QStringLiteral("300"), QStringLiteral("300")});
            QTRY_COMPARE(video->size(), QSize(300, 300));
            const QRect picture = currentPlayer->pictureRect;
            QCOMPARE(picture.width(), 300);
            QVERIFY(qAbs(picture.height() - 300 * clip.native.height() / clip.native.width()) <= 1);
        }
    }

    // Options, then the video compressor's Settings, as a user reaches them: whatever the
    // screen and its scale, OK and Cancel lie on it and the settings scroll between.
    void codecSettingsKeepTheirButtonsOnScreen() {
        bool checked = false;
        testing_support::ModalDriver options([&](QDialog* optionsDialog) {
            testing_support::ModalDriver settings([&](QDialog* settingsDialog) {
                QVERIFY(qobject_cast<CodecConfigDialog*>(settingsDialog));
                QVERIFY(Managed(settingsDialog));
                QVERIFY(QTest::qWaitForWindowExposed(settingsDialog));
                const QRect screen = settingsDialog->screen()->availableGeometry();
                QTRY_VERIFY(screen.contains(settingsDialog->frameGeometry()));
                const auto* box = settingsDialog->findChild<QDialogButtonBox*>();
                QVERIFY(box);
                for (QAbstractButton* button : box->buttons()) {
                    const QRect place(button->mapToGlobal(QPoint(0, 0)), button->size());
                    qInfo() << button->text() << place << "on" << screen;
                    QVERIFY(screen.contains(place));
                }
                QTest::qWait(300);  // painted before the picture is taken
                SaveScreen(QStringLiteral("real_desktop_codec_settings_%1x%2_scale_%3")
                               .arg(screen.width())
                               .arg(screen.height())
                               .arg(settingsDialog->devicePixelRatio()));
                checked = true;
                settingsDialog->reject();
            });
            platform::Control<QPushButton>(optionsDialog, OutputOptionsIds::kCompressorSettings)
                ->click();
            QVERIFY(settings.ran());
            optionsDialog->reject();
        });
        platform::Control<QPushButton>(dialog.get(), MainDialogIds::kOptions)->click();
        QVERIFY(options.ran());
        QVERIFY(checked);
    }
};

int main(int argc, char* argv[]) {
    platform::UseQtEventLoop();
    testing_support::XSession session(testing_support::TestScreenSize());
    if (!session.missing().isEmpty()) {
        skipReason = QStringLiteral("needs %1 (./dev installs them)").arg(session.missing());
        qputenv("QT_QPA_PLATFORM", "offscreen");
    } else if (!session.running()) {
        std::fprintf(stderr, "No X display for the test: %s\n", qPrintable(session.problem()));
        return 1;
    }
    QApplication application(argc, argv);
    RealDesktopTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "test_real_desktop.moc"
