// Direct stream copy: before a copy converts, its source is looked at off the UI thread; what
// cannot be copied is refused before anything is written, and a copy that cannot start at the
// marked picture says where it starts and asks.

#include <QFutureWatcher>
#include <QtConcurrent/QtConcurrentRun>

#include "app/converter_dialog.h"
#include "controls/hover_button.h"
#include "engine/conversion_engine.h"
#include "media/copy/stream_copy.h"
#include "media/core/frame_time.h"
#include "platform/message_boxes.h"

void ConverterDialog::InspectCopy(media::RenderPlan plan) {
    auto* watcher = new QFutureWatcher<media::StreamCopyInspection>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, plan] {
        watcher->deleteLater();
        OnCopyInspected(watcher->result(), plan);
    });
    watcher->setFuture(QtConcurrent::run([plan] { return media::InspectStreamCopy(plan); }));
}

void ConverterDialog::OnCopyInspected(const media::StreamCopyInspection& inspection,
                                      media::RenderPlan plan) {
    auto abandon = [this] { HoldConvert(false); };
    if (!inspection.ok()) {
        platform::ShowFrameworkMessage(QString::fromStdString(inspection.refusal));
        abandon();
        return;
    }
    if (inspection.startKind == media::CopyStart::AtKeyFrameBefore) {
        const platform::BoxAnswer answer = platform::ShowMessage(
            this,
            QStringLiteral("The %1 video cannot be cut at %2 without encoding it again. The copy "
                           "starts at the key frame before it, at %3.\nDo you want to continue?")
                .arg(QString::fromStdString(inspection.videoFormat),
                     QString::fromStdString(media::FormatClockMilliseconds(inspection.markedStart)),
                     QString::fromStdString(media::FormatClockMilliseconds(inspection.start))),
            QStringLiteral("Warning"), platform::BoxButtons::YesNo, platform::BoxIcon::Exclamation);
        if (answer != platform::BoxAnswer::Yes) {
            abandon();
            return;
        }
    }
    copiedStreams = QString::fromStdString(media::CopiedStreamsText(inspection));
    StartRender(std::move(plan));
}
