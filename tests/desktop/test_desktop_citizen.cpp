// What makes the program usable on any desktop, headless: which window owns a message box,
// focus that shows at every Tab stop, a name and a description for a screen reader on every
// control, an Open dialog that lists every container the program opens, a desktop entry that
// offers the program for those files, and the build's version in the About box.

#include <QAccessible>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileSystemModel>
#include <QLabel>
#include <QListView>
#include <QMessageBox>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QTimer>

#include "app/converter_dialog.h"
#include "controls/about_dialog.h"
#include "controls/hover_button.h"
#include "platform/desktop_message_boxes.h"
#include "platform/dialog_template.h"
#include "platform/file_chooser.h"
#include "player/preview_window.h"
#include "settings/output_options_dialog.h"
#include "support/main_dialog_driver.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::DialogControl;
using testing_support::Press;

namespace {

void Activate(QWidget* window) {
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

// What a screen reader is told about each control of a window that the user can reach.
QStringList NamelessControls(QWidget* window) {
    QStringList faults;
    QStringList names;
    for (QWidget* control : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (!control->isVisibleTo(window)) continue;
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
        const QString name = accessible ? accessible->text(QAccessible::Name) : QString();
        const QString description =
            accessible ? accessible->text(QAccessible::Description) : QString();
        const QString which = control->objectName().isEmpty() ? name : control->objectName();
        if (name.isEmpty()) faults << QStringLiteral("%1 has no name").arg(which);
        if (description.isEmpty() || description == name)
            faults << QStringLiteral("%1 has no description").arg(which);
        if (!name.isEmpty() && names.contains(name))
            faults << QStringLiteral("\"%1\" names two controls").arg(name);
        names << name;
    }
    return faults;
}

}  // namespace

class DesktopCitizenTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestEnvironment> environment;

private slots:
    void init() { environment = std::make_unique<testing_support::TestEnvironment>(); }
    void cleanup() { environment.reset(); }

    // The box goes over the window the user sees on top, whichever window asked for it.
    void boxesBelongToTheWindowOnTop() {
        QWidget main;
        main.setWindowTitle(QStringLiteral("main"));
        QWidget video;
        video.setWindowTitle(QStringLiteral("video"));
        QCOMPARE(platform::TopWindow(&main), nullptr);  // nothing shown

        main.show();
        video.show();
        Activate(&video);
        QCOMPARE(platform::TopWindow(&main), &video);
        // The main window made to stay on top (a click in the video window) wins over the
        // active video window, and a dialog of its own stands above it in turn.
        main.setWindowFlag(Qt::WindowStaysOnTopHint, true);
        main.show();
        Activate(&video);
        QCOMPARE(platform::TopWindow(nullptr), &main);
        QDialog options(&main);
        options.show();
        Activate(&options);
        QCOMPARE(platform::TopWindow(&main), &options);
        options.hide();
        // Minimised (full screen sends it away), it owns nothing: the full-screen video does.
        main.showMinimized();
        Activate(&video);
        QCOMPARE(platform::TopWindow(&main), &video);

        // The real box: owned by that window, and staying on top with a window that does.
        main.showNormal();
        Activate(&video);
        platform::InstallMessageBoxes(&platform::DesktopMessageBoxes());
        QWidget* owner = nullptr;
        bool staysOnTop = false;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box) return;
            owner = box->parentWidget();
            staysOnTop = box->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
            box->accept();
        });
        platform::ShowFrameworkMessage(QStringLiteral("Please first stop Convert"));
        QCOMPARE(owner, &main);
        QVERIFY(staysOnTop);

        // A window that goes while its box is open takes the box along; a question reads No.
        main.hide();
        auto* doomed = new QWidget;
        doomed->show();
        Activate(doomed);
        QTimer::singleShot(0, this, [doomed] { delete doomed; });
        QCOMPARE(platform::ShowMessage(nullptr, QStringLiteral("Replace it?"),
                                       QStringLiteral("Warning"), platform::BoxButtons::YesNo),
                 platform::BoxAnswer::No);
    }

    // Tab from stop to stop: each step changes the picture, the focused button's most.
    void everyTabStopShowsItsFocus() {
        ConverterDialog dialog;
        dialog.show();
        Activate(&dialog);
        QList<QWidget*> stops;
        QImage before = dialog.grab().toImage();
        for (int step = 0; step < 12; ++step) {
            QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : &dialog,
                            Qt::Key_Tab);
            QWidget* focused = QApplication::focusWidget();
            QVERIFY(focused);
            if (stops.contains(focused)) break;
            stops << focused;
            const QImage after = dialog.grab().toImage();
            QVERIFY2(after != before, qPrintable(focused->objectName()));
            testing_support::SaveScreenshot(&dialog, QStringLiteral("tab_stop_%1").arg(step + 1));
            before = after;
        }
        // Every button that takes the focus now is one of the stops.
        for (auto* button : dialog.findChildren<HoverButton*>())
            if (button->isVisible() && button->isEnabled())
                QVERIFY2(stops.contains(button), qPrintable(button->text()));

        // The focus rectangle itself: the same button drawn with and without the focus.
        HoverButton* options = DialogControl<HoverButton>(dialog, MainDialogIds::kOptions);
        options->setFocus(Qt::TabFocusReason);
        const QImage focused = options->grab().toImage();
        DialogControl<HoverButton>(dialog, MainDialogIds::kExit)->setFocus(Qt::TabFocusReason);
        QVERIFY(options->grab().toImage() != focused);
    }

    // Tab walks the Options dialog as it reads: row by row from the top, each row from the
    // left (hidden fields, such as a custom size's, are passed over).
    void optionsTabFollowsTheLayout() {
        using namespace OutputOptionsIds;
        OutputOptionsDialog options(OutputSettings{}, 1);
        options.show();
        Activate(&options);
        const QList<int> rows{kOutputFile,          kBrowse,    kResolutionList, kFrameRateList,
                              kResizeModeList,      kSource,    kVideoCompressorList,
                              kCompressorSettings,  kAudioCompressorList,
                              kOk,                  kDefault,   kCancel};
        platform::FindControl(&options, rows.first())->setFocus(Qt::TabFocusReason);
        QList<int> walked;
        for (int step = 0; step < rows.size(); ++step) {
            const QString name = QApplication::focusWidget()->objectName();
            walked << name.section(u'_', 1).toInt();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        QCOMPARE(walked, rows);
    }

    void everyControlHasANameAndADescription() {
        ConverterDialog main;
        main.show();
        OutputOptionsDialog options(OutputSettings{}, 1);
        options.show();
        AboutDialog about;
        about.show();
        PreviewWindow video(nullptr);
        for (QWidget* window : {static_cast<QWidget*>(&main), static_cast<QWidget*>(&options),
                                static_cast<QWidget*>(&about)}) {
            const QStringList faults = NamelessControls(window);
            QVERIFY2(faults.isEmpty(), qPrintable(faults.join(QStringLiteral("; "))));
        }
        QAccessibleInterface* window = QAccessible::queryAccessibleInterface(&video);
        QCOMPARE(window->text(QAccessible::Name), QStringLiteral("Video Window"));
        QVERIFY(!window->text(QAccessible::Description).isEmpty());
    }

    // The filter's name is as it always read; its pattern lists every container that opens,
    // in any case of letters.
    void openDialogListsEveryVideoFile() {
        ConverterDialog dialog;
        Press(dialog, MainDialogIds::kOpenVideo);  // cancelled by the script
        QCOMPARE(environment->files.requests.size(), 1);
        const platform::FileRequest request = environment->files.requests.front();
        QCOMPARE(request.filters.size(), 2);
        QCOMPARE(
            request.filters[0].name,
            QStringLiteral(
                "Video Files (*.mpeg;*.mpg;*.avi;*.wmv;*.dat;*.asf;*.vob;*.ogm;*.divx;*.div)"));
        QCOMPARE(request.filters[1].name, QStringLiteral("Any Files (*.*)"));

        QTemporaryDir folder;
        const QStringList videos = {"a.mp4",  "B.MKV", "c.Mov", "d.webm", "e.wmv", "f.ts",
                                    "g.m2ts", "h.MTS", "i.flv", "j.ogv",  "k.ogg", "l.3gp",
                                    "m.3g2",  "n.mxf", "o.m2v", "p.m4v",  "q.avi", "r.MPG"};
        const QStringList others = {"notes.txt", "picture.png", "output.avi.part"};
        for (const QString& name : videos + others)
            QFile(folder.filePath(name)).open(QFile::WriteOnly);

        QFileDialog chooser(nullptr, request.title, folder.path());
        chooser.setOption(QFileDialog::DontUseNativeDialog, true);
        platform::ConfigureFileDialog(chooser, request, QFileDialog::AcceptOpen);
        chooser.show();
        auto* types = chooser.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
        QVERIFY(types);
        QCOMPARE(types->currentText(), request.filters[0].name);
        auto* view = chooser.findChild<QListView*>(QStringLiteral("listView"));
        auto* model = chooser.findChild<QFileSystemModel*>();
        QVERIFY(view && model);
        const QModelIndex root = model->index(folder.path());
        // Read on a thread of the model's own; a file the filter leaves out is hidden or greyed.
        QStringList listed;
        const auto readListing = [&] {
            listed.clear();
            for (int row = 0; row < model->rowCount(root); ++row) {
                const QModelIndex index = model->index(row, 0, root);
                if (model->flags(index) & Qt::ItemIsEnabled) listed << model->fileName(index);
            }
            return listed.size() >= videos.size();
        };
        QVERIFY2(QTest::qWaitFor(readListing), qPrintable(listed.join(QLatin1Char(' '))));
        listed.sort(Qt::CaseInsensitive);
        QStringList expected = videos;
        expected.sort(Qt::CaseInsensitive);
        QCOMPARE(listed, expected);
    }

    // "Open With" offers the program for what the Open dialog shows: the desktop entry names a
    // type of every pattern that the MIME database knows, and no type beyond them.
    void theDesktopEntryTakesWhatTheOpenDialogShows() {
        ConverterDialog dialog;
        Press(dialog, MainDialogIds::kOpenVideo);  // cancelled by the script
        const QString patterns = environment->files.requests.front().filters[0].pattern;
        const QString entry =
            QString::fromUtf8(testing_support::ReadFile(QStringLiteral(FRAMEWELL_DESKTOP_ENTRY)));
        const QStringList listed = QRegularExpression(QStringLiteral("\nMimeType=([^\n]*)"))
                                       .match(entry)
                                       .captured(1)
                                       .split(QLatin1Char(';'), Qt::SkipEmptyParts);
        QStringList named, unknown;
        const QMimeDatabase database;
        for (const QString& pattern : patterns.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
            QStringList types;
            for (const QMimeType& type :
                 database.mimeTypesForFileName(QStringLiteral("video") + pattern.mid(1)))
                types << type.name();
            if (types.isEmpty()) unknown << pattern;
            QStringList offered;
            for (const QString& type : types)
                if (listed.contains(type)) offered << type;
            QVERIFY2(types.isEmpty() || !offered.isEmpty(),
                     qPrintable(pattern + QStringLiteral(": ") + types.join(QLatin1Char(' '))));
            named += offered;
        }
        named.removeDuplicates();
        QCOMPARE(named.size(), listed.size());
        if (!unknown.isEmpty()) qInfo("No MIME type names %s", qPrintable(unknown.join(' ')));
    }

    // The version that both programs' --version print, from the build.
    void theAboutBoxShowsTheBuildsVersion() {
        AboutDialog about;
        QStringList texts;
        for (const QLabel* label : about.findChildren<QLabel*>()) texts << label->text();
        QVERIFY2(texts.contains(QStringLiteral("Framewell Version " FRAMEWELL_PROJECT_VERSION)),
                 qPrintable(texts.join(QLatin1Char('|'))));
    }
};

FRAMEWELL_TEST_MAIN(DesktopCitizenTest)
#include "test_desktop_citizen.moc"
