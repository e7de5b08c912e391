#include "platform/sound.h"

#include <QFile>
#include <QHash>

#include <memory>

#include "media/core/media_framework.h"
#include "media/playback/wave_player.h"
#include "platform/resources.h"

namespace platform {
namespace {

// Button sounds are tiny; a "sound" file larger than this is not read on the UI thread.
constexpr qint64 kLargestSoundFile = 4 * 1024 * 1024;

class DesktopSoundPlayer : public SoundPlayer {
public:
    bool play(const SoundRequest& request) override {
        // Without the media framework (it failed to start, or was never started) the program
        // stays silent rather than starting it behind the dialog's back.
        if (!media::MediaFrameworkRunning()) return false;
        const QByteArray wave =
            request.resourceId != 0 ? resource(request.resourceId) : readFile(request.fileName);
        if (wave.isEmpty()) return false;
        if (!player_) player_ = std::make_unique<media::WavePlayer>();
        if (FAILED(player_->Play(std::vector<std::uint8_t>(wave.begin(), wave.end()))))
            return false;
        if (!request.async) player_->Wait(std::chrono::seconds(10));
        return true;
    }

private:
    QByteArray resource(int id) {
        auto cached = resources_.constFind(id);
        if (cached != resources_.constEnd()) return *cached;
        const QString path = ResourcePath("sounds", id);
        const QByteArray wave = path.isEmpty() ? QByteArray() : readFile(path);
        resources_.insert(id, wave);
        return wave;
    }

    static QByteArray readFile(const QString& path) {
        QFile file(path);
        if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return {};
        if (file.size() > kLargestSoundFile) return {};
        return file.readAll();
    }

    std::unique_ptr<media::WavePlayer> player_;
    QHash<int, QByteArray> resources_;
};

SoundPlayer* installed = nullptr;

}  // namespace

SoundPlayer& CurrentSoundPlayer() {
    static DesktopSoundPlayer desktop;
    return installed ? *installed : desktop;
}

void InstallSoundPlayer(SoundPlayer* player) {
    installed = player;
}

bool PlaySound(const SoundRequest& request) {
    return CurrentSoundPlayer().play(request);
}

}  // namespace platform
