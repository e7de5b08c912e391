#include "cli/compressor_choice.h"

#include <cstdio>

#include "cli/console_message.h"
#include "media/session/render_session.h"

namespace {

// A failed step of the compressor catalogue, in one line.
void tellCatalogueFailure(const CatalogueResult& result) {
    if (result.failed())
        PrintMessage(QStringLiteral("framewell-convert: %1\n").arg(CatalogueFailureText(result)));
}

// Every compressor of a kind, in catalogue order: the position is the index. A failure ends
// the list where it happened, and is told.
std::vector<CompressorHandle> catalogue(media::EncoderKind kind) {
    std::vector<CompressorHandle> all;
    for (int position = 0;; ++position) {
        std::optional<CompressorHandle> handle;
        const CatalogueResult result = kind == media::EncoderKind::Video
                                           ? GetCompressor(position, &handle)
                                           : GetAudioCompressor(position, &handle);
        tellCatalogueFailure(result);
        if (!handle) break;
        all.push_back(*handle);
    }
    return all;
}

}  // namespace

CompressorChoice ChooseCompressor(media::EncoderKind kind, const QString& wanted) {
    CompressorChoice choice;
    if (wanted.compare(QLatin1String("none"), Qt::CaseInsensitive) == 0) return choice;
    if (wanted.compare(QLatin1String("copy"), Qt::CaseInsensitive) == 0) {
        choice.compressionOn = 1;
        choice.compressor = StreamCopyCompressor(kind);
        return choice;
    }
    // A factory named outright needs no catalogue, whose trials cost a good part of a short
    // conversion's time.
    const std::string factory = wanted.toLower().toStdString();
    if (media::EncoderFeedsAvi(factory, kind == media::EncoderKind::Video)) {
        choice.compressionOn = 1;
        choice.compressor = CompressorHandle{factory, wanted, kind};
        return choice;
    }
    const std::vector<CompressorHandle> all = catalogue(kind);
    int position = -1;
    if (wanted.compare(QLatin1String("default"), Qt::CaseInsensitive) == 0) {
        CatalogueResult search;
        const int found = kind == media::EncoderKind::Video
                              ? FindDefaultVideoCompressor(&position, &search)
                              : FindDefaultAudioCompressor(&position, &search);
        tellCatalogueFailure(search);
        if (!found) return choice;  // no default: uncompressed, as the dialog does
    } else {
        bool isNumber = false;
        const int number = wanted.toInt(&isNumber);
        for (std::size_t i = 0; i < all.size() && position < 0; ++i) {
            const bool byName =
                all[i].friendlyName.compare(wanted, Qt::CaseInsensitive) == 0 ||
                QString::fromStdString(all[i].factoryName).compare(wanted, Qt::CaseInsensitive) ==
                    0;
            if (byName || (isNumber && number == static_cast<int>(i)))
                position = static_cast<int>(i);
        }
    }
    if (position < 0 || position >= static_cast<int>(all.size())) {
        choice.ok = false;
        return choice;
    }
    choice.compressionOn = 1;
    choice.compressor = all[static_cast<std::size_t>(position)];
    return choice;
}

void ListCompressors() {
    for (media::EncoderKind kind : {media::EncoderKind::Video, media::EncoderKind::Audio}) {
        const std::vector<CompressorHandle> all = catalogue(kind);
        for (std::size_t i = 0; i < all.size(); ++i) {
            std::printf("%zu\t%s\t%s\t%s\n", i,
                        kind == media::EncoderKind::Video ? "video" : "audio",
                        all[i].friendlyName.toUtf8().constData(), all[i].factoryName.c_str());
        }
    }
}
