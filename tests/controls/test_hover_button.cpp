// The main dialog's flat buttons: how they follow the pointer, what they sound like and how
// they look when pressed, disabled or recoloured; and the dialog as a person sees it.

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QPainter>
#include <QTimer>
#include <QWindow>

#include "app/converter_dialog.h"
#include "controls/about_dialog.h"
#include "controls/hover_button.h"
#include "platform/dialog_template.h"
#include "support/sound_recorder.h"
#include "support/test_environment.h"
#include "support/test_main.h"

namespace {

constexpr int kSound = 144;
const QColor kHostColour(200, 210, 220);

// A window of one plain colour holding one dressed button at (50, 50, 90, 52).
struct Host {
    QWidget window;
    HoverButton* button;

    Host() : button(new HoverButton(QStringLiteral("Open Video"), &window)) {
        QPalette palette = window.palette();
        palette.setColor(QPalette::Window, kHostColour);
        window.setPalette(palette);
        window.setAutoFillBackground(true);
        window.resize(240, 180);
        button->setGeometry(50, 50, 90, 52);
        button->SetIcon(140);
        button->SetSound(kSound);
        button->SetCursorResource(141);
        button->DrawTransparent(true);
        // The pointer starts in an empty corner, not where an earlier window left it.
        window.move(100, 100);
        QCursor::setPos(QPoint(110, 110));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
};

QImage imageOf(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// Whether image b shows image a moved by offset, over the part of a that stays inside both
// and away from the one-pixel edge.
bool showsShifted(const QImage& a, const QImage& b, QPoint offset) {
    for (int y = 1; y + offset.y() < a.height() - 1; ++y)
        for (int x = 1; x + offset.x() < a.width() - 1; ++x)
            if (a.pixel(x, y) != b.pixel(x + offset.x(), y + offset.y())) return false;
    return true;
}

// The most saturated pixel of a rectangle of the image.
int maxSaturation(const QImage& image, const QRect& area) {
    int most = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            most = std::max(most, QColor(image.pixel(x, y)).hsvSaturation());
    return most;
}

// How many pixels of a rectangle of the image lie close to a colour.
int pixelsNear(const QImage& image, const QRect& area, const QColor& colour) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) {
            const QColor pixel(image.pixel(x, y));
            const int distance = std::abs(pixel.red() - colour.red()) +
                                 std::abs(pixel.green() - colour.green()) +
                                 std::abs(pixel.blue() - colour.blue());
            if (distance < 30) ++count;
        }
    return count;
}

}  // namespace

class HoverButtonTest : public QObject {
    Q_OBJECT

private slots:
    void hoverSoundPlaysOncePerEntry() {
        testing_support::SoundRecorder sounds;
        Host host;
        HoverButton* button = host.button;
        QTest::mouseMove(&host.window, QPoint(10, 10));
        QVERIFY(!button->isHovering());

        QTest::mouseMove(&host.window, QPoint(60, 60));
        QTRY_VERIFY(button->isHovering());
        QCOMPARE(sounds.requests.size(), 1);
        QCOMPARE(sounds.requests[0].resourceId, kSound);
        QVERIFY(sounds.requests[0].async);

        // Moving about inside plays nothing more.
        QTest::mouseMove(&host.window, QPoint(80, 70));
        QTest::mouseMove(&host.window, QPoint(130, 95));
        QCOMPARE(sounds.requests.size(), 1);

        QTest::mouseMove(&host.window, QPoint(200, 150));
        QTRY_VERIFY(!button->isHovering());
        QTest::mouseMove(&host.window, QPoint(100, 75));
        QTRY_VERIFY(button->isHovering());
        QCOMPARE(sounds.requests.size(), 2);

        // Cursor 141 is the button's own, not the arrow.
        QCOMPARE(button->cursor().shape(), Qt::BitmapCursor);
        QCOMPARE(button->cursor().hotSpot(), QPoint(10, 2));
    }

    void dragFromElsewhereAndDisabledButtonsStayUnlit() {
        testing_support::SoundRecorder sounds;
        Host host;
        HoverButton* button = host.button;

        // Through the window system, as a real drag arrives.
        QWindow* window = host.window.windowHandle();
        QTest::mousePress(window, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(window, QPoint(60, 60));
        QTest::mouseMove(window, QPoint(70, 70));
        QVERIFY(!button->isHovering());
        QCOMPARE(sounds.requests.size(), 0);
        // Once the button is up, the pointer over it lights it up (at the latest with the
        // next move), and the sound plays once.
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(70, 70));
        QTest::mouseMove(&host.window, QPoint(75, 72));
        QTRY_VERIFY(button->isHovering());
        QCOMPARE(sounds.requests.size(), 1);

        // Disabling ends the hover; a disabled button ignores the pointer altogether.
        button->setEnabled(false);
        QVERIFY(!button->isHovering());
        QTest::mouseMove(&host.window, QPoint(10, 10));
        QTest::mouseMove(&host.window, QPoint(70, 70));
        QTest::mouseMove(&host.window, QPoint(72, 74));
        QVERIFY(!button->isHovering());
        QCOMPARE(sounds.requests.size(), 1);

        // No edge: the corners show the background; the icon has no colour left.
        const QImage disabled = imageOf(button);
        QCOMPARE(disabled.pixel(0, 0), kHostColour.rgb());
        QCOMPARE(disabled.pixel(89, 51), kHostColour.rgb());
        const QRect iconArea(3, 10, 32, 32);
        QVERIFY(maxSaturation(disabled, iconArea) < 40);
        button->setEnabled(true);
        QVERIFY(maxSaturation(imageOf(button), iconArea) > 100);

        // The caption is embossed: a highlight copy beside text in the shadow colour, where
        // the enabled caption has neither.
        const QRect captionArea(40, 0, 50, 52);
        const QColor light = button->palette().color(QPalette::Light);
        const QColor shadow = button->palette().color(QPalette::Dark);
        QVERIFY(pixelsNear(disabled, captionArea, light) > 5);
        QVERIFY(pixelsNear(disabled, captionArea, shadow) > 5);
        const QImage enabled = imageOf(button);
        QCOMPARE(pixelsNear(enabled, captionArea, light), 0);
    }

    void pressingSinksTheEdgeAndShiftsIconAndCaption() {
        Host host;
        HoverButton* button = host.button;
        const QImage normal = imageOf(button);
        QCOMPARE(normal.pixel(0, 0), kHostColour.rgb());

        button->setDown(true);
        const QImage pressed = imageOf(button);
        QCOMPARE(button->pressedOffset(), QPoint(1, 1));
        QVERIFY(showsShifted(normal, pressed, QPoint(1, 1)));
        QVERIFY(!showsShifted(normal, pressed, QPoint(0, 0)));
        // Sunken: shadow along the top and left, highlight along the bottom and right.
        const QPalette palette = button->palette();
        const QRgb shadow = palette.color(QPalette::Dark).rgb();
        const QRgb highlight = palette.color(QPalette::Light).rgb();
        QCOMPARE(pressed.pixel(0, 20), shadow);
        QCOMPARE(pressed.pixel(40, 0), shadow);
        QCOMPARE(pressed.pixel(89, 20), highlight);
        QCOMPARE(pressed.pixel(40, 51), highlight);

        button->SetPressedStyle(1);
        QVERIFY(showsShifted(normal, imageOf(button), QPoint(0, 2)));
        button->setDown(false);

        // Hovering raises the edge the other way round, without moving anything.
        QTest::mouseMove(&host.window, QPoint(60, 60));
        QTRY_VERIFY(button->isHovering());
        const QImage raised = imageOf(button);
        QCOMPARE(raised.pixel(0, 20), highlight);
        QCOMPARE(raised.pixel(89, 20), shadow);
        QCOMPARE(raised.copy(1, 1, 88, 50), normal.copy(1, 1, 88, 50));
    }

    void flatButtonShowsFocusOnlyWhenAsked() {
        Host host;
        HoverButton* button = host.button;
        auto draw = [button](bool focused) {
            QImage image(button->size(), QImage::Format_RGB32);
            QPainter painter(&image);
            button->DrawButton(painter, HoverButton::DrawState{false, focused, false, false});
            return image;
        };
        QCOMPARE(draw(true), draw(false));
        button->SetFlatFocus(true);
        QVERIFY(draw(true) != draw(false));
    }

    void colourChangeResetsColoursAndRecapturesTheFace() {
        Host host;
        HoverButton* button = host.button;
        imageOf(button);
        const int captures = button->backgroundCaptures();
        QVERIFY(captures >= 1);
        imageOf(button);
        QCOMPARE(button->backgroundCaptures(), captures);

        button->SetStateColors(HoverButton::ColorState::Normal, Qt::red, Qt::blue);
        QCOMPARE(button->stateText(HoverButton::ColorState::Normal), QColor(Qt::blue));

        // The window's colours change: the face shows the new background, and the state
        // colours are the desktop's again.
        const QColor newColour(90, 120, 60);
        QPalette palette = host.window.palette();
        palette.setColor(QPalette::Window, newColour);
        host.window.setPalette(palette);
        const QImage after = imageOf(button);
        QVERIFY(button->backgroundCaptures() > captures);
        QCOMPARE(after.pixel(1, 1), newColour.rgb());
        QCOMPARE(button->stateText(HoverButton::ColorState::Normal),
                 QApplication::palette().color(QPalette::ButtonText));
        QCOMPARE(button->stateBackground(HoverButton::ColorState::Normal),
                 QApplication::palette().color(QPalette::Button));
    }

    void theMainDialogsButtonsAreDressed() {
        testing_support::TestEnvironment environment;
        testing_support::SoundRecorder sounds;
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseMove(&dialog, QPoint(2, dialog.height() - 2));

        const struct {
            int id;
            const char* tooltip;
        } dressed[] = {{1006, "Open a video file"},
                       {1003, "Customize output options"},
                       {1000, "Convert video to avi"},
                       {57670, "Help"},
                       {1047, "Homepage"},
                       {1042, "About"},
                       {1, "Exit"}};
        for (const auto& expected : dressed) {
            auto* button = platform::Control<HoverButton>(&dialog, expected.id);
            QVERIFY2(button, qPrintable(QString::number(expected.id)));
            QCOMPARE(button->toolTip(), QString::fromLatin1(expected.tooltip));
            QVERIFY(button->isTransparent());
            QCOMPARE(button->cursor().shape(), Qt::BitmapCursor);
        }

        // Convert starts disabled: it shows greyed and stays unlit under the pointer.
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_convert_disabled"));
        dialog.SetTransportEnabled(true);
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_normal"));

        auto* options = dialog.optionsButton;
        QTest::mouseMove(&dialog, options->geometry().center());
        QTRY_VERIFY(options->isHovering());
        QCOMPARE(sounds.requests.size(), 1);
        QCOMPARE(sounds.requests[0].resourceId, kSound);
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_hover"));
        QTest::mouseMove(&dialog, QPoint(2, dialog.height() - 2));
        QTRY_VERIFY(!options->isHovering());

        // About opens the About box as a modal dialog of its own.
        bool sawAbout = false;
        QTimer::singleShot(0, [&sawAbout] {
            auto* about = qobject_cast<AboutDialog*>(QApplication::activeModalWidget());
            if (!about) return;
            sawAbout = true;
            if (!QTest::qWaitForWindowExposed(about)) return;
            testing_support::SaveScreenshot(about, QStringLiteral("about_box"));
            about->accept();
        });
        dialog.aboutButton->click();
        QVERIFY(sawAbout);
    }
};

FRAMEWELL_TEST_MAIN(HoverButtonTest)
#include "test_hover_button.moc"
