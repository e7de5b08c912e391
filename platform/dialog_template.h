#pragma once

// Dialog templates kept as data: each control with its id, kind, caption, style flags and
// its place in dialog units. BuildDialog places Qt widgets at those places; every widget
// carries its control id, so code and tests find a control by its id.

#include <QList>
#include <QRect>
#include <QSize>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

#include "platform/dialog_units.h"

class QWidget;

namespace platform {

// The id of controls that code never addresses (labels, group boxes).
inline constexpr int kNoControlId = -1;

struct ControlTemplate {
    int id = kNoControlId;
    // "button", "defbutton", "static", "groupbox", "trackbar", "edit", "dropdown", "icon",
    // "progress" (0 to 100, no text)
    QString kind;
    // A widget class of the program that stands in for the kind's plain widget, e.g.
    // "HoverButton"; empty for the plain one.
    QString className;
    QString text;
    QRect rect;  // dialog units
    // "center", "right", "sunken", "hidden", "autohscroll", "centerimage", "pathellipsis",
    // "version" (the text's last word is the program's version, filled in by the About box)
    QStringList flags;
    QStringList items;  // initial entries of a list
    // What a screen reader says: the control's name (its text when empty) and what it does.
    QString accessibleName;
    QString accessibleDescription;

    bool hasFlag(const char* flag) const { return flags.contains(QLatin1String(flag)); }
};

struct DialogTemplate {
    int id = 0;
    QString caption;
    QSize size;  // dialog units
    QString fontFace;
    int fontPoints = 8;
    QStringList style;  // "caption", "sysmenu", "minimizebox", "modalframe"
    QList<ControlTemplate> controls;

    const ControlTemplate* control(int controlId) const;
};

// Reads a template from a JSON file (normally a resource such as ":/dialogs/main_dialog_102.json").
std::optional<DialogTemplate> LoadDialogTemplate(const QString& path);

// Makes the widget for a control of a program-defined class; returns nullptr to get the
// kind's plain widget.
using ControlFactory = std::function<QWidget*(const ControlTemplate&, QWidget* parent)>;

// Sets the dialog's font, caption and fixed client size and creates every control as a
// child at its converted place. Returns the base units used.
DialogBaseUnits BuildDialog(QWidget* dialog, const DialogTemplate& dialogTemplate,
                            const ControlFactory& custom = {});

// Marks a widget with its control id.
void SetControlId(QWidget* widget, int id);
QWidget* FindControl(const QWidget* dialog, int id);

template <typename T>
T* Control(const QWidget* dialog, int id) {
    return qobject_cast<T*>(FindControl(dialog, id));
}

}  // namespace platform
