#pragma once
// The firmware programming window: which register file and which program the burn sends, the
// choice of the program and its editing, the burn itself with its step, result and progress. It
// owns the bootstrap-loader port commMain, the link over it and the burn.

#include "core/link/FlashBurn.h"
#include "core/link/TargetLink.h"
#include "core/serial/SerialLine.h"
#include "core/ui/UiInterfaces.h"
#include "gui/common/ChildWindow.h"
#include "gui/common/WindowContext.h"

#include <QStringList>

#include <functional>
#include <memory>

class QFrame;
class QLabel;
class QMenu;
class QProgressBar;
class QPushButton;
class QUrl;

namespace korvel {

// The external editor's command: the editor, one blank, the program file, neither quoted. An
// editor named by $VISUAL or $EDITOR may bring options of its own, which go before the file.
struct EditorCommand {
    QString editor;
    QString file;
    QStringList options;
    QString commandLine() const
    {
        QStringList words{editor};
        words << options << file;
        return words.join(QLatin1Char(' '));
    }
};

// Starts a program without waiting for it; false with the reason when it cannot be started.
using ProgramStarter = std::function<bool(const EditorCommand &command, QString *reason)>;
bool StartDetachedEditor(const EditorCommand &command, QString *reason);
// Opens a file with the desktop's program for it; false when there is none.
using FileOpener = std::function<bool(const QUrl &file)>;
bool OpenWithDesktop(const QUrl &file);

class frmFlash : public ChildWindow, public BurnView, public ProgressView {
    Q_OBJECT
public:
    // The line is the platform's serial port unless one is given (a test's).
    frmFlash(WindowContext context, QWidget *parent = nullptr, std::unique_ptr<SerialLine> line = {});
    ~frmFlash() override;

    QList<QMenu *> windowMenus() const override;

    void cmdUploadSProg_Click();
    void cmdSetFileName_Click(int index);
    void cmdEditSToBurn_Click();
    void mnu_File_Click(int index);
    void mnu_About_Click();
    void commMain_OnComm(int event);

    // BurnView, ProgressView.
    void setStep(const QString &text) override;
    void setDone(const QString &text) override;
    void setIndicator(Indicator colour) override;
    void setProgress(int percent) override;

    SerialLine &commMain() { return *m_line; }
    TargetLink &link() { return *m_link; }
    FlashBurn &burn() { return *m_burn; }
    void setProgramStarter(ProgramStarter starter) { m_startProgram = std::move(starter); }
    void setFileOpener(FileOpener opener) { m_openFile = std::move(opener); }

signals:
    // "&Configure...": the main window shows its configuration dialog.
    void configureRequested();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void load();
    void closePort();
    void showRate(int sent, int total, qint64 bytes, qint64 elapsedMs);
    void showCountdown(const QString &text);

    WindowContext m_context;
    std::unique_ptr<SerialLine> m_line;
    std::unique_ptr<TargetLink> m_link;
    std::unique_ptr<FlashBurn> m_burn;
    ProgramStarter m_startProgram = StartDetachedEditor;
    FileOpener m_openFile = OpenWithDesktop;
    // Closed while a burn ran: the window stays (hidden) until the burn has returned.
    bool m_closePending = false;

    QPushButton *m_cmdUploadSProg = nullptr;
    QLabel *m_lblFileName0 = nullptr;
    QLabel *m_lblStep2 = nullptr;
    QLabel *m_lblFileName2 = nullptr;
    QFrame *m_shpDone1 = nullptr;
    QLabel *m_lblFlashDone = nullptr;
    QProgressBar *m_progMain = nullptr;
    QLabel *m_lblRate = nullptr;
    QMenu *m_fileMenu = nullptr;
    QMenu *m_aboutMenu = nullptr;
};

} // namespace korvel
