#include "media/playback/sound_device.h"

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#include <unistd.h>

namespace media {
namespace {

namespace fs = std::filesystem;

bool present(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

// Where a PulseAudio client (PipeWire's too) looks for its server's socket.
bool soundServerListens() {
    if (!environment("PULSE_SERVER").empty()) return true;
    for (const std::string& runtime : {environment("PULSE_RUNTIME_PATH"),
                                       environment("XDG_RUNTIME_DIR").empty()
                                           ? std::string{}
                                           : environment("XDG_RUNTIME_DIR") + "/pulse",
                                       "/run/user/" + std::to_string(getuid()) + "/pulse",
                                       std::string{"/var/run/pulse"}})
        if (!runtime.empty() && present(fs::path(runtime) / "native")) return true;
    return false;
}

// An ALSA playback device: /dev/snd/pcmC<card>D<device>p.
bool soundCardPlays() {
    std::error_code error;
    for (fs::directory_iterator entry("/dev/snd", error), end; !error && entry != end;
         entry.increment(error)) {
        const std::string name = entry->path().filename().string();
        if (name.starts_with("pcmC") && name.ends_with("p")) return true;
    }
    return false;
}

}  // namespace

bool DesktopHasSoundDevice() {
    static const bool found = soundServerListens() || soundCardPlays();
    return found;
}

}  // namespace media
