// What becomes of the output file when a conversion cannot be what was asked, through
// framewell-convert and the main dialog: an existing file survives a full disk byte for byte
// and nothing else is left beside it; a folder, a device or a named pipe is refused by name
// and stays as it was; a size that the compressor or the AVI multiplexer cannot take is
// refused before anything is written, naming the limit, and the report gives what the file
// holds; a stored frame rate that no conversion could use is not used.

#include <QDir>
#include <QFile>
#include <QLabel>

#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <cmath>
#include <memory>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "engine/conversion_engine.h"
#include "engine/conversion_runner.h"
#include "platform/settings_store.h"
#include "settings/compressor_catalogue.h"
#include "support/avi_checks.h"
#include "support/main_dialog_driver.h"
#include "support/media_fixtures.h"
#include "support/scratch_mount.h"
#include "support/test_environment.h"
#include "support/test_main.h"

using namespace testing_support;
using namespace Qt::StringLiterals;

namespace {

const QByteArray kEarlier = QByteArray("an earlier conversion ").repeated(2000);

// Everything in a folder, hidden names included: a conversion leaves nothing of its own.
QStringList Entries(const QString& folder) {
    return QDir(folder).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

// Compressors named outright, so that no trial of the catalogue speaks up on standard error;
// a later --video-compressor wins.
ProcessResult Convert(const QStringList& arguments) {
    const QStringList named{u"--video-compressor"_s, u"avenc_mpeg4"_s, u"--audio-compressor"_s,
                            u"none"_s};
    return RunProcess(QStringLiteral(FRAMEWELL_CONVERT_PATH), named + arguments, 60000);
}

// The kind of node at path, as lstat sees it; 0 when there is none.
mode_t KindOf(const QString& path) {
    struct stat info = {};
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? (info.st_mode & S_IFMT) : 0;
}

}  // namespace

class OutputSafetyTest : public QObject {
    Q_OBJECT

    std::unique_ptr<TestEnvironment> environment;
    std::unique_ptr<ConverterDialog> dialog;
    QString clip;  // 3 s, 160x120, 25 fps, with sound

    QString messages() const { return environment->messages.texts().join('|'); }
    QString status() const {
        return DialogControl<QLabel>(*dialog, MainDialogIds::kStatusLine)->text();
    }

    void openDialog(const QString& output) {
        dialog = std::make_unique<ConverterDialog>();
        dialog->show();
        environment->files.openAnswers.push_back(clip);
        Press(*dialog, MainDialogIds::kOpenVideo);
        QVERIFY(QTest::qWaitFor([this] { return !dialog->isOpeningVideo(); }, 30000));
        QCOMPARE(dialog->videoClips().count, 1);
        ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.outputName = output; });
        environment->messages.clear();
    }

    // Convert in the dialog, every question answered Yes, until it is idle again.
    void convertInDialog() {
        Press(*dialog, MainDialogIds::kConvert);
        QVERIFY(QTest::qWaitFor(
            [this] {
                return !dialog->isConverting() &&
                       DialogControl<HoverButton>(*dialog, MainDialogIds::kConvert)->isEnabled() &&
                       !(dialog->conversion() && dialog->conversion()->SettingUp());
            },
            60000));
    }

private slots:
    void initTestCase() {
        environment = std::make_unique<TestEnvironment>();
        // The converter reads the dialog's settings branch: the test's own, not a user's.
        qputenv("XDG_CONFIG_HOME", environment->settingsFolder().toLocal8Bit());
        clip = MakeClip(ClipSpec{});
        QVERIFY(!clip.isEmpty());
    }

    void cleanup() {
        dialog.reset();
        environment->messages.clear();
    }

    void cleanupTestCase() { environment.reset(); }

    // The disk fills up while the earlier output is being replaced: that file is there
    // afterwards byte for byte, the failure names it, and nothing else is left in the folder.
    void aFullDiskKeepsTheEarlierFile() {
        ScratchMount disk(environment->scratchPath(u"small disk"_s), 1 << 20);
        if (!disk.failure.isEmpty()) QSKIP(qPrintable(disk.failure));
        const QString earlier = disk.folder + u"/kept.avi"_s;
        QVERIFY(WriteFile(earlier, kEarlier));

        // Uncompressed, a second of pictures fills the disk.
        const ProcessResult run = Convert(
            {u"--quiet"_s, u"--overwrite"_s, u"--video-compressor"_s, u"none"_s, clip, earlier});
        QCOMPARE(run.exitCode, 1);
        const QString errors = QString::fromUtf8(run.standardError);
        QVERIFY2(errors.contains(u"framewell-convert: the conversion failed: "_s + earlier +
                                 u": No space left"_s),
                 qPrintable(errors));
        QCOMPARE(ReadFile(earlier), kEarlier);
        QCOMPARE(Entries(disk.folder), QStringList{u"kept.avi"_s});

        openDialog(earlier);
        ChangeOutput(*dialog, [&](OutputSettings& settings) { settings.videoCompressionOn = 0; });
        convertInDialog();
        QVERIFY2(environment->messages.texts().value(0).endsWith(u"Do you want to replace it?"_s),
                 qPrintable(messages()));
        QVERIFY2(status().startsWith(u"Conversion failed."_s), qPrintable(status()));
        QVERIFY2(environment->messages.texts().last().contains(u"No space left"_s),
                 qPrintable(messages()));
        QCOMPARE(ReadFile(earlier), kEarlier);
        QCOMPARE(Entries(disk.folder), QStringList{u"kept.avi"_s});
    }

    // A replaced file keeps its owner's permissions, through --overwrite and the dialog's Yes:
    // the finished file is moved over it, and a private file must not come back readable by
    // everyone.
    void aReplacedFileKeepsItsMode() {
        const struct {
            const char* name;
            QFile::Permissions mode;
            bool inDialog;
        } cases[] = {
            {"overwrite.avi", QFile::ReadOwner | QFile::WriteOwner, false},
            {"answered-yes.avi", QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup, true},
        };
        for (const auto& replaced : cases) {
            const QString path = environment->scratchPath(QString::fromLatin1(replaced.name));
            QVERIFY(WriteFile(path, kEarlier));
            QVERIFY(QFile::setPermissions(path, replaced.mode));
            if (replaced.inDialog) {
                openDialog(path);
                convertInDialog();
                QVERIFY2(status().startsWith(u"Done."_s), qPrintable(status()));
            } else {
                QCOMPARE(Convert({u"--quiet"_s, u"--overwrite"_s, clip, path}).exitCode, 0);
            }
            QVERIFY(ReadFile(path) != kEarlier);
            // The owner's and everyone's bits; Qt adds the caller's own as "user" bits.
            const QFile::Permissions userBits = QFile::ReadUser | QFile::WriteUser | QFile::ExeUser;
            QCOMPARE(QFile::permissions(path) & ~userBits, replaced.mode);
        }
    }

    // Only a regular file is ever replaced. A named pipe or a device in the output's place is
    // refused by name before anything is written, and left as it was.
    void pipesAndDevicesAreRefusedByName() {
        const QString folder = environment->scratchPath(u"nodes"_s);
        QVERIFY(QDir().mkpath(folder));
        const QString pipe = folder + u"/pipe.avi"_s;
        QCOMPARE(::mkfifo(QFile::encodeName(pipe).constData(), 0644), 0);
        QList<std::tuple<QString, mode_t, QString>> nodes{{pipe, S_IFIFO, u"named pipe"_s}};
        // The null device's numbers, in a folder of the test's own: if it were replaced, only
        // this copy would go.
        const QString device = folder + u"/device.avi"_s;
        if (::mknod(QFile::encodeName(device).constData(), S_IFCHR | 0644, makedev(1, 3)) == 0)
            nodes.append({device, S_IFCHR, u"device"_s});

        for (const auto& [node, kind, word] : nodes) {
            const ProcessResult run = Convert({u"--quiet"_s, u"--overwrite"_s, clip, node});
            QCOMPARE(run.exitCode, 1);
            QCOMPARE(QString::fromUtf8(run.standardError),
                     u"framewell-convert: %1: It is a %2, not a file.\n"_s.arg(node, word));
            QCOMPARE(KindOf(node), kind);

            openDialog(node);
            Press(*dialog, MainDialogIds::kConvert);
            QCOMPARE(environment->messages.boxes.size(), 1);  // no question comes first
            const QString text = environment->messages.boxes[0].text;
            QVERIFY2(text.contains(QDir::toNativeSeparators(node)) && text.contains(word),
                     qPrintable(text));
            QVERIFY(!dialog->conversion());
            QCOMPARE(KindOf(node), kind);
        }
        QCOMPARE(Entries(folder).size(), nodes.size());
        if (nodes.size() == 1)
            QSKIP("No device node could be made here; only the pipe was checked.");
    }

    // A size that the compressor or the multiplexer cannot take is refused before anything is
    // written, with one line that names the limit; a size they take comes out exactly as
    // asked, and the report says what the file holds.
    void sizesTheCompressorCannotTakeAreRefused() {
        const QString output = environment->scratchPath(u"refused.avi"_s);
        const QList<QPair<QStringList, QString>> refusals{
            {{u"--size"_s, u"8000x200"_s},
             u"The AVI multiplexer takes frames of 16x16 to 4096x4096"_s},
            {{u"--size"_s, u"99999x99999"_s, u"--video-compressor"_s, u"none"_s},
             u"The output size 99992*99992 is too large"_s},
            {{u"--size"_s, u"320x240"_s, u"--video-compressor"_s, u"avenc_h263"_s},
             u"takes only 128x96, 176x144, 352x288, 704x576, 1408x1152, not 320x240 at 25 fps."_s},
        };
        for (const auto& [options, limit] : refusals) {
            const ProcessResult run = Convert(options + QStringList{clip, output});
            const QString errors = QString::fromUtf8(run.standardError);
            QCOMPARE(run.exitCode, 1);
            QVERIFY2(errors.startsWith(u"framewell-convert: "_s) && errors.contains(limit) &&
                         errors.count(u'\n') == 1,
                     qPrintable(errors));
            QVERIFY(!QFile::exists(output));
        }

        const ProcessResult run = Convert(
            {u"--size"_s, u"176x144"_s, u"--video-compressor"_s, u"avenc_h263"_s, clip, output});
        QCOMPARE(run.exitCode, 0);
        QVERIFY2(run.standardError.contains("Done. Output File: " + output.toUtf8() +
                                            "     Resolution: 176*144\n"),
                 run.standardError.constData());
        QVERIFY2(StreamSummary(output).startsWith(u"h263 H263 yuv420p 176x144 25/1 75 frames"_s),
                 qPrintable(StreamSummary(output)));

        // The dialog names the step as it always did, then the limit.
        QVERIFY(QFile::remove(output));
        openDialog(output);
        ChangeOutput(*dialog, [&](OutputSettings& settings) {
            settings.videoCompressor =
                CompressorHandle{"avenc_h263", u"H.263"_s, media::EncoderKind::Video};
            settings.videoCompressionOn = 1;
        });
        convertInDialog();
        QCOMPARE(environment->messages.texts().value(0),
                 u"failed pBuilder->RenderStream( NULL, NULL, pPin, NULL, pMux )"_s);
        QVERIFY2(environment->messages.texts().value(1).contains(u"176x144"_s),
                 qPrintable(messages()));
        QVERIFY(!status().startsWith(u"Done."_s));
        QVERIFY(!QFile::exists(output));
    }

    // A stored custom frame rate of 1e308 once made a conversion that never ended. It reads as
    // the default rate, the conversion finishes, and the store keeps the text until the options
    // are confirmed.
    void anAbsurdStoredRateIsNotUsed() {
        platform::SettingsStore store;
        store.writeInt(u"Settings"_s, u"OutputFrameRateIndex"_s, 6);
        store.writeString(u"Settings"_s, u"OutputFrameRate"_s, u"1e308"_s);
        const QString output = environment->scratchPath(u"stored rate.avi"_s);
        openDialog(output);
        QCOMPARE(dialog->settings().outputFrameRate, 23.976);
        convertInDialog();
        QVERIFY2(status().startsWith(u"Done."_s), qPrintable(status()));
        QCOMPARE(FinishedFrames(output), static_cast<int>(std::ceil(3 * 23.976)));
        QCOMPARE(store.readString(u"Settings"_s, u"OutputFrameRate"_s, {}), u"1e308"_s);
    }
};

FRAMEWELL_TEST_MAIN(OutputSafetyTest)
#include "test_output_safety.moc"
