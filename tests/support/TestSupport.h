#pragma once
// Helpers shared by the test executables.

#include "app/UiInterfaces.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

namespace korvel::test {

// Points the per-user settings store at a fresh temporary folder for the life of the object.
class IsolatedSettings {
public:
    IsolatedSettings();
    QString path() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
};

// Records every status text, message box, progress value and burn-view text, in order.
class RecordingUi : public StatusLine, public Prompter, public ProgressView, public BurnView {
public:
    void setStatus(const QString &text) override { statuses << text; events << QStringLiteral("status: ") + text; }
    MessageAnswer showMessage(const QString &caption, const QString &text, MessageIcon icon,
                              MessageButtons buttons) override;
    void setProgress(int percent) override
    {
        progress << percent;
        events << QStringLiteral("progress: %1").arg(percent);
    }
    void setStep(const QString &text) override { events << QStringLiteral("step: ") + text; }
    void setDone(const QString &text) override { events << QStringLiteral("done: ") + text; }
    void setIndicator(Indicator colour) override
    {
        events << (colour == Indicator::Green ? QStringLiteral("indicator: green") : QStringLiteral("indicator: red"));
    }

    struct Message {
        QString caption, text;
        MessageIcon icon;
        MessageButtons buttons;
    };
    QStringList statuses;
    QList<Message> messages;
    QList<int> progress;
    QStringList events;
    // Answers given to OK/Cancel boxes in turn; Cancel once they run out.
    QList<MessageAnswer> answers;
};

// Writes bytes to a file in dir; returns its path.
QString WriteFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes);

// korvel-cli run to its end with the arguments: exit code (-1 when it crashed), stdout, stderr.
struct CliRun {
    int exitCode;
    QByteArray out, err;
};
CliRun RunCli(const QStringList &args);

// The folder holding korvel, korvel-cli and korvel-sim.
QString BinDir();
QString SourceDir();

} // namespace korvel::test

namespace korvel::test {

// A file dialog that answers from a queue: each entry is the chosen name, or nullopt for a cancel.
class ScriptedFileChooser : public FileChooser {
public:
    std::optional<QString> chooseFile(const FileDialogRequest &request) override
    {
        requests.append(request);
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
    QList<std::optional<QString>> answers;
    QList<FileDialogRequest> requests;
};

} // namespace korvel::test
