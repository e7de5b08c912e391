#include "cli/convert_options.h"

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
    if (positional.size() != 2) return QStringLiteral("expected INPUT and OUTPUT");
    options.input = positional[0];
    options.output = positional[1];
    if (options.input.isEmpty() || options.output.isEmpty())
        return QStringLiteral("empty file name");
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
        "Converts INPUT, or the span of it between --start and --end, into the AVI file OUTPUT.\n"
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
        "Exit status: 0 converted, 1 the conversion failed (an earlier OUTPUT is left as it\n"
        "was), 2 the command line is wrong, 130, 143 or 129 stopped by SIGINT, SIGTERM or\n"
        "SIGHUP.\n");
}
