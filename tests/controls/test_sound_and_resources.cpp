// The button sound through the real media seam, the drawn resources at the screen's density, the
// help pages and what `cmake --install` puts on the desktop.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIcon>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QSvgRenderer>
#include <QTemporaryDir>

#include <cstdlib>

#include "media/core/media_framework.h"
#include "media/playback/sound_device.h"
#include "media/playback/wave_player.h"
#include "platform/resources.h"
#include "platform/shell.h"
#include "platform/sound.h"
#include "support/media_fixtures.h"
#include "support/test_main.h"

namespace {

// An SVG drawn straight at a size in pixels.
QImage RenderedAt(const QString& path, int side) {
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    QSvgRenderer(path).render(&painter);
    return image;
}

// The mean difference of two pictures of one size over all channels, 0 to 255.
double MeanDifference(const QImage& a, const QImage& b) {
    const QImage left = a.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const QImage right = b.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    double sum = 0;
    for (int y = 0; y < left.height(); ++y) {
        for (int x = 0; x < left.width(); ++x) {
            const QRgb p = left.pixel(x, y);
            const QRgb q = right.pixel(x, y);
            sum += std::abs(qRed(p) - qRed(q)) + std::abs(qGreen(p) - qGreen(q)) +
                   std::abs(qBlue(p) - qBlue(q)) + std::abs(qAlpha(p) - qAlpha(q));
        }
    }
    return sum / (4.0 * left.width() * left.height());
}

QString readText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class SoundAndResourcesTest : public QObject {
    Q_OBJECT

private slots:
    void buttonSoundPlaysThroughTheMediaSeam() {
        QFile file(QStringLiteral(":/sounds/hover_click_144.wav"));
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
        {
            // The desktop's device where there is one; without, no output is opened (the
            // audio libraries would say on the terminal that none opens) and nothing plays.
            media::WavePlayer desktop;
            QCOMPARE(desktop.Play(click), S_OK);
            QCOMPARE(desktop.Wait(std::chrono::seconds(10)),
                     media::DesktopHasSoundDevice() ? media::SoundOutcome::Finished
                                                    : media::SoundOutcome::Silent);
        }
        // The desktop's player takes the resource (its output falls back to silence without
        // a device) and refuses a sound that does not exist rather than playing a default.
        QVERIFY(platform::PlaySound({144, QString(), true}));
        QVERIFY(!platform::PlaySound({999, QString(), true}));
        // A file's id is the whole number after the last underscore: 44 is not 144.
        QVERIFY(platform::ResourcePath("sounds", 144).endsWith(QLatin1String("_144.wav")));
        QVERIFY(platform::ResourcePath("sounds", 44).isEmpty());
        QVERIFY(!platform::PlaySound({0, QStringLiteral("/no/such/sound.wav"), true}));
        QVERIFY(platform::PlaySound({144, QString(), false}));
        media::StopMediaFramework();
    }

    void drawnResourcesRenderAtTheScreensDensity() {
        // Icons are drawn as SVG and rendered at the density they are painted at: at twice the
        // density an icon has twice the pixels, and they are the drawing's own, not the
        // 32-pixel picture blown up.
        for (int id : {128, 140, 146, 148, 156, 158, 159}) {
            const QString path = platform::ResourcePath("icons", id);
            QVERIFY2(path.endsWith(QLatin1String(".svg")), qPrintable(QString::number(id)));
            const QIcon icon = platform::LoadIconResource(id);
            const QImage sharp = icon.pixmap(QSize(32, 32), 2.0).toImage();
            QCOMPARE(sharp.size(), QSize(64, 64));
            const QImage drawn = RenderedAt(path, 64);
            const QImage blownUp =
                icon.pixmap(QSize(32, 32), 1.0)
                    .toImage()
                    .scaled(64, 64, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            const double own = MeanDifference(sharp, drawn);
            const double scaled = MeanDifference(blownUp, drawn);
            QVERIFY2(
                own * 4 < scaled,
                qPrintable(QStringLiteral("icon %1: %2 against %3").arg(id).arg(own).arg(scaled)));
        }
        QCOMPARE(platform::LoadBitmapResource(139).deviceIndependentSize(), QSizeF(48, 48));
        QCOMPARE(platform::LoadCursorResource(141, QPoint(10, 2)).pixmap().deviceIndependentSize(),
                 QSizeF(32, 32));
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
        // The file that "Open With" hands over follows the program's name.
        QCOMPARE(valueOf("Exec"), QFileInfo(program).fileName() + QStringLiteral(" %f"));
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
