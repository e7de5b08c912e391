// Every label of the three dialogs shows its whole text: each label's rectangle against its
// text's bounding box, with the texts it really shows, for the desktop's font and one step
// larger. CTest runs this program once per screen scale (QT_FONT_DPI, QT_SCALE_FACTOR), and
// each run prints its figures.

#include <QApplication>
#include <QFontMetricsF>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QScreen>
#include <QToolTip>

#include <cmath>

#include "app/converter_dialog.h"
#include "controls/about_dialog.h"
#include "platform/dialog_template.h"
#include "platform/eliding_label.h"
#include "settings/output_options_dialog.h"
#include "support/main_dialog_driver.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using testing_support::DialogControl;
using testing_support::Press;

using namespace MainDialogIds;

namespace {

struct Fit {
    QString what;
    QSize room;    // the label's room for text
    QSize needed;  // the text's bounding box
    bool fits = false;
};

QString Describe(const QLabel* label) {
    // A control of a template is named after its id.
    const QString name = label->objectName();
    return name.startsWith(QLatin1String("control_"))
               ? name.mid(8)
               : QStringLiteral("\"%1\"").arg(label->text().left(24));
}

// The rectangle QLabel lays its text out in: the contents less the margin, and less the
// indent on each side the text is aligned to (a framed label's default indent is half an x).
QRect TextRoom(const QLabel* label) {
    const int margin = label->margin();
    QRect room = label->contentsRect().adjusted(margin, margin, -margin, -margin);
    int indent = label->indent();
    if (indent < 0 && label->frameWidth() > 0)
        indent = label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - margin;
    if (indent > 0) {
        const Qt::Alignment align = label->alignment();
        if (align & Qt::AlignLeft) room.setLeft(room.left() + indent);
        if (align & Qt::AlignRight) room.setRight(room.right() - indent);
        if (align & Qt::AlignTop) room.setTop(room.top() + indent);
        if (align & Qt::AlignBottom) room.setBottom(room.bottom() - indent);
    }
    return room;
}

// The text a label shows in its room: the whole text, or for a label that elides, what is
// left of it (the whole text then being in its tooltip).
Fit Measure(const QLabel* label) {
    const QFontMetricsF metrics(label->font());
    const QRect room = TextRoom(label);
    QString shown = label->text();
    shown.remove(QLatin1Char('&'));
    if (const auto* eliding = qobject_cast<const platform::ElidingLabel*>(label))
        shown = eliding->shownText();
    // Rounded up: a fraction of a pixel cut off the descent is still a cut.
    QSize needed;
    if (label->wordWrap()) {
        const QRectF box = metrics.boundingRect(QRectF(0, 0, room.width(), 1e6),
                                                Qt::TextWordWrap | label->alignment(), shown);
        needed = QSize(int(std::ceil(box.width())), int(std::ceil(box.height())));
    } else {
        needed = QSize(int(std::ceil(metrics.horizontalAdvance(shown))),
                       int(std::ceil(std::max(metrics.lineSpacing(), metrics.height()))));
    }
    return {Describe(label), room.size(), needed,
            room.width() >= needed.width() && room.height() >= needed.height()};
}

// Whether a label keeps to its own place: inside the dialog and clear of every other control
// (a group box around it aside). A label grown over a button would hide the button instead.
QString Trespass(const QLabel* label, const QWidget* dialog) {
    if (!dialog->rect().contains(label->geometry())) return QStringLiteral("outside the dialog");
    for (const QWidget* other : dialog->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (other == label || !other->isVisibleTo(dialog) || qobject_cast<const QGroupBox*>(other))
            continue;
        if (other->geometry().intersects(label->geometry()))
            return QStringLiteral("over %1").arg(other->objectName());
    }
    return {};
}

QSize TemplateSize(const QString& resource, const QWidget* dialog) {
    const auto dialogTemplate = platform::LoadDialogTemplate(resource);
    if (!dialogTemplate) return {};
    return platform::DialogUnitsToPixels(dialogTemplate->size,
                                         platform::BaseUnitsOf(dialog->font()));
}

}  // namespace

class LabelFitTest : public QObject {
    Q_OBJECT

    std::unique_ptr<testing_support::TestEnvironment> environment;
    QFont desktopFont;
    int misfits = 0;
    int checked = 0;

    // Every text label of a dialog, with the text it shows now.
    void check(QWidget* dialog, const QString& dialogName, const QString& fontName) {
        for (QLabel* label : dialog->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
            if (!label->isVisibleTo(dialog) || !label->pixmap().isNull() || label->text().isEmpty())
                continue;
            const Fit fit = Measure(label);
            const QString trespass = Trespass(label, dialog);
            ++checked;
            if (!fit.fits || !trespass.isEmpty()) ++misfits;
            qInfo().noquote() << QStringLiteral("%1 %2 %3: room %4x%5, text %6x%7 %8 %9")
                                     .arg(fontName, dialogName, fit.what)
                                     .arg(fit.room.width())
                                     .arg(fit.room.height())
                                     .arg(fit.needed.width())
                                     .arg(fit.needed.height())
                                     .arg(fit.fits ? QStringLiteral("fits") : QStringLiteral("CUT"),
                                          trespass);
        }
    }

    // Checks the three dialogs and tells the main dialog's size.
    void checkAll(const QString& fontName, QSize& mainSize) {
        {
            ConverterDialog dialog;
            dialog.show();
            mainSize = dialog.size();
            // The template's proportions: its size in the units of the font it now has.
            QCOMPARE(mainSize,
                     TemplateSize(QStringLiteral(":/dialogs/main_dialog_102.json"), &dialog));
            DialogControl<QLabel>(dialog, MainDialogIds::kPositionDisplay)
                ->setText(QStringLiteral("100:00:00 / 100:00:00"));
            DialogControl<QLabel>(dialog, MainDialogIds::kStartMarkDisplay)
                ->setText(QStringLiteral("100:00:00"));
            DialogControl<QLabel>(dialog, MainDialogIds::kEndMarkDisplay)
                ->setText(QStringLiteral("100:00:00"));
            DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)
                ->setText(QStringLiteral("Output File: /home/user/stop_test.avi     "
                                         "Resolution: Orinigal size"));
            check(&dialog, QStringLiteral("main/summary"), fontName);
            DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)
                ->setText(QStringLiteral("Please wait... Used Time: 00:00:01     Left: 100:00:47"));
            check(&dialog, QStringLiteral("main/progress"), fontName);

            // A long path leaves out its middle; the tooltip has it whole.
            const QString whole =
                QStringLiteral("Done. Output File: ") +
                QStringLiteral("/home/user/a folder with a long name").repeated(4) +
                QStringLiteral("/gui.avi     Resolution: 1920*1080");
            DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine)->setText(whole);
            check(&dialog, QStringLiteral("main/long-path"), fontName);
            const auto* status = qobject_cast<platform::ElidingLabel*>(
                DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine));
            QVERIFY(status);
            const QString shown = status->shownText();
            QVERIFY2(shown.size() < whole.size() && shown.startsWith(u"Done. Output File: /home") &&
                         shown.endsWith(u"gui.avi     Resolution: 1920*1080"),
                     qPrintable(shown));
            QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), status->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(DialogControl<QLabel>(dialog, MainDialogIds::kStatusLine),
                                    &help);
            QCOMPARE(QToolTip::text(), whole);
            QToolTip::hideText();
        }
        {
            OutputOptionsDialog dialog(OutputSettings{}, 1);
            dialog.show();
            QCOMPARE(dialog.size(),
                     TemplateSize(QStringLiteral(":/dialogs/options_dialog_129.json"), &dialog));
            check(&dialog, QStringLiteral("options"), fontName);
        }
        {
            AboutDialog dialog;
            dialog.show();
            QCOMPARE(dialog.size(),
                     TemplateSize(QStringLiteral(":/dialogs/about_dialog_100.json"), &dialog));
            check(&dialog, QStringLiteral("about"), fontName);
        }
    }

private slots:
    void initTestCase() {
        const QScreen* screen = QGuiApplication::primaryScreen();
        qInfo().noquote() << QStringLiteral("scale: device pixel ratio %1, logical dpi %2")
                                 .arg(screen->devicePixelRatio())
                                 .arg(screen->logicalDotsPerInch());
        desktopFont = QApplication::font();
    }
    void init() { environment = std::make_unique<testing_support::TestEnvironment>(); }
    void cleanup() {
        environment.reset();
        QApplication::setFont(desktopFont);
    }

    void everyLabelShowsItsWholeText() {
        QSize usual;
        checkAll(QStringLiteral("desktop-font"), usual);
        // The desktop's text one step larger: the dialogs follow it, larger as a whole.
        QFont larger = desktopFont;
        larger.setPointSizeF(desktopFont.pointSizeF() + 1);
        QApplication::setFont(larger);
        QSize enlarged;
        checkAll(QStringLiteral("font+1pt"), enlarged);
        QVERIFY2(enlarged.width() >= usual.width() && enlarged.height() >= usual.height() &&
                     enlarged != usual,
                 qPrintable(QStringLiteral("%1x%2").arg(enlarged.width()).arg(enlarged.height())));
        qInfo().noquote() << QStringLiteral(
                                 "%1 labels checked, %2 cut or out of place; main dialog "
                                 "%3x%4, with the larger font %5x%6")
                                 .arg(checked)
                                 .arg(misfits)
                                 .arg(usual.width())
                                 .arg(usual.height())
                                 .arg(enlarged.width())
                                 .arg(enlarged.height());
        QCOMPARE(misfits, 0);
    }
};

FRAMEWELL_TEST_MAIN(LabelFitTest)
#include "test_label_fit.moc"
