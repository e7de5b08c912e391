#include "cli/convert_options.h"

#include <QFileInfo>
#include <QRegularExpression>

#include <cmath>
#include <limits>

namespace {

// Seconds as ReferenceTime, to the nearest 100 ns; nullopt for anything but a finite,
// non-negative number that fits.
std::optional<ReferenceTime> parseSeconds(const QString& text) {
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || !std::isfinite(seconds) || seconds < 0.0) return std::nullopt;
    const double units = std::round(seconds * kReferenceTimePerSecond);
    if (units > static_cast<double>(std::numeric_limits<ReferenceTime>::max() / 2))
        return std::nullopt;
    return static_cast<ReferenceTime>(units);
}

// "25", "29.97" or "30000/1001".
std::optional<double> parseRate(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('/'));
    bool ok = false;
    double rate = parts.value(0).toDouble(&ok);
    if (!ok) return std::nullopt;
    if (parts.size() == 2) {
        const double denominator = parts[1].toDouble(&ok);
        if (!ok || denominator <= 0.0) return std::nullopt;
        rate /= denominator;
    } else if (parts.size() > 2) {
        return std::nullopt;
    }
    if (!std::isfinite(rate) || rate < 0.001 || rate > 1000.0) return std::nullopt;
    return rate;
}

}  // namespace

int RoundOutputDimension(int pixels) {
    return std::max(16, pixels / 8 * 8);
}

namespace {

// The options that take no value; nullptr for any other name.
bool* flagTarget(ConvertOptions& options, const QString& name) {
    if (name == QLatin1String("--help")) return &options.help;
    if (name == QLatin1String("--version")) return &options.version;
    if (name == QLatin1String("--list-compressors")) return &options.listCompressors;
    if (name == QLatin1String("--list-tracks")) return &options.listTracks;
    if (name == QLatin1String("--overwrite")) return &options.overwrite;
    if (name == QLatin1String("--quiet")) return &options.quiet;
    return nullptr;
}

// Sets the option NAME to TEXT; nullopt where NAME is no option that takes a value, the
// message for the user where TEXT does not fit it, empty otherwise.
std::optional<QString> applyValueOption(ConvertOptions& options, const QString& name,
                                        const QString& text) {
    if (name == QLatin1String("--start") || name == QLatin1String("--end")) {
        const std::optional<ReferenceTime> mark = parseSeconds(text);
        if (!mark) return name + QStringLiteral(" takes seconds, not \"%1\"").arg(text);
        (name == QLatin1String("--start") ? options.startMark : options.endMark) = mark;
    } else if (name == QLatin1String("--size")) {
        if (text.compare(QLatin1String("original"), Qt::CaseInsensitive) == 0) {
            options.size.reset();
        } else {
            static const QRegularExpression pattern(QStringLiteral("^(\\d{1,5})[xX](\\d{1,5})$"));
            const QRegularExpressionMatch match = pattern.match(text);
            if (!match.hasMatch())
                return QStringLiteral("--size takes WIDTHxHEIGHT or original, not \"%1\"")
                    .arg(text);
            options.size = QSize(RoundOutputDimension(match.captured(1).toInt()),
                                 RoundOutputDimension(match.captured(2).toInt()));
        }
    } else if (name == QLatin1String("--fps")) {
        if (text.compare(QLatin1String("original"), Qt::CaseInsensitive) == 0) {
            options.frameRate.reset();
        } else {
            options.frameRate = parseRate(text);
            if (!options.frameRate)
                return QStringLiteral(
                           "--fps takes a rate from 0.001 to 1000 or original, not \"%1\"")
                    .arg(text);
        }
    } else if (name == QLatin1String("--resize")) {
        if (text == QLatin1String("preserve"))
            options.resizeMode = 2;
        else if (text == QLatin1String("stretch"))
            options.resizeMode = 0;
        else
            return QStringLiteral("--resize takes preserve or stretch, not \"%1\"").arg(text);
    } else if (name == QLatin1String("--audio-track")) {
        bool ok = false;
        options.audioTrack = text.toInt(&ok);
        if (!ok || options.audioTrack < 1)
            return QStringLiteral("--audio-track takes a track number from 1, not \"%1\"").arg(text);
    } else if (name == QLatin1String("--subtitles")) {
        // A number is a track of INPUT; anything else names a file ("./2" for a file named 2).
        static const QRegularExpression number(QStringLiteral("^\\d+$"));
        if (number.match(text).hasMatch()) {
            options.subtitleTrack = text.toInt();
            options.subtitleFile.clear();
            if (options.subtitleTrack < 1)
                return QStringLiteral("--subtitles takes a track number from 1 or a file, not \"%1\"")
                    .arg(text);
        } else if (text.isEmpty()) {
            return QStringLiteral("--subtitles takes a track number from 1 or a file");
        } else {
            options.subtitleFile = text;
            options.subtitleTrack = 0;
        }
    } else if (name == QLatin1String("--deinterlace")) {
        if (text == QLatin1String("auto"))
            options.deinterlace = media::DeinterlaceMode::Auto;
        else if (text == QLatin1String("on"))
            options.deinterlace = media::DeinterlaceMode::On;
        else if (text == QLatin1String("off"))
            options.deinterlace = media::DeinterlaceMode::Off;
        else
            return QStringLiteral("--deinterlace takes auto, on or off, not \"%1\"").arg(text);
    } else if (name == QLatin1String("--target-size")) {
        bool ok = false;
        const double megabytes = text.toDouble(&ok);
        if (!ok || !std::isfinite(megabytes) || megabytes <= 0.0 || megabytes > 1e7)
            return QStringLiteral("--target-size takes megabytes (1 MB = 1,000,000 bytes), not "
                                  "\"%1\"")
                .arg(text);
        options.targetSizeMegabytes = megabytes;
    } else if (name == QLatin1String("--jobs")) {
        bool ok = false;
        options.jobs = text.toInt(&ok);
        if (!ok || options.jobs < 1 || options.jobs > kMostJobs)
            return QStringLiteral("--jobs takes a number from 1 to %1, not \"%2\"")
                .arg(kMostJobs)
                .arg(text);
    } else if (name == QLatin1String("--video-compressor")) {
        options.videoCompressor = text;
    } else if (name == QLatin1String("--audio-compressor")) {
        options.audioCompressor = text;
    } else {
        return std::nullopt;
    }
    return QString();
}

// Takes INPUT and OUTPUT from the words that are not options and checks the whole; the
// message for the user where they do not make a conversion, empty otherwise.
QString finishOptions(ConvertOptions& options, const QStringList& positional) {
    if (options.help || options.version || options.listCompressors) {
        if (!positional.isEmpty() && !options.help && !options.version)
            return QStringLiteral("--list-compressors takes no files");
        return {};
    }
    if (options.listTracks) {
        if (positional.size() != 1) return QStringLiteral("--list-tracks takes one INPUT");
        options.input = positional[0];
        options.inputs = positional;
        return options.input.isEmpty() ? QStringLiteral("empty file name") : QString();
    }
    if (positional.size() < 2) return QStringLiteral("expected INPUT and OUTPUT, or INPUT... FOLDER");
    options.inputs = positional.mid(0, positional.size() - 1);
    options.input = options.inputs.front();
    options.output = positional.back();
    options.toFolder = positional.size() > 2 || QFileInfo(options.output).isDir();
    for (const QString& input : options.inputs)
        if (input.isEmpty()) return QStringLiteral("empty file name");
    if (options.output.isEmpty()) return QStringLiteral("empty file name");
    if (options.startMark && options.endMark && *options.endMark <= *options.startMark)
        return QStringLiteral("--end must come after --start");
    return {};
}

}  // namespace

ParsedCommandLine ParseConvertArguments(const QStringList& arguments) {
    ParsedCommandLine parsed;
    ConvertOptions& options = parsed.options;
    QStringList positional;
    auto fail = [&parsed](const QString& error) {
        parsed.error = error;
        return parsed;
    };

    for (int i = 0; i < arguments.size(); ++i) {
        QString argument = arguments[i];
        if (argument == QLatin1String("--")) {
            positional += arguments.mid(i + 1);
            break;
        }
        if (!argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            positional << argument;
            continue;
        }
        // Short options are none of ours; a file whose name begins with "-" follows "--".
        if (!argument.startsWith(QLatin1String("--")))
            return fail(QStringLiteral("unknown option ") + argument);
        QString value;
        bool hasValue = false;
        if (const qsizetype equals = argument.indexOf(QLatin1Char('=')); equals > 0) {
            value = argument.mid(equals + 1);
            argument.truncate(equals);
            hasValue = true;
        }

        if (bool* flag = flagTarget(options, argument)) {
            if (hasValue) return fail(argument + QStringLiteral(" takes no value"));
            *flag = true;
            continue;
        }
        const bool missing = !hasValue && i + 1 >= arguments.size();
        if (!hasValue && !missing) value = arguments[++i];
        // A name of no option is told as such, also where no value follows it.
        const std::optional<QString> error = applyValueOption(options, argument, value);
        if (!error) return fail(QStringLiteral("unknown option ") + argument);
        if (missing) return fail(argument + QStringLiteral(" needs a value"));
        if (!error->isEmpty()) return fail(*error);
    }

    if (const QString error = finishOptions(options, positional); !error.isEmpty())
        return fail(error);
    return parsed;
}

QString ConvertUsage() {
    return QStringLiteral(
        "usage: framewell-convert [options] INPUT OUTPUT\n"
        "       framewell-convert [options] INPUT... FOLDER\n"
        "       framewell-convert --list-tracks INPUT\n"
        "Converts INPUT, or the span of it between --start and --end, into the AVI file OUTPUT;\n"
        "several INPUTs each into FOLDER, named after it with .avi.\n"
        "\n"
        "  --start SECONDS               where the output begins in INPUT (default 0)\n"
        "  --end SECONDS                 where it ends (default: the end of INPUT)\n"
        "  --size WIDTHxHEIGHT|original  frame size, rounded down to multiples of 8, at least 16\n"
        "  --fps RATE|original           frame rate, e.g. 25, 29.97 or 30000/1001\n"
        "  --resize preserve|stretch     keep the aspect ratio with bars, or fill the frame\n"
        "  --video-compressor NAME|none|default|copy\n"
        "  --audio-compressor NAME|none|default|copy\n"
        "                                a name or factory from --list-compressors (any letter\n"
        "                                case) or its position; none writes uncompressed video\n"
        "                                (BGR) or audio (PCM); default is the program's choice;\n"
        "                                copy writes INPUT's own stream without re-encoding it\n"
        "                                (MPEG-4 Part 2, H.264, Motion JPEG, DV, MPEG-1/2 video;\n"
        "                                MP3, MP2, AC-3, PCM sound)\n"
        "  --audio-track N               the sound track to take, from 1 (default 1)\n"
        "  --subtitles N|FILE            burn subtitle track N of INPUT, or a side file (SRT,\n"
        "                                ASS, SSA, ...), into the pictures\n"
        "  --deinterlace auto|on|off     auto (the default) deinterlaces what the source says is\n"
        "                                interlaced, or what a check of its first pictures finds\n"
        "                                combed; the frame rate stays the source's\n"
        "  --target-size MB              aim the whole file at this size (1 MB = 1,000,000\n"
        "                                bytes): the video bit rate is chosen for it, in two\n"
        "                                passes where the video compressor has them\n"
        "  --jobs N                      conversions at a time for several INPUTs (default 1)\n"
        "  --list-tracks                 show INPUT's tracks: number, kind, codec, language,\n"
        "                                title, length\n"
        "  --list-compressors            show the compressors: position, kind, name, factory\n"
        "  --overwrite                   replace OUTPUT when it exists (a regular file, and\n"
        "                                only once the new file is finished)\n"
        "  --quiet                       no progress\n"
        "  --help                        show this help and exit\n"
        "  --version                     show the version and exit\n"
        "\n"
        "SIGINT (Ctrl+C), SIGTERM or SIGHUP stops the conversion as Stop does: OUTPUT gets\n"
        "what was converted, finished; the same signal again ends the program at once.\n"
        "\n"
        "Several INPUTs: an existing output is replaced only with --overwrite; an INPUT that\n"
        "fails is named with its reason and the others go on; a signal stops them all.\n"
        "\n"
        "Exit status: 0 converted (every INPUT), 1 the conversion failed (an earlier OUTPUT is\n"
        "left as it was; any INPUT of several), 2 the command line is wrong, 130, 143 or 129\n"
        "stopped by SIGINT, SIGTERM or SIGHUP.\n");
}
