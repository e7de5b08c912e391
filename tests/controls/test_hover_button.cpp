// The main dialog's flat buttons: how they follow the pointer, what they sound like and how
// they look when pressed, disabled or recoloured; and the dialog as a person sees it.

#include <QApplication>
#include <QCursor>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QWindow>

#include "app/converter_dialog.h"
#include "controls/about_dialog.h"
#include "controls/hover_button.h"
#include "controls/hyperlink_label.h"
#include "platform/dialog_template.h"
#include "support/main_dialog_driver.h"
#include "support/modal_driver.h"
#include "support/sound_recorder.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::DialogControl;
using testing_support::Press;

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

// Whether image b shows image a moved by offset, away from the one-pixel edge.
bool showsShifted(const QImage& a, const QImage& b, QPoint offset) {
    for (int y = 1; y + offset.y() < a.height() - 1; ++y)
        for (int x = 1; x + offset.x() < a.width() - 1; ++x)
            if (a.pixel(x, y) != b.pixel(x + offset.x(), y + offset.y())) return false;
    return true;
}

// How many pixels of a rectangle of the image pass a test.
template <typename Test>
int countPixels(const QImage& image, const QRect& area, Test test) {
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x) count += test(QColor(image.pixel(x, y)));
    return count;
}

auto closeTo(const QColor& colour) {
    return [colour](const QColor& pixel) {
        return std::abs(pixel.red() - colour.red()) + std::abs(pixel.green() - colour.green()) +
                   std::abs(pixel.blue() - colour.blue()) <
               30;
    };
}

auto saturated(const QColor& pixel) {
    return pixel.hsvSaturation() >= 40;
}

}  // namespace

class HoverButtonTest : public QObject {
    Q_OBJECT

private slots:
    void hoverAndItsSoundFollowThePointer() {
        testing_support::SoundRecorder sounds;
        Host host;
        HoverButton* button = host.button;
        QCOMPARE(button->cursor().shape(), Qt::BitmapCursor);  // cursor 141, not the arrow

        // Once per entry, however the pointer moves inside.
        for (int entry = 1; entry <= 2; ++entry) {
            QTest::mouseMove(&host.window, QPoint(60, 60));
            QTRY_VERIFY(button->isHovering());
            QTest::mouseMove(&host.window, QPoint(130, 95));
            QTest::mouseMove(&host.window, QPoint(200, 150));
            QTRY_VERIFY(!button->isHovering());
            QCOMPARE(sounds.requests.size(), entry);
        }
        QCOMPARE(sounds.requests[0].resourceId, kSound);
        QVERIFY(sounds.requests[0].async);

        // A drag that began elsewhere does not light it up; once released over it, it does.
        QWindow* window = host.window.windowHandle();
        QTest::mousePress(window, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseMove(window, QPoint(60, 60));
        QTest::mouseMove(window, QPoint(70, 70));
        QVERIFY(!button->isHovering());
        QCOMPARE(sounds.requests.size(), 2);
        QTest::mouseRelease(window, Qt::LeftButton, {}, QPoint(70, 70));
        QTest::mouseMove(&host.window, QPoint(75, 72));
        QTRY_VERIFY(button->isHovering());
        QCOMPARE(sounds.requests.size(), 3);

        // Disabling ends the hover; a disabled button ignores the pointer altogether.
        button->setEnabled(false);
        QVERIFY(!button->isHovering());
        QTest::mouseMove(&host.window, QPoint(10, 10));
        QTest::mouseMove(&host.window, QPoint(70, 70));
        QTest::mouseMove(&host.window, QPoint(72, 74));
        QVERIFY(!button->isHovering());
        QCOMPARE(sounds.requests.size(), 3);
    }

    void faceShowsPressedHoveredDisabledAndFocused() {
        Host host;
        HoverButton* button = host.button;
        const QPalette palette = button->palette();
        const QRgb shadow = palette.color(QPalette::Dark).rgb();
        const QRgb highlight = palette.color(QPalette::Light).rgb();
        const QImage normal = imageOf(button);
        QCOMPARE(normal.pixel(0, 0), kHostColour.rgb());  // flat: no edge

        // Pressed: sunken edge, icon and caption one right and one down (style 1: two down).
        button->setDown(true);
        const QImage pressed = imageOf(button);
        QCOMPARE(button->pressedOffset(), QPoint(1, 1));
        QVERIFY(showsShifted(normal, pressed, QPoint(1, 1)));
        QCOMPARE(pressed.pixel(0, 20), shadow);
        QCOMPARE(pressed.pixel(40, 0), shadow);
        QCOMPARE(pressed.pixel(89, 20), highlight);
        QCOMPARE(pressed.pixel(40, 51), highlight);
        button->SetPressedStyle(1);
        QVERIFY(showsShifted(normal, imageOf(button), QPoint(0, 2)));
        button->setDown(false);

        // Hovered: the edge raised the other way round, nothing moved.
        QTest::mouseMove(&host.window, QPoint(60, 60));
        QTRY_VERIFY(button->isHovering());
        const QImage raised = imageOf(button);
        QCOMPARE(raised.pixel(0, 20), highlight);
        QCOMPARE(raised.pixel(89, 20), shadow);
        QCOMPARE(raised.copy(1, 1, 88, 50), normal.copy(1, 1, 88, 50));

        // Disabled: no edge, an icon without colour, and an embossed caption (a highlight copy
        // beside text in the shadow colour) where the enabled caption has no highlight.
        const QRect iconArea(3, 10, 32, 32);
        const QRect captionArea(40, 0, 50, 52);
        button->setEnabled(false);
        const QImage disabled = imageOf(button);
        QCOMPARE(disabled.pixel(89, 51), kHostColour.rgb());
        QCOMPARE(countPixels(disabled, iconArea, saturated), 0);
        QVERIFY(countPixels(disabled, captionArea, closeTo(palette.color(QPalette::Light))) > 5);
        QVERIFY(countPixels(disabled, captionArea, closeTo(palette.color(QPalette::Dark))) > 5);
        button->setEnabled(true);
        QVERIFY(countPixels(normal, iconArea, saturated) > 0);
        QCOMPARE(countPixels(normal, captionArea, closeTo(palette.color(QPalette::Light))), 0);

        // A flat button shows focus only when asked to.
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
        imageOf(button);  // the face is captured once drawn
        button->SetStateColors(HoverButton::ColorState::Normal, Qt::red, Qt::blue);

        // The window's colours change: the face shows the new background, and the state
        // colours are the desktop's again.
        const QColor newColour(90, 120, 60);
        QPalette palette = host.window.palette();
        palette.setColor(QPalette::Window, newColour);
        host.window.setPalette(palette);
        QCOMPARE(imageOf(button).pixel(1, 1), newColour.rgb());
        QCOMPARE(button->stateText(HoverButton::ColorState::Normal),
                 QApplication::palette().color(QPalette::ButtonText));
        QCOMPARE(button->stateBackground(HoverButton::ColorState::Normal),
                 QApplication::palette().color(QPalette::Button));
    }

    void mainDialogAndAboutBoxAsSeen() {
        testing_support::TestEnvironment environment;
        testing_support::SoundRecorder sounds;
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QTest::mouseMove(&dialog, QPoint(2, dialog.height() - 2));

        // Convert starts disabled, greyed.
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_convert_disabled"));
        DialogControl<HoverButton>(dialog, MainDialogIds::kConvert)->setEnabled(true);
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_normal"));
        auto* options = DialogControl<HoverButton>(dialog, MainDialogIds::kOptions);
        QTest::mouseMove(&dialog, options->geometry().center());
        QTRY_VERIFY(options->isHovering());
        QCOMPARE(sounds.requests.size(), 1);
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_hover"));

        // About opens the About box as a modal dialog of its own; its links are always
        // underlined, and a click opens the page and leaves the box open.
        testing_support::ModalDriver about([](QDialog* dialog) {
            auto* box = qobject_cast<AboutDialog*>(dialog);
            QVERIFY(box && QTest::qWaitForWindowExposed(box));
            testing_support::SaveScreenshot(box, QStringLiteral("about_box"));
            QVERIFY(box->websiteLabel->isUnderlined() && box->supportLabel->isUnderlined());
            QVERIFY(box->rect().contains(box->supportLabel->geometry()));
            QTest::mouseClick(box->supportLabel, Qt::LeftButton, {}, QPoint(2, 2));
            QVERIFY(box->isVisible());
            platform::Control<QPushButton>(box, AboutDialogIds::kOk)->click();
        });
        DialogControl<HoverButton>(dialog, MainDialogIds::kAbout)->click();
        QVERIFY(about.ran());
        QCOMPARE(environment.shell.openedUrls, QList<QUrl>{QUrl(QLatin1String(kMakerSupportPage))});
    }
};

FRAMEWELL_TEST_MAIN(HoverButtonTest)
#include "test_hover_button.moc"
