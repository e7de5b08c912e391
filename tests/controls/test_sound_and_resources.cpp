// The button sound through the real media seam, the drawn resources the program loads, the
// help pages and what `cmake --install` puts on the desktop.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "media/media_framework.h"
#include "media/wave_player.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "support/media_fixtures.h"
#include "support/test_main.h"

namespace {

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class SoundAndResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void buttonSoundPlaysThroughTheMediaSeam() {
        QFile file(QStringLiteral(":/sounds/144.wav"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const std::vector<std::uint8_t> click(bytes.begin(), bytes.end());
        QVERIFY(click.size() > 44 && click.size() < 8 * 1024);

        // Before the framework runs nothing is played, and nothing waits.
        QVERIFY(!platform::PlaySound({144, QString(), true}));
        media::WavePlayer early("fakesink");
        QCOMPARE(early.Play(click), E_UNEXPECTED);

        QVERIFY(SUCCEEDED(media::StartMediaFramework()));
        {
            media::WavePlayer player("fakesink");
            QCOMPARE(player.Play(click), S_OK);
            QCOMPARE(player.Wait(std::chrono::seconds(10)), media::SoundOutcome::Finished);

            // Bytes that are no wave fail quietly, with a reason kept for whoever asks.
            QCOMPARE(player.Play({'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e'}), S_OK);
            QCOMPARE(player.Wait(std::chrono::seconds(10)), media::SoundOutcome::Failed);
            QVERIFY(!player.lastFailure().empty());
            QCOMPARE(player.Play({}), E_INVALIDARG);

            // A burst of sounds ends with the last one played.
            for (int i = 0; i < 5; ++i) QCOMPARE(player.Play(click), S_OK);
            QCOMPARE(player.Wait(std::chrono::seconds(10)), media::SoundOutcome::Finished);
        }
        // The desktop's player takes the resource (its output falls back to silence without
        // a device) and refuses a sound that does not exist rather than playing a default.
        QVERIFY(platform::PlaySound({144, QString(), true}));
        QVERIFY(!platform::PlaySound({999, QString(), true}));
        QVERIFY(!platform::PlaySound({0, QStringLiteral("/no/such/sound.wav"), true}));
        QVERIFY(platform::PlaySound({144, QString(), false}));
        media::StopMediaFramework();
    }

    void drawnResourcesAreRenderedImages() {
        // Every resource is drawn as SVG and shipped rendered; the program loads the PNG.
        for (int id : {128, 140, 146, 148, 156, 158, 159}) {
            const QString path = platform::ResourcePath("icons", id);
            QVERIFY2(path.endsWith(QLatin1String(".png")), qPrintable(QString::number(id)));
            QCOMPARE(QImage(path).size(), QSize(32, 32));
        }
        QCOMPARE(QImage(platform::ResourcePath("bitmaps", 139)).size(), QSize(48, 48));
        QCOMPARE(platform::LoadCursorResource(141, QPoint(10, 2)).pixmap().size(), QSize(32, 32));
    }

    void helpPagesAreCompleteBesideTheBuiltProgram() {
        const QString program = QStringLiteral(FRAMEWELL_BUILD_DIR "/bin/framewell");
        const QString introduction = platform::HtmlHelpPath(program);
        QVERIFY2(QFileInfo::exists(introduction), qPrintable(introduction));
        QCOMPARE(QFileInfo(introduction).fileName(), QStringLiteral("Introduction.htm"));

        const QString text = readText(introduction);
        for (const char* topic : {"Open Video", "Start Time", "End Time", "Options", "Convert"})
            QVERIFY2(text.contains(QLatin1String(topic)), topic);

        // Every page's local links and images lead somewhere.
        const QDir folder = QFileInfo(introduction).absoluteDir();
        const QRegularExpression reference(
            QStringLiteral("(?:href|src)=\"([^\"#:]+)(?:#[^\"]*)?\""));
        int checked = 0;
        for (const QString& page : folder.entryList({QStringLiteral("*.htm")})) {
            const QString html = readText(folder.filePath(page));
            QVERIFY(html.contains(QLatin1String("<title>")));
            for (auto match = reference.globalMatch(html); match.hasNext();) {
                const QString target = match.next().captured(1);
                QVERIFY2(QFileInfo::exists(folder.filePath(target)),
                         qPrintable(page + QStringLiteral(" -> ") + target));
                ++checked;
            }
        }
        QVERIFY(checked >= 6);
    }

    void installPutsHelpMenuEntryAndIconInPlace() {
        if (!QFileInfo::exists(QStringLiteral(FRAMEWELL_BUILD_DIR "/bin/framewell")))
            QSKIP("The program is not built in this build folder.");
        QTemporaryDir prefix;
        const auto install = testing_support::RunProcess(
            QStringLiteral("cmake"),
            {QStringLiteral("--install"), QStringLiteral(FRAMEWELL_BUILD_DIR),
             QStringLiteral("--prefix"), prefix.path()});
        QVERIFY2(install.exitCode == 0, install.standardError.constData());

        const QString program = prefix.filePath(QStringLiteral("bin/framewell"));
        QVERIFY(QFileInfo(program).isExecutable());
        // Help from the installed program finds the installed pages.
        const QString help = platform::HtmlHelpPath(program);
        QVERIFY2(help.startsWith(QDir(prefix.path()).canonicalPath() +
                                 QStringLiteral("/share/framewell/help/")),
                 qPrintable(help));
        QVERIFY(QFileInfo::exists(help));

        const QString entry =
            readText(prefix.filePath(QStringLiteral("share/applications/framewell.desktop")));
        QVERIFY(entry.startsWith(QLatin1String("[Desktop Entry]\n")));
        const auto valueOf = [&entry](const char* key) {
            const QRegularExpression line(
                QStringLiteral("\n%1=([^\n]*)\n").arg(QLatin1String(key)));
            return line.match(entry).captured(1);
        };
        QCOMPARE(valueOf("Exec"), QFileInfo(program).fileName());
        const QString icon = valueOf("Icon");
        QVERIFY(QFileInfo::exists(
            prefix.filePath(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(icon))));
        for (int size : {16, 32, 48, 256}) {
            const QImage image(prefix.filePath(
                QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(icon)));
            QCOMPARE(image.size(), QSize(size, size));
        }
    }
};

FRAMEWELL_TEST_MAIN(SoundAndResourcesTest)
#include "test_sound_and_resources.moc"
