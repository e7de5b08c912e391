#include "clips/clip_list.h"

#include "clips/transition_catalogue.h"
#include "media/core/media_framework.h"
#include "media/source/media_probe.h"
#include "platform/settings_store.h"

namespace {
const QString kSection = QStringLiteral("TransitionSettings");
}

ClipDefaults ReadClipDefaults(const platform::SettingsStore& store) {
    ClipDefaults defaults;
    defaults.clipDuration = store.readInt(kSection, QStringLiteral("PhotoDuration"), 8);
    defaults.transitionDuration = store.readInt(kSection, QStringLiteral("TransitionDuration"), 0);
    defaults.policy = store.readInt(kSection, QStringLiteral("TransitionType"), 0);
    defaults.sameTransition = store.readInt(kSection, QStringLiteral("TransitionName"), 0);
    return defaults;
}

void assignClipDefaults(ClipList& list, int n, const ClipDefaults& defaults) {
    ClipItem& item = list[n];
    item.duration = static_cast<ReferenceTime>(defaults.clipDuration) * kReferenceTimePerSecond;
    if (auto transition = chooseTransition(defaults.policy, n, defaults.sameTransition))
        item.transition = *transition;
    item.transitionDuration =
        static_cast<ReferenceTime>(defaults.transitionDuration) * kReferenceTimePerSecond;
}

bool appendClip(ClipList& list, const QString& path, const ClipDefaults& defaults) {
    if (list.count < 0 || list.count >= ClipList::kCapacity) return false;
    list[list.count].fileName = path;
    assignClipDefaults(list, list.count, defaults);
    ++list.count;
    return true;
}

ReferenceTime readMediaDuration(const QString& path) {
    if (!media::MediaFrameworkRunning()) return 0;
    const media::ProbeResult probe = media::ProbeMediaFile(path.toStdString());
    return probe.status == S_OK ? probe.duration : -1;
}
