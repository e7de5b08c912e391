// What a press of Settings in the options dialog costs before any dialog shows: listing the
// video codecs that take the 352 x 240 query frame (one trial frame per encoder the first
// time in a process, remembered after that), and reading one encoder's properties for its
// generated dialog. Prints milliseconds.

#include <QApplication>

#include <chrono>
#include <cstdio>

#include "media/core/media_framework.h"
#include "media/encoders/encoder_properties.h"
#include "platform/event_loop.h"
#include "settings/codec_configuration.h"
#include "settings/output_options_dialog.h"

namespace {

template <typename Work>
double millisecondsOf(Work work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
        .count();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    platform::UseQtEventLoop();
    QApplication application(argc, argv);
    if (FAILED(media::StartMediaFramework())) return 1;

    int count = 0;
    std::array<VcmCompressorInfo, kVcmTableSize> table;
    // The catalogue itself is listed first, so the figures below are the codec work alone.
    const double catalogue =
        millisecondsOf([] { OutputOptionsDialog dialog(OutputSettings{}, 0); });
    const double first =
        millisecondsOf([&] { count = EnumerateVcmCompressors(352, 240, 1, table); });
    const double again = millisecondsOf([&] { EnumerateVcmCompressors(352, 240, 1, table); });
    std::size_t properties = 0;
    const double listing = millisecondsOf(
        [&] { properties = media::WritableEncoderProperties("avenc_mpeg4").size(); });
    const double dialog = millisecondsOf([] { OutputOptionsDialog dialog(OutputSettings{}, 0); });

    std::printf("options dialog, first in process: %.1f ms (includes the compressor catalogue)\n",
                catalogue);
    std::printf("options dialog, later:            %.1f ms\n", dialog);
    std::printf("codec listing, first press:       %.1f ms (%d codecs take 352x240)\n", first,
                count);
    std::printf("codec listing, later presses:     %.2f ms\n", again);
    std::printf("avenc_mpeg4 properties:           %.2f ms (%zu properties)\n", listing,
                properties);
    return 0;
}
