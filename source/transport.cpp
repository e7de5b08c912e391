#include <QLabel>
#include <QPushButton>

#include "app/converter_dialog.h"
#include "platform/dialog_template.h"

void ConverterDialog::SetTransportEnabled(bool enable) {
    using namespace MainDialogIds;
    for (int id : {kConvert, kPositionSlider, kPlay, kPause, kStop, kStartTime, kEndTime,
                   kStartMarkDisplay, kEndMarkDisplay}) {
        if (QWidget* control = platform::FindControl(this, id)) control->setEnabled(enable);
    }
}
