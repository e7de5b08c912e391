// The hyperlink label: what a click opens and reports, how the label sizes itself and when
// it is underlined.

#include "controls/hyperlink_label.h"
#include "platform/file_classes.h"
#include "platform/settings_store.h"
#include "support/test_environment.h"
#include "support/test_main.h"

namespace {

// A shell that cannot open addresses but can start programs.
class FailingShell : public testing_support::ShellRecorder {
public:
    bool openUrl(const QUrl& url) override {
        openedUrls.push_back(url);
        return false;
    }
};

struct Parent {
    QWidget window;
    Parent() {
        window.resize(400, 200);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
    }
};

HyperlinkLabel* placedLabel(QWidget* parent, const QString& text, const QRect& place,
                            Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignTop) {
    auto* label = new HyperlinkLabel(text, parent);
    label->setAlignment(alignment);
    label->setGeometry(place);
    label->show();
    return label;
}

}  // namespace

class HyperlinkLabelTest : public QObject {
    Q_OBJECT

private slots:
    void openErrorsNameTheirCause() {
        testing_support::TestEnvironment environment;
        for (int code : {26, 4, -1}) HyperlinkLabel::ShowOpenError(code);
        const QString prefix = QStringLiteral("Unable to open hyperlink:\n\n");
        QCOMPARE(environment.messages.texts(),
                 QStringList({prefix + QStringLiteral("A sharing violation occurred. "),
                              prefix + QStringLiteral("Unknown Error (4) occurred."),
                              prefix + QStringLiteral("Unknown Error (-1) occurred.")}));
        const platform::BoxRequest& box = environment.messages.boxes.front();
        QCOMPARE(box.caption, platform::ProgramBaseName());
        QCOMPARE(box.icon, platform::BoxIcon::Exclamation);
        QCOMPARE(box.buttons, platform::BoxButtons::Ok);
    }

    void fitToTextKeepsTheEdgeItsAlignmentNames() {
        const QRect window(10, 20, 200, 30);
        const QSize text(80, 14);
        QCOMPARE(FitRectToText(window, QSize(0, 0), text, Qt::AlignLeft), QRect(10, 20, 80, 14));
        QCOMPARE(FitRectToText(window, QSize(0, 0), text, Qt::AlignRight), QRect(130, 20, 80, 14));
        // Odd room: both halves are truncated, so the label keeps one pixel more.
        QCOMPARE(FitRectToText(QRect(10, 20, 201, 30), QSize(0, 0), text, Qt::AlignHCenter),
                 QRect(70, 20, 81, 14));
        QCOMPARE(FitRectToText(window, QSize(0, 0), text, Qt::AlignLeft | Qt::AlignVCenter),
                 QRect(10, 28, 80, 14));
        // A frame adds its border; a text wider than the window grows it around its centre.
        QCOMPARE(FitRectToText(window, QSize(4, 4), text, Qt::AlignLeft), QRect(10, 20, 84, 18));
        QCOMPARE(FitRectToText(QRect(100, 0, 50, 10), QSize(0, 0), QSize(81, 10), Qt::AlignHCenter),
                 QRect(85, 0, 80, 10));

        // A real right-aligned label, fitted when attached and again for a new target.
        Parent parent;
        HyperlinkLabel* label = placedLabel(&parent.window, QStringLiteral("Click here"),
                                            QRect(100, 10, 200, 30), Qt::AlignRight | Qt::AlignTop);
        label->Attach();
        QFont underlined = label->font();
        underlined.setUnderline(true);
        for (const char* newText : {"", "A much longer text than before"}) {
            if (*newText) label->setText(QLatin1String(newText));
            label->SetTarget(QStringLiteral("https://example.com/"));
            QCOMPARE(label->geometry().right(), 299);
            // Whole pixels, rounded up: no fraction of the text is cut off.
            const QFontMetricsF metrics(underlined);
            QCOMPARE(label->width(), qCeil(metrics.horizontalAdvance(label->text())));
            QCOMPARE(label->height(), qCeil(metrics.height()));
        }
        // Not fitting leaves the place alone.
        label->SetFitToText(false);
        label->setGeometry(5, 5, 300, 40);
        label->SetTarget(QStringLiteral("https://example.org/"));
        QCOMPARE(label->geometry(), QRect(5, 5, 300, 40));
    }

    void underlineFollowsItsRule() {
        Parent parent;
        const struct {
            int rule;
            bool whileHovering;
            bool otherwise;
        } rules[] = {{HyperlinkLabel::kUnderlineHover, true, false},
                     {HyperlinkLabel::kUnderlineAlways, true, true},
                     {HyperlinkLabel::kUnderlineNever, false, false}};
        for (const auto& c : rules) {
            std::unique_ptr<HyperlinkLabel> label(
                placedLabel(&parent.window, QStringLiteral("link"), QRect(10, 10, 100, 20)));
            label->Attach();
            if (c.rule != HyperlinkLabel::kUnderlineHover) label->SetUnderlineRule(c.rule);
            QCOMPARE(label->GetUnderlineRule(), c.rule);  // hover is the default
            QCOMPARE(label->isUnderlined(), c.otherwise);
            QTest::mouseMove(&parent.window, QPoint(13, 13));
            QTRY_VERIFY(label->isHovering());
            QCOMPARE(label->isUnderlined(), c.whileHovering);
            QCOMPARE(label->currentTextColor(), label->GetHoverColor());
            // Leaving counts only at the next look of the hover timer.
            QTest::mouseMove(&parent.window, QPoint(390, 190));
            QCOMPARE(label->isUnderlined(), c.whileHovering);
            QTRY_VERIFY(!label->isHovering());
            QCOMPARE(label->isUnderlined(), c.otherwise);
            QCOMPARE(label->currentTextColor(), label->GetLinkColor());
        }
    }

    void clickOpensTheTargetAndRemembersTheOutcome() {
        testing_support::TestEnvironment environment;
        Parent parent;
        // An empty text takes the target given before attaching.
        HyperlinkLabel* label = placedLabel(&parent.window, QString(), QRect(10, 10, 300, 20));
        label->SetTarget(QStringLiteral("https://www.example.com/page"));
        label->Attach();
        QCOMPARE(label->text(), QStringLiteral("https://www.example.com/page"));
        QCOMPARE(label->toolTip(), QStringLiteral("https://www.example.com/page"));
        QCOMPARE(label->cursor().shape(), Qt::PointingHandCursor);

        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(environment.shell.openedUrls,
                 QList<QUrl>{QUrl(QStringLiteral("https://www.example.com/page"))});
        QVERIFY(label->GetVisited());
        QVERIFY(environment.messages.boxes.isEmpty());
        QTest::mouseMove(&parent.window, QPoint(390, 190));
        QTRY_COMPARE(label->currentTextColor(), QColor(85, 26, 139));

        // A failed open after a good one clears the visit and says why.
        environment.shell.result = false;
        QTest::mouseClick(label, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(!label->GetVisited());
        QTest::mouseMove(&parent.window, QPoint(390, 190));
        QTRY_COMPARE(label->currentTextColor(), QColor(0, 0, 238));
        QCOMPARE(environment.messages.texts(),
                 QStringList{QStringLiteral("Unable to open hyperlink:\n\nThere is no application "
                                            "associated\nwith the given filename extension.")});

        // Files that are not there never reach the shell.
        const QString missingFile = environment.scratchPath(QStringLiteral("absent.htm"));
        QCOMPARE(HyperlinkLabel::OpenTarget(missingFile), HyperlinkLabel::kFileNotFound);
        QCOMPARE(
            HyperlinkLabel::OpenTarget(environment.scratchPath(QStringLiteral("no/such/page.htm"))),
            HyperlinkLabel::kPathNotFound);
        QCOMPARE(environment.shell.openedUrls.size(), 2);
    }

    void failedOpenFallsBackToTheRegisteredBrowser() {
        testing_support::TestEnvironment environment;
        FailingShell shell;
        platform::InstallShell(&shell);
        platform::InstallClassReaderForTesting([](const QString& key) -> std::optional<QString> {
            if (key == QLatin1String(".htm")) return QStringLiteral("htmlfile");
            if (key == QLatin1String("htmlfile\\shell\\open\\command"))
                return QStringLiteral(
                    "\"C:\\Program Files\\Web\\browser.exe\" -nohome \"%1\" -new");
            return std::nullopt;
        });
        const QString target = QStringLiteral("https://www.example.com/");
        QCOMPARE(HyperlinkLabel::OpenTarget(target), HyperlinkLabel::kOpened);
        QCOMPARE(shell.commandLines,
                 QStringList{QStringLiteral("\"C:\\Program Files\\Web\\browser.exe\" -nohome  "
                                            "https://www.example.com/")});
        // Without a registered browser the shell's own failure stands.
        platform::InstallClassReaderForTesting(
            [](const QString&) { return std::optional<QString>(); });
        QCOMPARE(HyperlinkLabel::OpenTarget(target), HyperlinkLabel::kNoAssociation);
        platform::InstallClassReaderForTesting({});
        platform::InstallShell(&environment.shell);

        QCOMPARE(HyperlinkLabel::BrowserCommandLine(QStringLiteral("browser"), target),
                 QStringLiteral("browser https://www.example.com/"));
        QCOMPARE(HyperlinkLabel::BrowserCommandLine(QStringLiteral("browser \"%1\""),
                                                    QStringLiteral("C:\\My Pages\\a.htm")),
                 QStringLiteral("browser  \"C:\\My Pages\\a.htm\""));
    }
};

FRAMEWELL_TEST_MAIN(HyperlinkLabelTest)
#include "test_hyperlink_label.moc"
