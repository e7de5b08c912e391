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
    const Qt::Alignment vertical =
        control.hasFlag("centerimage") ? Qt::AlignVCenter : Qt::AlignTop;
    return horizontal | vertical;
}

QWidget* plainWidget(const ControlTemplate& control, QWidget* parent) {
    if (control.kind == QLatin1String("button") || control.kind == QLatin1String("defbutton")) {
        auto* button = new QPushButton(control.text, parent);
        if (control.kind == QLatin1String("defbutton")) button->setDefault(true);
        return button;
    }
    if (control.kind == QLatin1String("static")) {
        auto* label = new QLabel(control.text, parent);
        label->setAlignment(alignmentOf(control));
        label->setWordWrap(!control.hasFlag("center") && !control.hasFlag("sunken"));
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

    for (const ControlTemplate& control : dialogTemplate.controls) {
        QWidget* widget = custom ? custom(control, dialog) : nullptr;
        if (!widget) widget = plainWidget(control, dialog);
        SetControlId(widget, control.id);
        QRect place = DialogUnitsToPixels(control.rect, base);
        // A drop-down list's template height is that of its open list; closed it is one line.
        if (control.kind == QLatin1String("dropdown"))
            place.setHeight(DialogUnitsToPixels(QRect(0, 0, 0, 14), base).height());
        widget->setGeometry(place);
        if (control.hasFlag("hidden")) widget->hide();
    }
    return base;
}

void SetControlId(QWidget* widget, int id) {
    widget->setProperty(kControlIdProperty, id);
    if (id != kNoControlId) widget->setObjectName(QStringLiteral("control_%1").arg(id));
}

int ControlIdOf(const QWidget* widget) {
    const QVariant id = widget->property(kControlIdProperty);
    return id.isValid() ? id.toInt() : kNoControlId;
}

QWidget* FindControl(const QWidget* dialog, int id) {
    if (!dialog || id == kNoControlId) return nullptr;
    return dialog->findChild<QWidget*>(QStringLiteral("control_%1").arg(id),
                                       Qt::FindDirectChildrenOnly);
}

}  // namespace platform
