#pragma once

// A codec's configuration dialog, generated from its encoder's writable properties: a spin
// box within the property's range for numbers, a check box for a switch, a list of the
// choices for an enumeration, a text box for flags, texts and numbers too large for a spin
// box. What people tune comes first in plain words, the rest under "Advanced", the plumbing
// not at all (codec_setting_tiers.h). The settings scroll between fixed OK and Cancel
// buttons. OK checks the typed texts and keeps the values; Cancel keeps nothing.

#include <QDialog>
#include <QString>

class QLabel;
class QScrollArea;

#include <string>
#include <vector>

#include "media/encoders/encoder_properties.h"

class CodecConfigDialog : public QDialog {
    Q_OBJECT

public:
    // The editors start at the values given (one per property, matched by name; a property
    // without a value starts at its default).
    CodecConfigDialog(std::string factoryName, const QString& description,
                      std::vector<media::EncoderPropertyInfo> properties,
                      const media::EncoderProperties& values, QWidget* parent = nullptr);

    // Every property's value as the editors hold it; a value the user did not touch keeps
    // its exact text.
    media::EncoderProperties values() const;

    // The editor of a property, for people and tests that look for it by name; nullptr for
    // a property that is not shown.
    QWidget* editor(const std::string& propertyName) const;

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        media::EncoderPropertyInfo property;
        QWidget* editor = nullptr;  // nullptr when not shown: the value stays as it came
        QLabel* label = nullptr;
        QWidget* field = nullptr;  // the editor, or the editor with its unit beside it
        std::string startText;     // the value the row was opened with
    };

    QWidget* makeEditor(const Row& row, QWidget* parent) const;
    QWidget* fieldWithUnit(const Row& row, const QString& unit, QWidget* parent) const;
    std::string valueOf(const Row& row) const;
    void fitToScreen();
    // Opens the part that holds the editor and scrolls to it.
    void revealEditor(QWidget* editor);

    std::string factoryName_;
    std::vector<Row> rows_;
    QScrollArea* scroll_ = nullptr;
};
