#pragma once
// The few things the core tells the user, as interfaces each front end implements: the windows
// show them, korvel-cli writes them to its trail, a test records them. The core never includes a
// widget header.

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <QString>

#include <optional>

namespace korvel {

// The main window's "connection" panel: the program's one line of status text.
class StatusLine {
public:
    virtual ~StatusLine() = default;
    // Every writer replaces the whole text.
    virtual void setStatus(const QString &text) = 0;
};

enum class MessageIcon { None, Critical, Question, Exclamation, Information };
enum class MessageButtons { Ok, OkCancel };
enum class MessageAnswer { Ok, Cancel };

// Message boxes: a caption, a text, an icon, OK or OK/Cancel.
class Prompter {
public:
    virtual ~Prompter() = default;
    virtual MessageAnswer showMessage(const QString &caption, const QString &text, MessageIcon icon,
                                      MessageButtons buttons) = 0;
    // The same box with the answer that Enter gives named: Cancel for a question whose OK may do
    // harm. A front end without a default button (korvel-cli's trail answers Cancel unless told
    // "ok") shows the plain box.
    virtual MessageAnswer showMessage(const QString &caption, const QString &text, MessageIcon icon,
                                      MessageButtons buttons, MessageAnswer defaultAnswer)
    {
        Q_UNUSED(defaultAnswer);
        return showMessage(caption, text, icon, buttons);
    }
};

// The firmware window's progress bar progMain, 0 to 100.
class ProgressView {
public:
    virtual ~ProgressView() = default;
    virtual void setProgress(int percent) = 0;
};

// The firmware window's step label lblStep(2), done label lblFlashDone and done indicator shpDone(1).
class BurnView {
public:
    virtual ~BurnView() = default;
    enum class Indicator { Red, Green };
    virtual void setStep(const QString &text) = 0;
    virtual void setDone(const QString &text) = 0;
    virtual void setIndicator(Indicator colour) = 0;
};

// The common file dialog, shown as an open dialog. A cancel (or any failure of the dialog) gives
// nullopt; otherwise the chosen full file name, which need not exist yet.
struct FileDialogRequest {
    QString title;
    QString filter;           // a bare pattern such as "*.txt"
    QString defaultExtension; // added when the user types a name without one
    QString initialFileName;
    QString folder; // where the dialog starts: the program's own folder, or one that can be written
    bool save = false; // a save dialog: its button says Save and it asks before replacing a file
    // The chooser makes `folder` the process's current folder before it asks, as the program's
    // text-file dialogs always have.
    bool enterFolder = false;
    // A folder is chosen, not a file (several files written into it).
    bool chooseFolder = false;
};

// A text file in the program's own folder, which the chooser also enters.
inline FileDialogRequest ProgramFolderTextFile(const QString &title, const QString &initialFileName)
{
    FileDialogRequest request{title, QStringLiteral("*.txt"), QStringLiteral("txt"), initialFileName,
                              QCoreApplication::applicationDirPath()};
    request.enterFolder = true;
    return request;
}

// Where a file the program writes is first offered: the program's own folder; where that cannot
// be written (an installed copy), the user's documents folder, or home where there is none, so
// that the suggested name can be saved as it stands.
inline QString WritableFolder(const QString &programFolder)
{
    if (QFileInfo(programFolder).isWritable())
        return programFolder;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QFileInfo(documents).isDir())
        return documents;
    return QDir::homePath();
}

// A text file the program is to write: as ProgramFolderTextFile, in a folder it can write.
inline FileDialogRequest WritableTextFile(const QString &title, const QString &initialFileName)
{
    FileDialogRequest request{title, QStringLiteral("*.txt"), QStringLiteral("txt"), initialFileName,
                              WritableFolder(QCoreApplication::applicationDirPath())};
    request.enterFolder = true;
    return request;
}

// Asks for a file as the request says (entering its folder first when it asks that).
class FileChooser {
public:
    virtual ~FileChooser() = default;
    virtual std::optional<QString> chooseFile(const FileDialogRequest &request) = 0;
};

// The caption of every message box unless a window says otherwise; also the settings' application name.
inline const QString &AppTitle()
{
    static const QString title = QStringLiteral("Korvel Engine Monitor");
    return title;
}

} // namespace korvel
