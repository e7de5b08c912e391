// The small rules every subsystem leans on: number conversion, path parts, time texts,
// failure texts and dialog units.

#include "media/core/reference_time.h"
#include "media/core/status.h"
#include "platform/dialog_units.h"
#include "platform/message_boxes.h"
#include "platform/number_parsing.h"
#include "platform/paths.h"
#include "platform/shell.h"
#include "support/test_main.h"

#include <QTemporaryFile>

#include <unistd.h>
#include <cstdio>

using namespace platform;

class PlatformSeamsTest : public QObject {
    Q_OBJECT

private slots:
    // Leading blanks skipped, trailing text ignored, nothing readable is 0, overflow clamps.
    void cNumbersReadLikeTheCLibrary() {
        QCOMPARE(CStringToDouble(QStringLiteral("  25.000000")), 25.0);
        QCOMPARE(CStringToDouble(QStringLiteral("29.97fps")), 29.97);
        QCOMPARE(CStringToDouble(QStringLiteral("abc")), 0.0);
        QCOMPARE(CStringToInt(QStringLiteral(" 42px")), 42);
        QCOMPARE(CStringToInt(QStringLiteral("x1")), 0);
        QCOMPARE(CStringToInt(QStringLiteral("99999999999")), 2147483647);
    }

    void pathsAndTheHelpCommandLine() {
        QCOMPARE(FolderOf(QStringLiteral("C:/clips/a\\b.avi"), PathStyle::Windows),
                 QStringLiteral("C:/clips/a\\"));
        QCOMPARE(FolderOf(QStringLiteral("movie.avi"), PathStyle::Windows), QString());
        // A backslash is an ordinary character in a POSIX file name.
        QCOMPARE(FolderOf(QStringLiteral("/tmp/a\\b.avi"), PathStyle::Posix),
                 QStringLiteral("/tmp/"));
        QCOMPARE(FileNameOf(QStringLiteral("C:\\clips\\movie.avi"), PathStyle::Windows),
                 QStringLiteral("movie.avi"));

        QCOMPARE(
            BuildHelpCommandLine(QStringLiteral("D:\\Tools\\framewell.exe"), PathStyle::Windows),
            QStringLiteral("hh.exe D:\\Tools\\help.chm::/Introduction.htm"));
        QCOMPARE(BuildHelpCommandLine(QStringLiteral("framewell.exe"), PathStyle::Windows),
                 QStringLiteral("hh.exe help.chm::/Introduction.htm"));
    }

    void clockTextsTruncateToWholeSeconds() {
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
        QCOMPARE(QString::fromUtf8(cut).size(), qsizetype(cut.size() / 2));
        media::ClearLastError();
    }

    // A program that installed no boxes of its own prints them and answers every question No,
    // so that nothing is replaced unasked.
    void withoutBoxesOfItsOwnNothingIsAnsweredYes() {
        InstallMessageBoxes(nullptr);
        QTemporaryFile captured;
        QVERIFY(captured.open());
        std::fflush(stderr);
        const int saved = ::dup(STDERR_FILENO);
        ::dup2(captured.handle(), STDERR_FILENO);
        const BoxAnswer answer = ShowMessage(nullptr, QStringLiteral("out.avi exists. Replace it?"),
                                             QStringLiteral("Warning"), BoxButtons::YesNo);
        std::fflush(stderr);
        ::dup2(saved, STDERR_FILENO);
        ::close(saved);
        QCOMPARE(answer, BoxAnswer::No);
        captured.seek(0);
        QCOMPARE(captured.readAll(), QByteArray("Warning: out.avi exists. Replace it?\n"));
    }

    void dialogUnitsRoundLikeTheSystem() {
        const DialogBaseUnits base{6, 13};
        QCOMPARE(DialogUnitsToPixels(QRect(9, 5, 46, 32), base), QRect(14, 8, 69, 52));
        QCOMPARE(DialogUnitsToPixels(QSize(257, 193), base), QSize(386, 314));
    }
};

FRAMEWELL_TEST_MAIN(PlatformSeamsTest)
#include "test_platform_seams.moc"
