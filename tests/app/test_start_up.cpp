// Start-up with a button's sound playing at once, as when the pointer rests where a button
// appears: the media framework is wholly up before the dialog handles its first event, so
// the sound's thread never loads a plugin while the framework is still starting (the two once
// waited on each other for good), and the dialog answers a click on About.

#include <QAbstractButton>

#include "app/converter_dialog.h"
#include "media/core/media_framework.h"
#include "platform/dialog_template.h"
#include "platform/sound.h"
#include "support/modal_driver.h"
#include "support/test_environment.h"
#include "support/test_main.h"

class StartUpTest : public QObject {
    Q_OBJECT

private slots:
    void aButtonSoundDuringStartUpFreezesNothing() {
        testing_support::TestEnvironment environment;
        QVERIFY(!media::MediaFrameworkRunning());
        ConverterDialog dialog;
        QVERIFY(dialog.mediaFrameworkStarted() && media::EditingServicesStarted());
        dialog.show();
        // The sound's own thread starts now and opens the output while the first events (the
        // first paint and what it starts) are handled.
        QVERIFY(platform::PlaySound({144, QString(), true}));
        testing_support::ModalDriver about([](QDialog* box) {
            QCOMPARE(box->windowTitle(), QStringLiteral("About Framewell"));
            box->accept();
        });
        platform::Control<QAbstractButton>(&dialog, MainDialogIds::kAbout)->click();
        QVERIFY(about.ran());
        QVERIFY(environment.messages.boxes.isEmpty());
    }
};

FRAMEWELL_TEST_MAIN(StartUpTest)
#include "test_start_up.moc"
