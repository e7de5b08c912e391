// The small rules every subsystem leans on: number conversion, path parts, time texts,
// failure texts, dialog units and the settings store's format.

#include <QFile>
#include <QSettings>

#include "media/reference_time.h"
#include "media/status.h"
#include "platform/c_numbers.h"
#include "platform/dialog_template.h"
#include "platform/dialog_units.h"
#include "platform/paths.h"
#include "platform/settings_store.h"
#include "platform/shell.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace platform;

class PlatformSeamsTest : public QObject {
    Q_OBJECT

private slots:
    void cNumbersReadLikeTheCLibrary() {
        QCOMPARE(CStringToDouble(QStringLiteral("12.5")), 12.5);
        QCOMPARE(CStringToDouble(QStringLiteral("  25.000000")), 25.0);
        QCOMPARE(CStringToDouble(QStringLiteral("29.97fps")), 29.97);
        QCOMPARE(CStringToDouble(QStringLiteral("abc")), 0.0);
        QCOMPARE(CStringToDouble(QString()), 0.0);
        QCOMPARE(CStringToDouble(QStringLiteral("-3")), -3.0);
        QCOMPARE(CStringToInt(QStringLiteral("701")), 701);
        QCOMPARE(CStringToInt(QStringLiteral(" 42px")), 42);
        QCOMPARE(CStringToInt(QStringLiteral("x1")), 0);
        QCOMPARE(CStringToInt(QStringLiteral("-16")), -16);
        QCOMPARE(CStringToInt(QStringLiteral("99999999999")), 2147483647);
    }

    void pathsSplitAtThePlatformsSeparators() {
        QCOMPARE(FolderOf(QStringLiteral("C:\\clips\\movie.avi"), PathStyle::Windows),
                 QStringLiteral("C:\\clips\\"));
        QCOMPARE(FolderOf(QStringLiteral("C:\\movie.avi"), PathStyle::Windows), QStringLiteral("C:\\"));
        QCOMPARE(FolderOf(QStringLiteral("C:/clips/a\\b.avi"), PathStyle::Windows),
                 QStringLiteral("C:/clips/a\\"));
        QCOMPARE(FolderOf(QStringLiteral("movie.avi"), PathStyle::Windows), QString());
        QCOMPARE(FolderOf(QStringLiteral("/home/u/movie.avi"), PathStyle::Posix),
                 QStringLiteral("/home/u/"));
        // A backslash is an ordinary character in a POSIX file name.
        QCOMPARE(FolderOf(QStringLiteral("/tmp/a\\b.avi"), PathStyle::Posix), QStringLiteral("/tmp/"));
        QCOMPARE(FileNameOf(QStringLiteral("C:\\clips\\movie.avi"), PathStyle::Windows),
                 QStringLiteral("movie.avi"));
        QCOMPARE(FileNameOf(QStringLiteral("movie.avi")), QStringLiteral("movie.avi"));
    }

    void helpCommandLineNamesTheProgramsFolder() {
        QCOMPARE(BuildHelpCommandLine(QStringLiteral("D:\\Tools\\framewell.exe"), PathStyle::Windows),
                 QStringLiteral("hh.exe D:\\Tools\\help.chm::/Introduction.htm"));
        QCOMPARE(BuildHelpCommandLine(QStringLiteral("framewell.exe"), PathStyle::Windows),
                 QStringLiteral("hh.exe help.chm::/Introduction.htm"));
        QCOMPARE(BuildHelpCommandLine(QStringLiteral("/opt/framewell/bin/framewell"), PathStyle::Posix),
                 QStringLiteral("hh.exe /opt/framewell/bin/help.chm::/Introduction.htm"));
    }

    void clockTextsTruncateToWholeSeconds() {
        QCOMPARE(FormatClock(0), std::string("00:00:00"));
        QCOMPARE(FormatClock(957'000'000), std::string("00:01:35"));
        QCOMPARE(FormatClock(9'999'999), std::string("00:00:00"));
        QCOMPARE(FormatClock(SecondsToReferenceTime(3725)), std::string("01:02:05"));
        QCOMPARE(FormatClock(SecondsToReferenceTime(100 * 3600)), std::string("100:00:00"));
    }

    void failureTextsAreCutForTheirBox() {
        media::SetLastError(E_FAIL, std::string(400, 'x'));
        QCOMPARE(media::ErrorText(E_FAIL).size(), size_t(159));
        // A text of another code is not shown for this one.
        QVERIFY(media::ErrorText(E_OUTOFMEMORY) != media::LastErrorText());
        // UTF-8 is never cut inside a character.
        std::string umlauts;
        for (int i = 0; i < 100; ++i) umlauts += "\xc3\xa4";
        media::SetLastError(E_FAIL, umlauts);
        const std::string cut = media::ErrorText(E_FAIL);
        QVERIFY(cut.size() <= 159);
        QVERIFY(QString::fromUtf8(cut).size() == int(cut.size() / 2));
        QCOMPARE(media::FormatStatus(E_FAIL), std::string("0x80004005"));
        media::ClearLastError();
    }

    void dialogUnitsScaleByTheFontsBaseUnits() {
        const DialogBaseUnits base{6, 13};
        QCOMPARE(DialogUnitsToPixels(QRect(9, 5, 46, 32), base), QRect(14, 8, 69, 52));
        QCOMPARE(DialogUnitsToPixels(QSize(257, 193), base), QSize(386, 314));
        const DialogBaseUnits real = BaseUnitsOf(DialogFont(QStringLiteral("Microsoft Sans Serif"), 8));
        QVERIFY(real.averageCharWidth > 0 && real.charHeight > 0);
    }

    void dialogTemplatesLoadFromResources() {
        const auto main = LoadDialogTemplate(QStringLiteral(":/dialogs/102.json"));
        QVERIFY(main.has_value());
        QCOMPARE(main->caption, QStringLiteral("Framewell"));
        QCOMPARE(main->size, QSize(257, 193));
        QVERIFY(main->control(1055) != nullptr);
        QCOMPARE(main->control(1055)->className, QStringLiteral("PositionSlider"));
        QVERIFY(!LoadDialogTemplate(QStringLiteral(":/dialogs/none.json")).has_value());
    }

    void settingsKeepNumbersAndTextsAcrossStores() {
        testing_support::TestEnvironment environment;
        SettingsStore writer(QStringLiteral("Orvanta"), QStringLiteral("framewell"));
        writer.writeInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), -1);
        writer.writeString(QStringLiteral("Settings"), QStringLiteral("OutputName"),
                           QStringLiteral("/tmp/out put.avi"));
        writer.flush();
        // A new store, as the next run opens it.
        const SettingsStore reader(QStringLiteral("Orvanta"), QStringLiteral("framewell"));
        QCOMPARE(reader.readInt(QStringLiteral("DexVideoCompress"), QStringLiteral("CompressorNumber"), -2), -1);
        QCOMPARE(reader.readString(QStringLiteral("Settings"), QStringLiteral("OutputName"), QString()),
                 QStringLiteral("/tmp/out put.avi"));
        QCOMPARE(reader.readInt(QStringLiteral("Settings"), QStringLiteral("Absent"), 7), 7);
        // Where the user's settings live: an INI file under the maker's folder.
        QFile file(environment.settingsFolder() + QStringLiteral("/Orvanta/framewell.conf"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        QVERIFY(text.contains("[DexVideoCompress]"));
        QVERIFY(text.contains("CompressorNumber=-1"));
    }
};

FRAMEWELL_TEST_MAIN(PlatformSeamsTest)
#include "test_platform_seams.moc"
