#include "platform/dialog_template.h"

#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QIcon>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSlider>
#include <QWidget>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/eliding_label.h"

namespace platform {
namespace {

constexpr const char* kControlIdProperty = "controlId";

QRect rectFrom(const QJsonValue& value) {
    const QJsonArray a = value.toArray();
    if (a.size() != 4) return {};
    return QRect(a[0].toInt(), a[1].toInt(), a[2].toInt(), a[3].toInt());
}

QStringList stringsFrom(const QJsonValue& value) {
    QStringList list;
    for (const QJsonValue& item : value.toArray()) list << item.toString();
    return list;
}

Qt::Alignment alignmentOf(const ControlTemplate& control) {
    Qt::Alignment horizontal = Qt::AlignLeft;
    if (control.hasFlag("center")) horizontal = Qt::AlignHCenter;
    if (control.hasFlag("right")) horizontal = Qt::AlignRight;
    // A sunken box holds one line: centred in it, the text keeps clear of the frame above and
    // below (aligned to the top, QLabel would also push it down by its indent).
    const Qt::Alignment vertical = control.hasFlag("centerimage") || control.hasFlag("sunken")
                                       ? Qt::AlignVCenter
                                       : Qt::AlignTop;
    return horizontal | vertical;
}

// QLabel keeps a framed text half an x off the frame on the sides it is aligned to.
int effectiveIndent(const QLabel* label) {
    int indent = label->indent();
    if (indent < 0 && label->frameWidth() > 0)
        indent = label->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2 - label->margin();
    return std::max(indent, 0);
}

// A template sized for another font can leave a label too small for its text: the label then
// grows about its template place, at least one line high and, unless its text wraps or
// elides, as wide as its text, and stays inside the dialog.
void fitLabel(QLabel* label, const QRect& dialogArea) {
    const QFontMetrics metrics(label->font());
    const Qt::Alignment align = label->alignment();
    const int border = label->frameWidth() + label->margin();
    const int indent = effectiveIndent(label);
    QRect place = label->geometry();

    const int verticalIndent = align & (Qt::AlignTop | Qt::AlignBottom) ? indent : 0;
    int height = std::max(metrics.lineSpacing(), metrics.height()) + 2 * border + verticalIndent;
    if (label->wordWrap() && !label->text().isEmpty())
        height = std::max(height, label->heightForWidth(place.width()));
    if (place.height() < height) {
        place.setTop(place.top() - (height - place.height()) / 2);
        place.setHeight(height);
    }

    QString text = label->text();
    text.remove(QLatin1Char('&'));
    const bool elides = qobject_cast<ElidingLabel*>(label) != nullptr;
    if (!label->wordWrap() && !elides && !text.isEmpty()) {
        const int horizontalIndent = align & (Qt::AlignLeft | Qt::AlignRight) ? indent : 0;
        const int width =
            std::max(metrics.horizontalAdvance(text), metrics.boundingRect(text).width()) +
            2 * border + horizontalIndent;
        const int growth = width - place.width();
        if (growth > 0) {
            if (align & Qt::AlignRight)
                place.setLeft(place.left() - growth);
            else if (align & Qt::AlignHCenter)
                place.adjust(-growth / 2, 0, growth - growth / 2, 0);
            else
                place.setRight(place.right() + growth);
        }
    }

    // Moved back inside the dialog where the growth crossed its edge.
    place.moveLeft(std::clamp(place.left(), dialogArea.left(),
                              std::max(dialogArea.left(), dialogArea.right() + 1 - place.width())));
    place.moveTop(std::clamp(place.top(), dialogArea.top(),
                             std::max(dialogArea.top(), dialogArea.bottom() + 1 - place.height())));
    label->setGeometry(place.intersected(dialogArea));
}

QWidget* plainWidget(const ControlTemplate& control, QWidget* parent) {
    if (control.kind == QLatin1String("button") || control.kind == QLatin1String("defbutton")) {
        auto* button = new QPushButton(control.text, parent);
        if (control.kind == QLatin1String("defbutton")) button->setDefault(true);
        return button;
    }
    if (control.kind == QLatin1String("static")) {
        // Texts that can outgrow their place (a path) leave out their middle, as a static of
        // the path-ellipsis style does.
        auto* label = control.hasFlag("pathellipsis") ? new ElidingLabel(control.text, parent)
                                                      : new QLabel(control.text, parent);
        label->setAlignment(alignmentOf(control));
        label->setWordWrap(!control.hasFlag("center") && !control.hasFlag("sunken") &&
                           !control.hasFlag("pathellipsis"));
        if (control.hasFlag("sunken")) label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        return label;
    }
    if (control.kind == QLatin1String("icon")) {
        auto* label = new QLabel(parent);
        return label;
    }
    if (control.kind == QLatin1String("groupbox")) return new QGroupBox(control.text, parent);
    if (control.kind == QLatin1String("trackbar")) return new QSlider(Qt::Horizontal, parent);
    if (control.kind == QLatin1String("progress")) {
        auto* bar = new QProgressBar(parent);
        bar->setRange(0, 100);
        bar->setValue(0);
        bar->setTextVisible(false);
        return bar;
    }
    if (control.kind == QLatin1String("edit")) {
        auto* edit = new QLineEdit(control.text, parent);
        edit->setAlignment(control.hasFlag("center") ? Qt::AlignCenter
                                                     : Qt::AlignLeft | Qt::AlignVCenter);
        return edit;
    }
    if (control.kind == QLatin1String("dropdown")) {
        auto* list = new QComboBox(parent);
        list->addItems(control.items);
        return list;
    }
    return new QWidget(parent);
}

// Tab goes through the controls as a reader does: row by row from the top, each row from the
// left. Templates list their controls in whatever order they were made, which jumps around.
// Controls whose tops lie within half a line of a row's first one share its row.
void orderTabsByPlace(std::vector<std::pair<QWidget*, QRect>> controls) {
    constexpr int kRowSlack = 4;  // dialog units
    std::stable_sort(controls.begin(), controls.end(),
                     [](const auto& a, const auto& b) { return a.second.top() < b.second.top(); });
    int rowTop = 0;
    for (std::size_t i = 0; i < controls.size(); ++i) {
        if (i == 0 || controls[i].second.top() - rowTop > kRowSlack)
            rowTop = controls[i].second.top();
        controls[i].second.moveTop(rowTop);
    }
    std::stable_sort(controls.begin(), controls.end(), [](const auto& a, const auto& b) {
        return a.second.top() != b.second.top() ? a.second.top() < b.second.top()
                                                : a.second.left() < b.second.left();
    });
    for (std::size_t i = 1; i < controls.size(); ++i)
        QWidget::setTabOrder(controls[i - 1].first, controls[i].first);
}

}  // namespace

const ControlTemplate* DialogTemplate::control(int controlId) const {
    for (const ControlTemplate& c : controls)
        if (c.id == controlId) return &c;
    return nullptr;
}

std::optional<DialogTemplate> LoadDialogTemplate(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) return std::nullopt;
    const QJsonObject root = document.object();
    DialogTemplate result;
    result.id = root.value(QLatin1String("id")).toInt();
    result.caption = root.value(QLatin1String("caption")).toString();
    const QJsonArray size = root.value(QLatin1String("size")).toArray();
    result.size = QSize(size.at(0).toInt(), size.at(1).toInt());
    const QJsonObject font = root.value(QLatin1String("font")).toObject();
    result.fontFace = font.value(QLatin1String("face")).toString();
    result.fontPoints = font.value(QLatin1String("points")).toInt(8);
    result.style = stringsFrom(root.value(QLatin1String("style")));
    for (const QJsonValue& value : root.value(QLatin1String("controls")).toArray()) {
        const QJsonObject object = value.toObject();
        ControlTemplate control;
        control.id = object.value(QLatin1String("id")).toInt(kNoControlId);
        control.kind = object.value(QLatin1String("kind")).toString();
        control.className = object.value(QLatin1String("class")).toString();
        control.text = object.value(QLatin1String("text")).toString();
        control.rect = rectFrom(object.value(QLatin1String("rect")));
        control.flags = stringsFrom(object.value(QLatin1String("flags")));
        control.items = stringsFrom(object.value(QLatin1String("items")));
        control.accessibleName = object.value(QLatin1String("name")).toString();
        control.accessibleDescription = object.value(QLatin1String("description")).toString();
        result.controls.push_back(control);
    }
    return result;
}

DialogBaseUnits BuildDialog(QWidget* dialog, const DialogTemplate& dialogTemplate,
                            const ControlFactory& custom) {
    const QFont font = DialogFont(dialogTemplate.fontFace, dialogTemplate.fontPoints);
    dialog->setFont(font);
    dialog->setWindowTitle(dialogTemplate.caption);
    const DialogBaseUnits base = BaseUnitsOf(font);
    dialog->setFixedSize(DialogUnitsToPixels(dialogTemplate.size, base));

    std::vector<std::pair<QWidget*, QRect>> tabStops;
    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = custom ? custom(control, dialog) : nullptr;
        if (!widget) widget = plainWidget(control, dialog);
        SetControlId(widget, control.id);
        if (!control.accessibleName.isEmpty()) widget->setAccessibleName(control.accessibleName);
        if (!control.accessibleDescription.isEmpty())
            widget->setAccessibleDescription(control.accessibleDescription);
        QRect place = DialogUnitsToPixels(control.rect, base);
        // A drop-down list's template height is that of its open list; closed it is one line.
        if (control.kind == QLatin1String("dropdown"))
            place.setHeight(DialogUnitsToPixels(QRect(0, 0, 0, 14), base).height());
        widget->setGeometry(place);
        if (auto* label = qobject_cast<QLabel*>(widget)) fitLabel(label, dialog->rect());
        if (control.hasFlag("hidden")) widget->hide();
        if (widget->focusPolicy() & Qt::TabFocus) tabStops.emplace_back(widget, control.rect);
    }
    orderTabsByPlace(std::move(tabStops));
    return base;
}

void SetControlId(QWidget* widget, int id) {
    widget->setProperty(kControlIdProperty, id);
    if (id != kNoControlId) widget->setObjectName(QStringLiteral("control_%1").arg(id));
}

QWidget* FindControl(const QWidget* dialog, int id) {
    if (!dialog || id == kNoControlId) return nullptr;
    return dialog->findChild<QWidget*>(QStringLiteral("control_%1").arg(id),
                                       Qt::FindDirectChildrenOnly);
}

}  // namespace platform
