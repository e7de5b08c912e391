#pragma once

// Choices of a conversion that cannot go together, refused before anything is written: what
// Direct stream copy writes as it is cannot have subtitles burnt in, be deinterlaced or be
// aimed at a size, and its sound is the first sound track.

#include <QString>

#include "media/session/render_session.h"

// Why the choices do not go together, in one sentence for the user; empty when they do.
// videoCopy, audioCopy: Direct stream copy is chosen for the stream; aimsAtSize: a target size
// is asked for.
QString ChoiceConflict(bool videoCopy, bool audioCopy, const media::SourceChoices& source,
                       bool aimsAtSize);
// The same for a plan's routes.
QString ChoiceConflict(const media::RenderPlan& plan, bool aimsAtSize);
