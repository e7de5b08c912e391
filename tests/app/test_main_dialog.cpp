// The main dialog after start-up: every control of its template at its place, what is
// disabled, what the status line says, the close rule, Escape, and a start without a media
// framework.

#include <QAbstractButton>
#include <QLabel>

#include "app/converter_dialog.h"
#include "app/position_slider.h"
#include "controls/hover_button.h"
#include "media/core/media_framework.h"
#include "platform/dialog_template.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "settings/compressor_catalogue.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::DialogControl;
using testing_support::Press;

using namespace MainDialogIds;

class MainDialogTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestEnvironment> environment;

    static QList<int> disabledSet() {
        return {kConvert, kPositionSlider,   kPlay,          kPause, kStop, kStartTime,
                kEndTime, kStartMarkDisplay, kEndMarkDisplay};
    }

    // Open Video on a minute of pictures and Convert, until the conversion runs.
    void startConverting(ConverterDialog& dialog) {
        testing_support::ClipSpec spec;
        spec.seconds = 60.0;
        QVERIFY(testing_support::OpenVideoAndWait(dialog, testing_support::MakeClip(spec)));
        testing_support::ChangeOutput(dialog, [&](OutputSettings& settings) {
            settings.outputName = environment->scratchPath(QStringLiteral("running.avi"));
        });
        Press(dialog, kConvert);
        QVERIFY(QTest::qWaitFor([&] { return dialog.isConverting(); }, 30000));
        environment->messages.clear();
    }

private slots:
    void init() { environment = std::make_unique<testing_support::TestEnvironment>(); }
    void cleanup() { environment.reset(); }

    void everyTemplateControlStandsAtItsPlace() {
        ConverterDialog dialog;
        dialog.show();
        const auto dialogTemplate =
            platform::LoadDialogTemplate(QStringLiteral(":/dialogs/main_dialog_102.json"));
        QVERIFY(dialogTemplate.has_value());
        const platform::DialogBaseUnits base = platform::BaseUnitsOf(
            platform::DialogFont(dialogTemplate->fontFace, dialogTemplate->fontPoints));
        QCOMPARE(dialog.size(), platform::DialogUnitsToPixels(QSize(257, 193), base));
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Framewell"));
        int checked = 0;
        for (const platform::ControlTemplate& control : dialogTemplate->controls) {
            if (control.id == platform::kNoControlId) continue;
            QWidget* widget = platform::FindControl(&dialog, control.id);
            QVERIFY2(widget, qPrintable(QStringLiteral("control %1 is missing").arg(control.id)));
            const QRect place = platform::DialogUnitsToPixels(control.rect, base);
            // A label grows about its place where its font needs more room (test_label_fit).
            if (control.kind == QLatin1String("static"))
                QVERIFY(widget->geometry().contains(place));
            else
                QCOMPARE(widget->geometry(), place);
            QCOMPARE(widget->isVisible(), !control.hasFlag("hidden"));
            if (auto* button = qobject_cast<QAbstractButton*>(widget))
                QCOMPARE(button->text(), control.text);
            ++checked;
        }
        QCOMPARE(checked, 19);
        testing_support::SaveScreenshot(&dialog, QStringLiteral("main_dialog_start"));
    }

    // Nothing to play or convert yet; the summary shows the stored output name.
    void startUpLeavesTheTransportDisabledAndShowsTheSummary() {
        {
            ConverterDialog dialog;
            QVERIFY(dialog.mediaFrameworkStarted());
            for (int id : disabledSet())
                QVERIFY2(!platform::FindControl(&dialog, id)->isEnabled(),
                         qPrintable(QString::number(id)));
            for (int id : {kOpenVideo, kOptions, kHelp, kAbout, kHomepage, kExit})
                QVERIFY(platform::FindControl(&dialog, id)->isEnabled());
            QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)->text(),
                     QStringLiteral("Output File: ") + platform::DefaultOutputName() +
                         QStringLiteral("     Resolution: Orinigal size"));
            QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)->text(),
                     QStringLiteral("00:00:00"));
            QVERIFY(environment->messages.boxes.isEmpty());
        }
        platform::SettingsStore().writeString(QStringLiteral("Settings"),
                                              QStringLiteral("OutputName"),
                                              QStringLiteral("/videos/party.avi"));
        ConverterDialog dialog;
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)->text(),
                 QStringLiteral("Output File: /videos/party.avi     Resolution: Orinigal size"));
    }

    void closingIsRefusedWhileConverting() {
        ConverterDialog dialog;
        dialog.show();
        QVERIFY(dialog.settings().videoCompressor.has_value());  // the DivX-compatible default
        startConverting(dialog);
        dialog.close();
        QVERIFY(dialog.isVisible());
        QCOMPARE(environment->messages.texts(), QStringList{"Please first stop Convert"});
        QCOMPARE(environment->messages.boxes.front().caption, platform::ProgramBaseName());
        QVERIFY(dialog.settings().videoCompressor.has_value());

        Press(dialog, kConvert);  // Stop
        QVERIFY(QTest::qWaitFor([&] { return !dialog.isConverting(); }, 30000));
        environment->messages.clear();
        dialog.close();
        QVERIFY(!dialog.isVisible());
        QVERIFY(!dialog.settings().videoCompressor && !dialog.settings().audioCompressor);
        QVERIFY(environment->messages.boxes.isEmpty());
    }

    // Escape ends the dialog at once, even while converting (Exit does too; the fault tests
    // show the file written so far is finished).
    void escapeEndsTheDialogAtOnce() {
        ConverterDialog dialog;
        dialog.show();
        startConverting(dialog);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Rejected));
        QVERIFY(environment->messages.boxes.isEmpty());
    }

    // The controls stay as the template made them, enabled with nothing open: each command
    // runs its handler, which finds no player and no clip.
    void withoutAMediaFrameworkTheDialogStillOpens() {
        media::FailMediaFrameworkStartForTesting(true);
        ConverterDialog dialog;
        media::FailMediaFrameworkStartForTesting(false);
        QVERIFY(!dialog.mediaFrameworkStarted());
        QCOMPARE(environment->messages.texts(), QStringList{"Could not initialize COM library."});
        QCOMPARE(environment->messages.boxes.front().caption, QStringLiteral("Error"));
        QCOMPARE(DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)->text(), QString());
        for (int id : disabledSet()) QVERIFY(platform::FindControl(&dialog, id)->isEnabled());
        environment->messages.clear();

        for (int id : {kPlay, kPause, kStop, kStartTime, kEndTime}) Press(dialog, id);
        auto* slider = DialogControl<PositionSlider>(dialog, kPositionSlider);
        slider->setValue(300);
        QTest::mousePress(slider, Qt::LeftButton);
        QTest::mouseRelease(slider, Qt::LeftButton);
        QCOMPARE(dialog.marks().start, 0);
        QCOMPARE(dialog.marks().end, 0);
        QCOMPARE(DialogControl<QLabel>(dialog, kStartMarkDisplay)->text(), QStringLiteral("00:00:00"));
        QVERIFY(environment->messages.boxes.isEmpty());

        Press(dialog, kConvert);
        QCOMPARE(environment->messages.texts(), QStringList{"Please open a video file first!"});
        QCOMPARE(environment->messages.boxes.front().caption, platform::ProgramBaseName());
        QVERIFY(!dialog.isConverting());
    }
};

FRAMEWELL_TEST_MAIN(MainDialogTest)
#include "test_main_dialog.moc"
