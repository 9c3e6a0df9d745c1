#pragma once
// The capture window "Korvel Data Capture": opens the capture line when it loads, shows what
// the instrument sends, and writes the next record to the file chosen with Save As.

#include "core/capture/CaptureLine.h"
#include "gui/common/ChildWindow.h"
#include "gui/common/WindowContext.h"

#include <memory>

class QMenu;
class QPlainTextEdit;
class QStatusBar;

namespace korvel {

class LibrarySession;

class FrmCapture : public ChildWindow {
    Q_OBJECT
public:
    // The line is the platform's serial port unless one is given (a test's).
    FrmCapture(WindowContext context, QWidget *parent = nullptr, std::unique_ptr<SerialLine> line = {});
    ~FrmCapture() override;

    QList<QMenu *> windowMenus() const override;

    void mnuFileSaveAs_Click();
    void mnuFileExit_Click();

    int CaptureState() const { return m_capture->session().CaptureState(); }
    int CalEndCount() const { return m_capture->session().CalEndCount(); }
    CaptureLine &capture() { return *m_capture; }

    // How much of the received text the terminal area keeps, in lines.
    static constexpr int kTerminalLines = 5000;

private:
    void appendToTerminal(const QByteArray &chunk);
    void showNote(const QString &text);

    WindowContext m_context;
    std::unique_ptr<SerialLine> m_line;
    std::unique_ptr<CaptureLine> m_capture;
    QPlainTextEdit *m_terminal = nullptr;
    QMenu *m_menu = nullptr;
    QStatusBar *m_status = nullptr; // what became of the flights received (kept in the library)
    LibrarySession *m_library = nullptr; // files them off the window's thread
    QString m_waiting;                   // the status bar's "Still waiting for ..." while it shows
};

} // namespace korvel
