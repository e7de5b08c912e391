// How long the first listing of the installed compressors takes in a fresh process: the
// candidate search over the plugin registry plus the trial pipelines. Start-up pays this once.
// Prints the time in milliseconds and the list.

#include <QCoreApplication>

#include <chrono>
#include <cstdio>

#include "media/core/media_framework.h"
#include "media/encoders/encoder_registry.h"
#include "platform/event_loop.h"

int main(int argc, char* argv[]) {
    platform::UseQtEventLoop();
    QCoreApplication application(argc, argv);
    if (FAILED(media::StartMediaFramework())) return 1;
    const auto start = std::chrono::steady_clock::now();
    const auto& video = media::AviEncoders(media::EncoderKind::Video);
    const auto& audio = media::AviEncoders(media::EncoderKind::Audio);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    const bool quiet = argc > 1 && QByteArray(argv[1]) == "--quiet";
    if (!quiet) {
        for (const auto& e : video) std::printf("video  %-22s %s\n", e.factoryName.c_str(), e.friendlyName.c_str());
        for (const auto& e : audio) std::printf("audio  %-22s %s\n", e.factoryName.c_str(), e.friendlyName.c_str());
    }
    std::printf("first listing: %.1f ms (%zu video, %zu audio)\n",
                std::chrono::duration<double, std::milli>(elapsed).count(), video.size(), audio.size());
    return 0;
}
