// framewell-convert's progress as a log and as a terminal see it: one line a second into a
// pipe, one line rewritten in place on a terminal, nothing with --quiet.

#include <QRegularExpression>
#include <QStandardPaths>
#include <QtTest>

#include "support/media_fixtures.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;

namespace {

const QRegularExpression kProgressLine(
    QStringLiteral("^ {0,2}(\\d{1,3})%  +(\\d+\\.\\d) fps  Used Time: \\d\\d:\\d\\d:\\d\\d  "
                   "Left: (\\d\\d:\\d\\d:\\d\\d|--:--:--)$"));

// Enough work for a few seconds: every frame scaled up to four times the size.
QStringList slowConversion(const QString& source, const QString& output) {
    return {QStringLiteral("--size"),
            QStringLiteral("1280x960"),
            QStringLiteral("--video-compressor"),
            QStringLiteral("avenc_mpeg4"),
            QStringLiteral("--audio-compressor"),
            QStringLiteral("none"),
            source,
            output};
}

}  // namespace

class ProgressCliTest : public QObject {
    Q_OBJECT

private:
    TestEnvironment environment;
    QString source;  // 40 s, 320x240

private slots:
    void initTestCase() {
        qputenv("XDG_CONFIG_HOME", environment.settingsFolder().toLocal8Bit());
        ClipSpec spec;
        spec.seconds = 40.0;
        spec.width = 320;
        spec.height = 240;
        source = MakeClip(spec);
        QVERIFY(!source.isEmpty());
    }

    void aPipeGetsOneLineAtATime() {
        const QString output = environment.scratchPath(QStringLiteral("piped.avi"));
        const ProcessResult result = RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH),
                                                slowConversion(source, output), 90000);
        QCOMPARE(result.exitCode, 0);
        const QString text = QString::fromUtf8(result.standardError);
        QVERIFY2(!text.contains(QLatin1Char('\r')), qPrintable(text));

        QList<int> percents;
        bool timeLeftShown = false;
        for (const QString& line : text.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            if (!line.contains(QStringLiteral(" fps "))) continue;
            const QRegularExpressionMatch match = kProgressLine.match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            percents << match.captured(1).toInt();
            if (match.captured(2).toDouble() <= 0.0 && percents.last() > 0)
                QFAIL(qPrintable("no pace for a conversion under way: " + line));
            if (match.captured(3) != QStringLiteral("--:--:--")) timeLeftShown = true;
        }
        QVERIFY2(percents.size() >= 3, qPrintable(text));
        for (int i = 1; i < percents.size(); ++i) QVERIFY(percents[i] >= percents[i - 1]);
        QCOMPARE(percents.count(100), 1);
        QCOMPARE(percents.last(), 100);
        QVERIFY(timeLeftShown);
        QVERIFY(text.endsWith(
            QStringLiteral("Done. Output File: %1     Resolution: 1280*960\n").arg(output)));

        // --quiet: the outcome in the exit code only.
        const QString quiet = environment.scratchPath(QStringLiteral("quiet.avi"));
        QStringList arguments = slowConversion(source, quiet);
        arguments.prepend(QStringLiteral("--quiet"));
        arguments.prepend(QStringLiteral("2"));
        arguments.prepend(QStringLiteral("--end"));
        const ProcessResult silent =
            RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), arguments, 60000);
        QCOMPARE(silent.exitCode, 0);
        QVERIFY2(!silent.standardError.contains("fps") && !silent.standardError.contains("Done."),
                 silent.standardError.constData());
    }

    void aTerminalGetsOneLineRewrittenInPlace() {
        // script(1) runs the converter on a pseudo-terminal of its own.
        const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
        if (script.isEmpty()) QSKIP("script(1) is not installed");
        const QString output = environment.scratchPath(QStringLiteral("terminal.avi"));
        QStringList quoted;
        for (const QString& argument : slowConversion(source, output))
            quoted << QLatin1Char('\'') + argument + QLatin1Char('\'');
        const ProcessResult result =
            RunProcess(script,
                       {QStringLiteral("-qec"),
                        QStringLiteral("'%1' %2").arg(QStringLiteral(FRAMEWELL_CONVERT_PATH),
                                                      quoted.join(' ')),
                        QStringLiteral("/dev/null")},
                       90000);
        QCOMPARE(result.exitCode, 0);
        // The terminal turns each line end into "\r\n"; take those back out first.
        QString text = QString::fromUtf8(result.standardOutput);
        text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));

        const QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        const QStringList progressLines = lines.filter(QStringLiteral(" fps "));
        QCOMPARE(progressLines.size(), 1);  // every update went over the same line
        const QStringList updates =
            progressLines.first().split(QLatin1Char('\r'), Qt::SkipEmptyParts);
        QVERIFY2(updates.size() >= 4, qPrintable(progressLines.first()));
        QVERIFY(progressLines.first().startsWith(QLatin1Char('\r')));
        int previous = 0;
        for (const QString& update : updates) {
            const QRegularExpressionMatch match = kProgressLine.match(update);
            QVERIFY2(match.hasMatch(), qPrintable(update));
            QVERIFY(match.captured(1).toInt() >= previous);
            previous = match.captured(1).toInt();
            QCOMPARE(update.size(), updates.first().size());  // nothing left over when rewritten
        }
        QCOMPARE(previous, 100);
        QCOMPARE(lines.last(),
                 QStringLiteral("Done. Output File: %1     Resolution: 1280*960").arg(output));
    }
};

FRAMEWELL_TEST_MAIN(ProgressCliTest)
#include "test_progress_cli.moc"
