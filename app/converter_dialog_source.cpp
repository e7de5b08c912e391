// What a conversion takes from the open video besides its span: the sound track, subtitles,
// deinterlacing and a target size, chosen in the Source dialog (reached from Options).

#include <QFileInfo>

#include <cmath>

#include "app/converter_dialog.h"
#include "engine/choice_conflicts.h"
#include "media/session/render_session.h"
#include "platform/file_checks.h"
#include "platform/message_boxes.h"

namespace {

// A size aimed at comes out within this share of it.
constexpr double kSizeTolerance = 0.03;

}  // namespace

bool ConverterDialog::ApplySourceChoices(media::RenderPlan& plan) {
    sizeTarget.reset();
    plan.source = sourceOptions.Choices();
    if (const std::string missing = media::ResolveSourceChoices(plan.source, sourceTracks);
        !missing.empty()) {
        platform::ShowFrameworkMessage(QString::fromStdString(missing) +
                                       QStringLiteral("\nPlease choose again in Options, Source."));
        return false;
    }
    if (!sourceOptions.subtitleFile.isEmpty())
        if (const QString problem = platform::InputFileProblem(sourceOptions.subtitleFile);
            !problem.isEmpty()) {
            platform::ShowFrameworkMessage(
                QStringLiteral("%1: %2").arg(platform::QuotedPath(sourceOptions.subtitleFile),
                                             problem));
            return false;
        }
    const bool aimsAtSize = sourceOptions.targetSizeMegabytes > 0.0;
    if (const QString conflict = ChoiceConflict(plan, aimsAtSize); !conflict.isEmpty()) {
        platform::ShowFrameworkMessage(conflict);
        return false;
    }
    if (!aimsAtSize) return true;
    const auto bytes = static_cast<std::int64_t>(
        std::llround(sourceOptions.targetSizeMegabytes * media::kBytesPerMegabyte));
    media::SizeTarget target = media::PlanSizeTarget(plan, bytes, endMark - startMark, sourceSound);
    if (!target.ok()) {
        platform::ShowFrameworkMessage(QString::fromStdString(target.refusal));
        return false;
    }
    sizeTarget = std::move(target);
    return true;
}

void ConverterDialog::CheckTargetSize(const QString& written) {
    if (!sizeTarget) return;
    const std::int64_t size = QFileInfo(written).size();
    const double off = static_cast<double>(size - sizeTarget->bytes) / sizeTarget->bytes;
    if (std::fabs(off) <= kSizeTolerance) return;
    platform::ShowMessage(
        this,
        QStringLiteral("%1 came out at %2 for a target size of %3 (%4%5%).")
            .arg(written, QString::fromStdString(media::FormatMegabytes(size)),
                 QString::fromStdString(media::FormatMegabytes(sizeTarget->bytes)),
                 off >= 0 ? QStringLiteral("+") : QString(), QString::number(off * 100, 'f', 1)),
        QStringLiteral("Warning"), platform::BoxButtons::Ok, platform::BoxIcon::Exclamation);
}
