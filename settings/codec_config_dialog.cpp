#include "settings/codec_config_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QScrollArea>
#include <QSpinBox>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include <charconv>
#include <climits>
#include <cmath>

#include "platform/message_boxes.h"
#include "settings/codec_setting_tiers.h"

namespace {

constexpr int kDoubleDecimals = 4;
constexpr int kEditorMaximumWidth = 220;
constexpr int kPreferredWidth = 560;
constexpr int kPreferredHeight = 520;
constexpr double kShareOfScreen = 0.9;
constexpr double kLargestShownLimit = 1e7;
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

    auto* content = new QWidget;
    auto* mainForm = new QFormLayout;
    auto* advancedPanel = new QWidget(content);
    auto* advancedForm = new QFormLayout(advancedPanel);
    for (QFormLayout* form : {mainForm, advancedForm})
        form->setFieldGrowthPolicy(QFormLayout::FieldsStayAtSizeHint);

    std::vector<std::pair<int, std::size_t>> mainRows;  // (order, row)
    for (media::EncoderPropertyInfo& property : properties) {
        Row row;
        row.startText = property.defaultValue;
        for (const media::EncoderProperty& value : values)
            if (value.name == property.name) row.startText = value.value;
        const SettingPresentation shown = PresentSetting(factoryName_, property);
        row.property = std::move(property);
        if (shown.tier != SettingTier::Hidden) {
            QWidget* owner = shown.tier == SettingTier::Main ? content : advancedPanel;
            row.editor = makeEditor(row, owner);
            row.editor->setObjectName(QString::fromStdString(row.property.name));
            QString help = QString::fromStdString(row.property.blurb);
            if (row.property.kind == media::PropertyKind::Flags)
                help += QLatin1Char('\n') + flagsHelp(row.property);
            row.editor->setToolTip(help.trimmed());
            // A value changes under the wheel only once its field has been chosen; until then
            // the wheel scrolls the settings.
            row.editor->setFocusPolicy(Qt::StrongFocus);
            row.editor->installEventFilter(this);
            row.label = new QLabel(shown.label + QLatin1Char(':'), owner);
            row.label->setToolTip(row.editor->toolTip());
            row.label->setBuddy(row.editor);
            row.field = fieldWithUnit(row, shown.unit, owner);
            if (shown.tier == SettingTier::Main)
                mainRows.emplace_back(shown.order, rows_.size());
            else
                advancedForm->addRow(row.label, row.field);
        }
        rows_.push_back(std::move(row));
    }
    std::stable_sort(mainRows.begin(), mainRows.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& [order, index] : mainRows)
        mainForm->addRow(rows_[index].label, rows_[index].field);

    auto* column = new QVBoxLayout(content);
    column->addLayout(mainForm);
    if (mainRows.empty() && advancedForm->rowCount() == 0)
        column->addWidget(new QLabel(QStringLiteral("This codec has no settings."), content));
    if (advancedForm->rowCount() > 0) {
        auto* toggle = new QToolButton(content);
        toggle->setObjectName(QStringLiteral("advancedToggle"));
        toggle->setText(QStringLiteral("Advanced"));
        toggle->setCheckable(true);
        toggle->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        toggle->setArrowType(Qt::RightArrow);
        toggle->setAutoRaise(true);
        // The encoder's own settings come to the front only when asked for; with no setting
        // in plain words there is nothing else to show.
        const bool open = mainRows.empty();
        toggle->setChecked(open);
        toggle->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
        advancedPanel->setVisible(open);
        connect(toggle, &QToolButton::toggled, this, [toggle, advancedPanel](bool checked) {
            toggle->setArrowType(checked ? Qt::DownArrow : Qt::RightArrow);
            advancedPanel->setVisible(checked);
        });
        column->addWidget(toggle);
        column->addWidget(advancedPanel);
    } else {
        advancedPanel->hide();
    }
    column->addStretch(1);

    // The settings scroll; OK and Cancel stay below them, on screen whatever the scale.
    scroll_ = new QScrollArea;
    scroll_->setWidget(content);
    scroll_->setWidgetResizable(true);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &CodecConfigDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CodecConfigDialog::reject);
    auto* outer = new QVBoxLayout(this);
    outer->addWidget(scroll_, 1);
    outer->addWidget(buttons);
    fitToScreen();
}

void CodecConfigDialog::fitToScreen() {
    const QScreen* shown = parentWidget() ? parentWidget()->screen() : screen();
    QSize wanted(kPreferredWidth, kPreferredHeight);
    if (shown) {
        const QSize room = shown->availableGeometry().size() * kShareOfScreen;
        wanted = wanted.boundedTo(room);
    }
    resize(wanted);
}

bool CodecConfigDialog::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Wheel) {
        auto* field = qobject_cast<QWidget*>(watched);
        if (field && !field->hasFocus()) {
            // Left to the scroll area behind the field.
            event->ignore();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

QWidget* CodecConfigDialog::fieldWithUnit(const Row& row, const QString& unit,
                                          QWidget* parent) const {
    QString hint = unit;
    const media::EncoderPropertyInfo& property = row.property;
    const bool number = property.kind == media::PropertyKind::Integer ||
                        property.kind == media::PropertyKind::Unsigned ||
                        property.kind == media::PropertyKind::Double;
    double high = 0;
    // A range people can read says what the field takes; the types' own limits say nothing.
    if (number && parseNumber(property.maximum, high) && high < kLargestShownLimit)
        hint += (hint.isEmpty() ? QString() : QStringLiteral(", ")) +
                QStringLiteral("%1 to %2").arg(QString::fromStdString(property.minimum),
                                               QString::fromStdString(property.maximum));
    if (hint.isEmpty()) return row.editor;
    auto* field = new QWidget(parent);
    auto* line = new QHBoxLayout(field);
    line->setContentsMargins(0, 0, 0, 0);
    line->addWidget(row.editor);
    auto* note = new QLabel(hint, field);
    note->setEnabled(false);  // drawn greyed, as a hint
    line->addWidget(note);
    line->addStretch(1);
    return field;
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
    if (!row.editor) return row.startText;  // not shown, so as it came
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

void CodecConfigDialog::revealEditor(QWidget* editor) {
    if (auto* toggle = findChild<QToolButton*>(QStringLiteral("advancedToggle"));
        toggle && !editor->isVisibleTo(this))
        toggle->setChecked(true);
    scroll_->ensureWidgetVisible(editor);
}

void CodecConfigDialog::accept() {
    for (const Row& row : rows_) {
        auto* edit = row.editor ? qobject_cast<QLineEdit*>(row.editor) : nullptr;
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
        revealEditor(edit);
        edit->setFocus();
        edit->selectAll();
        return;
    }
    QDialog::accept();
}
