#pragma once

// Everything a test needs to run the program's code without touching the user's desktop:
// settings in a folder of the test's own, and recorders in place of message boxes, file
// dialogs and the shell.

#include <QList>
#include <QStringList>
#include <QTemporaryDir>
#include <QUrl>

#include <deque>
#include <memory>

#include "platform/file_chooser.h"
#include "platform/message_boxes.h"
#include "platform/shell.h"

namespace testing_support {

// Records every box and answers questions from a script (Yes when the script is empty).
class MessageBoxRecorder : public platform::MessageBoxes {
public:
    platform::BoxAnswer show(const platform::BoxRequest& request) override;

    QList<platform::BoxRequest> boxes;
    std::deque<platform::BoxAnswer> answers;

    QStringList texts() const;
    void clear() { boxes.clear(); }
};

class ShellRecorder : public platform::ShellLauncher {
public:
    bool openUrl(const QUrl& url) override;
    bool runCommandLine(const QString& commandLine) override;

    QList<QUrl> openedUrls;
    QStringList commandLines;
    bool result = true;
};

// Answers the file dialogs with scripted paths (empty text: the user cancels).
class FileChooserScript : public platform::FileChooser {
public:
    QString chooseOpenFile(const platform::FileRequest& request) override;
    QString chooseSaveFile(const platform::FileRequest& request) override;

    std::deque<QString> openAnswers;
    std::deque<QString> saveAnswers;
    QList<platform::FileRequest> requests;
};

// Installs the recorders and an empty settings folder for the lifetime of the object.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();
    TestEnvironment(const TestEnvironment&) = delete;
    TestEnvironment& operator=(const TestEnvironment&) = delete;

    QString settingsFolder() const { return settings_.path(); }
    // A scratch folder for files the test writes.
    QString scratchPath(const QString& name) const;

    MessageBoxRecorder messages;
    ShellRecorder shell;
    FileChooserScript files;

private:
    QTemporaryDir settings_;
    QTemporaryDir scratch_;
};

// Saves a picture of the widget under the build folder's screenshots/, for people to look at.
QString SaveScreenshot(QWidget* widget, const QString& name);

// A file's whole content written, or read (empty when it cannot be read).
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

}  // namespace testing_support
