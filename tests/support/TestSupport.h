#pragma once
// Helpers shared by the test executables; they need the core alone (WindowSupport.h adds the
// windows' part).

#include "core/ui/UiInterfaces.h"

#include <QByteArray>
#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <optional>

// Built with AddressSanitizer: memory figures (a process's peak) mean nothing then.
#if defined(__SANITIZE_ADDRESS__)
#define KORVEL_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KORVEL_ADDRESS_SANITIZER 1
#endif
#endif

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
                              MessageButtons buttons) override
    {
        return showMessage(caption, text, icon, buttons, MessageAnswer::Ok);
    }
    MessageAnswer showMessage(const QString &caption, const QString &text, MessageIcon icon, MessageButtons buttons,
                              MessageAnswer defaultAnswer) override;
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
        MessageAnswer defaultAnswer = MessageAnswer::Ok; // what Enter answers
    };
    QStringList statuses;
    QList<Message> messages;
    QList<int> progress;
    QStringList events;
    // Answers given to OK/Cancel boxes in turn; Cancel once they run out.
    QList<MessageAnswer> answers;
};

// "a; b; c" as {"a", "b", "c"}: a long expected sequence written a step to a line.
QStringList Sequence(const QString &text);

// Writes bytes to a file in dir; returns its path.
QString WriteFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes);

// A small tmpfs of its own, to fill up or to make read-only; unmounted (and its folder removed) when
// the object goes. mounted() is false where the test may not mount (not root, no capability): the
// caller then skips with a message.
class SmallDisk {
public:
    explicit SmallDisk(qint64 bytes, bool readOnly = false);
    ~SmallDisk();
    bool mounted() const { return m_mounted; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
};

// The prefix that runs a command as an ordinary user (nobody) when the tests run as root, so that
// file and device permissions hold; empty when they already run unprivileged. nullopt when root
// cannot drop its rights here (no setpriv): the caller skips with a message.
std::optional<QStringList> UnprivilegedPrefix();

// A file's bytes, or "(missing)".
QByteArray ReadAll(const QString &path);

// One S-record line (CR LF ended) of the type's digit, with a right checksum.
QByteArray SRecord(char type, quint32 address, int addressBytes, const QByteArray &data);
// A program of `records` data records of 16 bytes from 8000, between a header and a start record.
QByteArray Program(int records);

// Keeps the event loop (and so an in-process instrument) running until done() or the limit.
bool Await(const std::function<bool()> &done, int limitMs = 15000);
// Lets windows closed since the last turn of the event loop go, as between two clicks.
void Settle();

// korvel-cli run to its end with the arguments, stdin closed at once (every OK/Cancel prompt is
// answered Cancel), the event loop running meanwhile. prefix: what runs it (as another user);
// whileRunning: called once it has started. exitCode is -1 when it crashed or never ended.
struct CliRun {
    int exitCode = -1;
    bool finished = false;
    QByteArray out, err;
    QString trail; // err as text
};
CliRun RunCli(const QStringList &args, const QStringList &prefix = {}, const std::function<void()> &whileRunning = {});

// The folder holding korvel, korvel-cli and korvel-sim.
QString BinDir();

// The system's own words for a file that is not there ("No such file or directory" on Linux, "File
// not found" on Windows), as a failed open says them.
QString MissingFileWords();

// A Linux tool's standard output (pdftotext, pdfinfo), or a null string when it cannot be run. Under
// Wine the Windows tests reach the Linux one through Wine's start /unix, their paths translated.
QString LinuxTool(const QString &program, const QStringList &args);
// Whether that tool is there to run.
bool HaveLinuxTool(const QString &program);

// Whether this Windows test runs under Wine, whose stand-in fonts measure otherwise than Windows'.
bool UnderWine();

// A file dialog that answers from a queue: each entry is the chosen name, or nullopt for a cancel.
// It enters the request's folder as the window program's dialog does.
class ScriptedFileChooser : public FileChooser {
public:
    std::optional<QString> chooseFile(const FileDialogRequest &request) override
    {
        if (request.enterFolder)
            QDir::setCurrent(request.folder);
        requests.append(request);
        return answers.isEmpty() ? std::nullopt : answers.takeFirst();
    }
    QList<std::optional<QString>> answers;
    QList<FileDialogRequest> requests;
};

} // namespace korvel::test
