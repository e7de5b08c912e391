#include "settings/codec_config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

#include <charconv>
#include <climits>
#include <cmath>

#include "platform/message_boxes.h"

namespace {

constexpr int kDoubleDecimals = 4;
constexpr int kEditorMaximumWidth = 220;
constexpr const char* kShownValue = "shownValue";

template <typename Number>
bool parseNumber(const std::string& text, Number& value) {
    const char* end = text.data() + text.size();
    const auto result = std::from_chars(text.data(), end, value);
    return result.ec == std::errc() && result.ptr == end;
}

// A range that an int spin box holds exactly.
bool integerRangeFitsSpinBox(const media::EncoderPropertyInfo& property, int& minimum,
                             int& maximum) {
    long long low = 0;
    long long high = 0;
    if (property.kind == media::PropertyKind::Integer) {
        if (!parseNumber(property.minimum, low) || !parseNumber(property.maximum, high))
            return false;
    } else {
        unsigned long long ulow = 0;
        unsigned long long uhigh = 0;
        if (!parseNumber(property.minimum, ulow) || !parseNumber(property.maximum, uhigh))
            return false;
        if (uhigh > static_cast<unsigned long long>(INT_MAX)) return false;
        low = static_cast<long long>(ulow);
        high = static_cast<long long>(uhigh);
    }
    if (low < INT_MIN || high > INT_MAX || low > high) return false;
    minimum = static_cast<int>(low);
    maximum = static_cast<int>(high);
    return true;
}

std::string shortestText(double value) {
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return std::string(buffer, result.ptr);
}

QString choiceLabel(const media::PropertyChoice& choice) {
    const QString nick = QString::fromStdString(choice.nick);
    const QString name = QString::fromStdString(choice.name);
    return name.isEmpty() || name == nick ? nick : nick + QStringLiteral(" \u2013 ") + name;
}

QString flagsHelp(const media::EncoderPropertyInfo& property) {
    QStringList nicks;
    for (const media::PropertyChoice& choice : property.choices)
        nicks << QString::fromStdString(choice.nick);
    return QStringLiteral("Flags joined by \"+\", or 0 for none: ") +
           nicks.join(QStringLiteral(", "));
}

}  // namespace

CodecConfigDialog::CodecConfigDialog(std::string factoryName, const QString& description,
                                     std::vector<media::EncoderPropertyInfo> properties,
                                     const media::EncoderProperties& values, QWidget* parent)
    : QDialog(parent), factoryName_(std::move(factoryName)) {
    setWindowTitle(QStringLiteral("%1 Settings").arg(description));
    setObjectName(QStringLiteral("CodecConfigDialog"));

    auto* form = new QWidget;
    auto* layout = new QFormLayout(form);
    layout->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);
    for (media::EncoderPropertyInfo& property : properties) {
        Row row;
        row.startText = property.defaultValue;
        for (const media::EncoderProperty& value : values)
            if (value.name == property.name) row.startText = value.value;
        row.property = std::move(property);
        row.editor = makeEditor(row, form);
        row.editor->setObjectName(QString::fromStdString(row.property.name));
        QString help = QString::fromStdString(row.property.blurb);
        if (row.property.kind == media::PropertyKind::Flags)
            help += QLatin1Char('\n') + flagsHelp(row.property);
        row.editor->setToolTip(help.trimmed());
        auto* label =
            new QLabel(QString::fromStdString(row.property.nick) + QLatin1Char(':'), form);
        label->setToolTip(row.editor->toolTip());
        label->setBuddy(row.editor);
        layout->addRow(label, row.editor);
        rows_.push_back(std::move(row));
    }
    if (rows_.empty())
        layout->addRow(new QLabel(QStringLiteral("This codec has no settings."), form));

    auto* scroll = new QScrollArea;
    scroll->setWidget(form);
    scroll->setWidgetResizable(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &CodecConfigDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CodecConfigDialog::reject);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(scroll);
    outer->addWidget(buttons);
    resize(540, 560);
}

QWidget* CodecConfigDialog::makeEditor(const Row& row, QWidget* parent) const {
    const media::EncoderPropertyInfo& property = row.property;
    switch (property.kind) {
        case media::PropertyKind::Integer:
        case media::PropertyKind::Unsigned: {
            int minimum = 0;
            int maximum = 0;
            long long start = 0;
            if (integerRangeFitsSpinBox(property, minimum, maximum) &&
                parseNumber(row.startText, start) && start >= minimum && start <= maximum) {
                auto* spin = new QSpinBox(parent);
                spin->setRange(minimum, maximum);
                spin->setValue(static_cast<int>(start));
                spin->setProperty(kShownValue, spin->value());
                spin->setMaximumWidth(kEditorMaximumWidth);
                return spin;
            }
            break;  // a 64-bit range goes into a text box and is checked on OK
        }
        case media::PropertyKind::Double: {
            double minimum = 0;
            double maximum = 0;
            double start = 0;
            if (parseNumber(property.minimum, minimum) && parseNumber(property.maximum, maximum) &&
                parseNumber(row.startText, start) && std::isfinite(start)) {
                auto* spin = new QDoubleSpinBox(parent);
                spin->setDecimals(kDoubleDecimals);
                spin->setRange(minimum, maximum);
                spin->setValue(start);
                spin->setProperty(kShownValue, spin->value());
                spin->setMaximumWidth(kEditorMaximumWidth);
                return spin;
            }
            break;
        }
        case media::PropertyKind::Boolean: {
            auto* box = new QCheckBox(parent);
            box->setChecked(row.startText == "true");
            return box;
        }
        case media::PropertyKind::Enum: {
            auto* list = new QComboBox(parent);
            for (const media::PropertyChoice& choice : property.choices)
                list->addItem(choiceLabel(choice), QString::fromStdString(choice.nick));
            list->setCurrentIndex(list->findData(QString::fromStdString(row.startText)));
            return list;
        }
        case media::PropertyKind::Flags:
        case media::PropertyKind::String:
            break;
    }
    auto* edit = new QLineEdit(QString::fromStdString(row.startText), parent);
    edit->setMinimumWidth(kEditorMaximumWidth);
    return edit;
}

std::string CodecConfigDialog::valueOf(const Row& row) const {
    // A number the user left as it was keeps the exact text it came with: a spin box shows
    // only a few decimals of a float.
    const QVariant shown = row.editor->property(kShownValue);
    if (auto* spin = qobject_cast<QSpinBox*>(row.editor))
        return shown.toInt() == spin->value() ? row.startText : std::to_string(spin->value());
    if (auto* spin = qobject_cast<QDoubleSpinBox*>(row.editor))
        return shown.toDouble() == spin->value() ? row.startText : shortestText(spin->value());
    if (auto* box = qobject_cast<QCheckBox*>(row.editor))
        return box->isChecked() ? "true" : "false";
    if (auto* list = qobject_cast<QComboBox*>(row.editor)) {
        const QVariant nick = list->currentData();
        return nick.isValid() ? nick.toString().toStdString() : row.startText;
    }
    if (auto* edit = qobject_cast<QLineEdit*>(row.editor)) return edit->text().toStdString();
    return row.startText;
}

media::EncoderProperties CodecConfigDialog::values() const {
    media::EncoderProperties result;
    for (const Row& row : rows_) result.push_back({row.property.name, valueOf(row)});
    return result;
}

QWidget* CodecConfigDialog::editor(const std::string& propertyName) const {
    for (const Row& row : rows_)
        if (row.property.name == propertyName) return row.editor;
    return nullptr;
}

void CodecConfigDialog::accept() {
    for (const Row& row : rows_) {
        auto* edit = qobject_cast<QLineEdit*>(row.editor);
        if (!edit || row.property.kind == media::PropertyKind::String) continue;
        const std::string text = edit->text().trimmed().toStdString();
        if (media::IsValidEncoderPropertyValue(factoryName_, row.property.name, text)) {
            edit->setText(QString::fromStdString(text));
            continue;
        }
        QString expected;
        if (row.property.kind == media::PropertyKind::Flags)
            expected = flagsHelp(row.property);
        else
            expected = QStringLiteral("A whole number from %1 to %2.")
                           .arg(QString::fromStdString(row.property.minimum),
                                QString::fromStdString(row.property.maximum));
        platform::ShowMessage(
            this,
            QStringLiteral("\"%1\" is not a valid value for %2.\n%3")
                .arg(edit->text(), QString::fromStdString(row.property.nick), expected),
            windowTitle(), platform::BoxButtons::Ok, platform::BoxIcon::Exclamation);
        edit->setFocus();
        edit->selectAll();
        return;
    }
    QDialog::accept();
}
