#include "support/test_environment.h"

#include <QDir>
#include <QFile>
#include <QPixmap>
#include <QWidget>

#include "platform/settings_store.h"

namespace testing_support {

platform::BoxAnswer MessageBoxRecorder::show(const platform::BoxRequest& request) {
    boxes.push_back(request);
    if (!answers.empty()) {
        const platform::BoxAnswer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    return request.buttons == platform::BoxButtons::YesNo ? platform::BoxAnswer::Yes
                                                          : platform::BoxAnswer::Ok;
}

QStringList MessageBoxRecorder::texts() const {
    QStringList list;
    for (const platform::BoxRequest& box : boxes) list << box.text;
    return list;
}

bool ShellRecorder::openUrl(const QUrl& url) {
    openedUrls.push_back(url);
    return result;
}

bool ShellRecorder::runCommandLine(const QString& commandLine) {
    commandLines.push_back(commandLine);
    return result;
}

QString FileChooserScript::chooseOpenFile(const platform::FileRequest& request) {
    requests.push_back(request);
    if (openAnswers.empty()) return {};
    QString answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

QString FileChooserScript::chooseSaveFile(const platform::FileRequest& request) {
    requests.push_back(request);
    if (saveAnswers.empty()) return {};
    QString answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

TestEnvironment::TestEnvironment() {
    platform::SettingsStore::UseFolderForTesting(settings_.path());
    platform::InstallMessageBoxes(&messages);
    platform::InstallShell(&shell);
    platform::InstallFileChooser(&files);
}

TestEnvironment::~TestEnvironment() {
    platform::InstallMessageBoxes(nullptr);
    platform::InstallShell(nullptr);
    platform::InstallFileChooser(nullptr);
}

QString TestEnvironment::scratchPath(const QString& name) const { return scratch_.filePath(name); }

QString SaveScreenshot(QWidget* widget, const QString& name) {
    QDir().mkpath(QStringLiteral(FRAMEWELL_SCREENSHOT_DIR));
    const QString path = QDir(QStringLiteral(FRAMEWELL_SCREENSHOT_DIR)).filePath(name + ".png");
    widget->grab().save(path);
    return path;
}

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace testing_support
