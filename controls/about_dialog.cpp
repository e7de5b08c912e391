#include "controls/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "controls/hyperlink_label.h"
#include "platform/dialog_template.h"
#include "platform/program_version.h"
#include "platform/resources.h"

namespace {

// The icon a static icon control shows is named by its text, as in the template language.
constexpr int kIconSize = 32;

QWidget* createAboutControl(const platform::ControlTemplate& control, QWidget* parent) {
    if (control.className == QLatin1String("HyperlinkLabel")) {
        auto* label = new HyperlinkLabel(control.text, parent);
        Qt::Alignment horizontal = Qt::AlignLeft;
        if (control.hasFlag("center")) horizontal = Qt::AlignHCenter;
        if (control.hasFlag("right")) horizontal = Qt::AlignRight;
        label->setAlignment(horizontal |
                            (control.hasFlag("centerimage") ? Qt::AlignVCenter : Qt::AlignTop));
        return label;
    }
    if (control.kind == QLatin1String("icon")) {
        auto* label = new QLabel(parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        label->setPixmap(
            platform::LoadIconResource(control.text.toInt()).pixmap(kIconSize, kIconSize));
        return label;
    }
    return nullptr;
}

// A text flagged "version" ends in the version the build names, whatever the template says.
void showProgramVersion(platform::DialogTemplate& dialogTemplate) {
    for (platform::ControlTemplate& control : dialogTemplate.controls) {
        if (!control.hasFlag("version")) continue;
        control.text = control.text.left(control.text.lastIndexOf(QLatin1Char(' ')) + 1) +
                       QString::fromLatin1(platform::ProgramVersion());
    }
}

}  // namespace

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    if (auto dialogTemplate =
            platform::LoadDialogTemplate(QStringLiteral(":/dialogs/about_dialog_100.json"))) {
        showProgramVersion(*dialogTemplate);
        platform::BuildDialog(this, *dialogTemplate, createAboutControl);
    }
    // An icon control takes the size of its icon, whatever the template says.
    for (QLabel* label : findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (!label->pixmap().isNull()) label->resize(kIconSize, kIconSize);
    websiteLabel = platform::Control<HyperlinkLabel>(this, AboutDialogIds::kWebsite);
    supportLabel = platform::Control<HyperlinkLabel>(this, AboutDialogIds::kSupport);
    if (auto* ok = platform::Control<QPushButton>(this, AboutDialogIds::kOk))
        connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    OnInitDialog();
}

bool AboutDialog::OnInitDialog() {
    // The labels take their places now that the template has laid them out.
    const struct {
        HyperlinkLabel* label;
        const char* target;
    } links[] = {{websiteLabel, kMakerWebsite}, {supportLabel, kMakerSupportPage}};
    for (const auto& link : links) {
        if (!link.label) continue;
        link.label->Attach();
        link.label->SetTarget(QString::fromLatin1(link.target));
        link.label->SetUnderlineRule(HyperlinkLabel::kUnderlineAlways);
    }
    return true;
}
