// framewell-convert on input it cannot convert: each one ends in bounded time with a failure
// exit code and a message that names the file and what is wrong, writes no output, and leaves an
// existing output file alone even when told to overwrite it. Valid files at awkward paths, and
// marks that make no span, are handled as a user would expect.

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <optional>

#include "bad_input_files.h"
#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace reliability_tests;
using testing_support::ProcessResult;
using testing_support::RunProcess;
using testing_support::TestEnvironment;

namespace {

// Probing gives up after 5 s; a run that takes several times that is stuck.
constexpr qint64 kRunBoundMs = 20000;

struct Run {
    ProcessResult result;
    qint64 milliseconds = 0;
    QString errors() const { return QString::fromUtf8(result.standardError); }
};

// A named encoder and no audio encoder: the catalogue's trials are not what is tested here.
Run Convert(QStringList arguments) {
    arguments.prepend(QStringLiteral("--quiet"));
    arguments.prepend(QStringLiteral("none"));
    arguments.prepend(QStringLiteral("--audio-compressor"));
    arguments.prepend(QStringLiteral("avenc_mpeg4"));
    arguments.prepend(QStringLiteral("--video-compressor"));
    QElapsedTimer clock;
    clock.start();
    Run run;
    run.result = RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments, 60000);
    run.milliseconds = clock.elapsed();
    return run;
}

QByteArray Contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class BadInputConvertTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<BadInputFiles> files;
    QString scratch;

    QString makeBadFile(const QString& kind) const {
        const BadInputFiles& f = *files;
        if (kind == QLatin1String("zero bytes")) return f.zeroBytes();
        if (kind == QLatin1String("noise named .mpg")) return f.randomBytes(QStringLiteral("mpg"));
        if (kind == QLatin1String("noise named .avi")) return f.randomBytes(QStringLiteral("avi"));
        if (kind == QLatin1String("noise named .wmv")) return f.randomBytes(QStringLiteral("wmv"));
        if (kind == QLatin1String("text named .avi")) return f.textRenamedAvi();
        if (kind == QLatin1String("mp4 without index")) return f.mp4WithoutIndex();
        if (kind == QLatin1String("avi without frames")) return f.headerOnlyAvi();
        if (kind == QLatin1String("sound only")) return f.audioOnlyAvi();
        if (kind == QLatin1String("folder")) return f.folderNamedAvi();
        if (kind == QLatin1String("missing")) return f.missing();
        if (kind == QLatin1String("named pipe")) return f.namedPipe();
        if (kind == QLatin1String("unreadable")) return f.unreadable();
        return {};
    }

private slots:
    void initTestCase() {
        environment = std::make_unique<TestEnvironment>();
        // The converter reads the dialog's settings branch: the test's own, not a user's.
        qputenv("XDG_CONFIG_HOME", environment->settingsFolder().toLocal8Bit());
        scratch = QFileInfo(environment->scratchPath(QStringLiteral("x"))).absolutePath();
        files = std::make_unique<BadInputFiles>(scratch);
        QVERIFY(!BadInputFiles::validClip().isEmpty());
    }

    void badInputFailsAndWritesNothing_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");  // what the message must say besides the name
        QTest::addColumn<bool>("asUnprivilegedUser");
        auto row = [](const char* kind, const char* reason, bool unprivileged = false) {
            QTest::newRow(kind) << QString::fromLatin1(kind) << QString::fromLatin1(reason)
                                << unprivileged;
        };
        row("zero bytes", "empty");
        row("noise named .mpg", "");
        row("noise named .avi", "");
        row("noise named .wmv", "");
        row("text named .avi", "");
        row("mp4 without index", "");
        row("avi without frames", "");
        row("sound only", "no video");
        row("folder", "folder");
        row("missing", "does not exist");
        row("named pipe", "not a regular file");
        row("unreadable", "not allowed to read", true);
    }

    // Nothing convertible: exit code 1, the input named on standard error with the reason, no
    // output file, and an existing output file untouched although --overwrite was given.
    void badInputFailsAndWritesNothing() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QFETCH(bool, asUnprivilegedUser);
        const QString input = makeBadFile(kind);
        QVERIFY2(!input.isEmpty(), "the bad file could not be made");

        const QString fresh = QDir(scratch).filePath(QStringLiteral("fresh.avi"));
        const QString precious = QDir(scratch).filePath(QStringLiteral("precious.avi"));
        QFile::remove(fresh);
        {
            QFile file(precious);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write("an earlier conversion");
        }

        Run first;
        Run second;
        {
            std::optional<AsUnprivilegedUser> nobody;
            if (asUnprivilegedUser) {
                nobody.emplace();
                if (!nobody->active() || CanRead(input))
                    QSKIP("The test cannot take away its own right to read a file.");
            }
            first = Convert({input, fresh});
            second = Convert({QStringLiteral("--overwrite"), input, precious});
        }
        for (const Run& run : {first, second}) {
            QVERIFY2(!run.result.timedOut, "framewell-convert did not end");
            QVERIFY2(run.milliseconds < kRunBoundMs, qPrintable(QString::number(run.milliseconds)));
            QCOMPARE(run.result.exitCode, 1);
            QVERIFY2(run.errors().contains(input), qPrintable(run.errors()));
            QVERIFY2(run.errors().contains(reason), qPrintable(run.errors()));
        }
        QVERIFY(!QFile::exists(fresh));
        QCOMPARE(Contents(precious), QByteArray("an earlier conversion"));
    }

    // Marks that make no span are refused before any file is touched.
    void marksWithoutASpanWriteNothing() {
        const QString input = BadInputFiles::validClip();
        const QString output = QDir(scratch).filePath(QStringLiteral("no span.avi"));
        for (const QStringList& marks :
             {QStringList{QStringLiteral("--start"), QStringLiteral("2"), QStringLiteral("--end"),
                          QStringLiteral("1")},
              QStringList{QStringLiteral("--start"), QStringLiteral("1.5"), QStringLiteral("--end"),
                          QStringLiteral("1.5")}}) {
            const Run run = Convert(marks + QStringList{input, output});
            QCOMPARE(run.result.exitCode, 2);
            QVERIFY2(run.errors().contains(QStringLiteral("--end must come after --start")),
                     qPrintable(run.errors()));
            QVERIFY(!QFile::exists(output));
        }
    }

    // Blanks, letters beyond ASCII and a path longer than the dialog's stored names are all
    // just file names to the converter: the whole clip comes out, under the name asked for.
    void awkwardPathsConvert() {
        const QString spaced = files->spacedNonAsciiClip();
        const QString longInput = files->clipWithPathLength(300);
        QVERIFY(!spaced.isEmpty() && !longInput.isEmpty());
        const QString spacedOutput =
            QFileInfo(spaced).absolutePath() + QStringLiteral("/Sortie é 夏.avi");
        QString longOutput = longInput;
        longOutput.replace(QStringLiteral(".avi"), QStringLiteral(" out.avi"));
        QVERIFY(longOutput.size() > 259);
        for (const auto& [input, output] :
             {std::pair{spaced, spacedOutput}, std::pair{longInput, longOutput}}) {
            const Run run = Convert({input, output});
            QVERIFY2(run.result.exitCode == 0, qPrintable(run.errors()));
            QCOMPARE(testing_support::CountVideoFrames(output), 75);
        }
    }
};

FRAMEWELL_TEST_MAIN(BadInputConvertTest)
#include "test_bad_input_convert.moc"
