#pragma once

// Choices of a conversion that cannot go together, refused before anything is written: what
// Direct stream copy writes as it is cannot have subtitles burnt in, be deinterlaced or be
// aimed at a size.

#include <QString>

#include "media/render_session.h"

// Why the plan's choices do not go together, in one sentence for the user; empty when they do.
// aimsAtSize: a target size is asked for.
QString ChoiceConflict(const media::RenderPlan& plan, bool aimsAtSize);
