#include "engine/choice_conflicts.h"

QString ChoiceConflict(bool videoCopy, bool audioCopy, const media::SourceChoices& source,
                       bool aimsAtSize) {
    if (videoCopy) {
        if (source.burnsSubtitles())
            return QStringLiteral("Subtitles cannot be burnt into pictures that Direct stream copy "
                                  "writes as they are; choose a video compressor for them.");
        if (source.deinterlace == media::DeinterlaceMode::On)
            return QStringLiteral("Deinterlacing cannot be combined with Direct stream copy, which "
                                  "writes the pictures as they are; choose a video compressor "
                                  "for it.");
        if (aimsAtSize)
            return QStringLiteral("A target size cannot be combined with Direct stream copy, "
                                  "whose pictures keep the size they have.");
    }
    if (audioCopy && source.audioTrack != 1)
        return QStringLiteral("Direct stream copy of the sound takes the first sound track; "
                              "choose an audio compressor for sound track %1.")
            .arg(source.audioTrack);
    return {};
}

QString ChoiceConflict(const media::RenderPlan& plan, bool aimsAtSize) {
    return ChoiceConflict(plan.video.streamCopy, plan.audio.streamCopy, plan.source, aimsAtSize);
}
