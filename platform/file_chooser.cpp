#include "platform/file_chooser.h"

#include <QDir>
#include <QFileDialog>

namespace platform {
namespace {

QStringList filterTexts(const FileRequest& request) {
    QStringList texts;
    for (const FileFilter& filter : request.filters) texts << QtFilterText(filter);
    return texts;
}

class QtFileChooser : public FileChooser {
public:
    QString chooseOpenFile(const FileRequest& request) override {
        return run(request, QFileDialog::AcceptOpen);
    }
    QString chooseSaveFile(const FileRequest& request) override {
        return run(request, QFileDialog::AcceptSave);
    }

private:
    static QString run(const FileRequest& request, QFileDialog::AcceptMode mode) {
        QFileDialog dialog(request.owner, request.title, request.initialFolder);
        ConfigureFileDialog(dialog, request, mode);
        if (dialog.exec() != QDialog::Accepted) return {};
        const QStringList files = dialog.selectedFiles();
        return files.isEmpty() ? QString() : QDir::toNativeSeparators(files.front());
    }
};

FileChooser* installed = nullptr;

}  // namespace

FileChooser& CurrentFileChooser() {
    static QtFileChooser real;
    return installed ? *installed : real;
}

void InstallFileChooser(FileChooser* chooser) { installed = chooser; }

void ConfigureFileDialog(QFileDialog& dialog, const FileRequest& request,
                         QFileDialog::AcceptMode mode) {
    dialog.setAcceptMode(mode);
    dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                       : QFileDialog::AnyFile);
    // The program asks its own question before it replaces an output file.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    // A filter's name reads as the program gives it; its patterns may be more than it names.
    dialog.setOption(QFileDialog::HideNameFilterDetails, true);
    const QStringList filters = filterTexts(request);
    dialog.setNameFilters(filters);
    if (request.selectedFilter >= 0 && request.selectedFilter < filters.size())
        dialog.selectNameFilter(filters.at(request.selectedFilter));
    if (!request.initialName.isEmpty() && !request.initialName.contains(QLatin1Char('*')))
        dialog.selectFile(request.initialName);
}

QString QtFilterText(const FileFilter& filter) {
    QStringList patterns;
    for (const QString& pattern : filter.pattern.split(QLatin1Char(';'), Qt::SkipEmptyParts))
        patterns << pattern.trimmed();
    // "*.*" means every file, also one without an extension.
    for (QString& pattern : patterns)
        if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    return filter.name + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
           QLatin1Char(')');
}

}  // namespace platform
