#pragma once

// The open-file and save-file dialogs, behind a seam that tests script.

#include <QFileDialog>
#include <QList>
#include <QString>

class QWidget;

namespace platform {

struct FileFilter {
    QString name;     // as the user reads it, e.g. "AVI file"
    QString pattern;  // semicolon-separated, e.g. "*.avi" or "*.mpeg;*.mpg"
};

struct FileRequest {
    QWidget* owner = nullptr;
    QString title;
    QString initialFolder;
    QString initialName;
    QList<FileFilter> filters;
    int selectedFilter = 0;  // index into filters
};

class FileChooser {
public:
    virtual ~FileChooser() = default;
    // The chosen path, or an empty text when the user cancels.
    virtual QString chooseOpenFile(const FileRequest& request) = 0;
    virtual QString chooseSaveFile(const FileRequest& request) = 0;
};

FileChooser& CurrentFileChooser();
// nullptr brings back the real dialogs; the caller keeps ownership.
void InstallFileChooser(FileChooser* chooser);

// The filter string of Qt's file dialogs for one filter: the name as it reads, then the
// patterns. Qt's dialogs match the patterns without regard to case.
QString QtFilterText(const FileFilter& filter);

// Sets a Qt file dialog, made with the request's owner, title and folder, up for the rest of
// the request as the real file chooser shows it.
void ConfigureFileDialog(QFileDialog& dialog, const FileRequest& request,
                         QFileDialog::AcceptMode mode);

}  // namespace platform
