#include "gui/capture/FrmCapture.h"

#include "core/settings/Settings.h"
#include "gui/common/LibrarySession.h"
#include "gui/common/Twips.h"

#include <QMenu>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QStatusBar>
#include <QVBoxLayout>

namespace korvel {

FrmCapture::FrmCapture(WindowContext context, QWidget *parent, std::unique_ptr<SerialLine> line)
    : ChildWindow(parent), m_context(context), m_line(line ? std::move(line) : std::make_unique<SerialPortLine>())
{
    setObjectName(QStringLiteral("FrmCapture"));
    setWindowTitle(QStringLiteral("Korvel Data Capture"));

    m_terminal = new QPlainTextEdit(this);
    m_terminal->setObjectName(QStringLiteral("SaxComm"));
    m_terminal->setReadOnly(true);
    m_terminal->setUndoRedoEnabled(false);
    m_terminal->setMaximumBlockCount(kTerminalLines);
    m_terminal->setLineWrapMode(QPlainTextEdit::NoWrap);
    m_terminal->setFont(QFont(QStringLiteral("Arial"), 10));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_terminal);
    m_status = new QStatusBar(this);
    m_status->setObjectName(QStringLiteral("statCapture"));
    m_status->setSizeGripEnabled(false);
    layout->addWidget(m_status);

    m_menu = new QMenu(QStringLiteral("&File"), this);
    m_menu->setObjectName(QStringLiteral("mnuFile"));
    m_menu->menuAction()->setObjectName(QStringLiteral("mnuFile"));
    QAction *saveAs = m_menu->addAction(QStringLiteral("Save &As..."));
    saveAs->setObjectName(QStringLiteral("mnuFileSaveAs"));
    connect(saveAs, &QAction::triggered, this, &FrmCapture::mnuFileSaveAs_Click);
    m_menu->addSeparator()->setObjectName(QStringLiteral("mnuFile00"));
    m_menu->addSeparator()->setObjectName(QStringLiteral("mnuFile01"));
    QAction *exit = m_menu->addAction(QStringLiteral("E&xit"));
    exit->setObjectName(QStringLiteral("mnuFileExit"));
    connect(exit, &QAction::triggered, this, &FrmCapture::mnuFileExit_Click);

    // Load.
    m_capture = std::make_unique<CaptureLine>(*m_line, context.status, context.prompter);
    connect(m_capture.get(), &CaptureLine::shown, this, &FrmCapture::appendToTerminal);
    connect(m_capture.get(), &CaptureLine::note, this, &FrmCapture::showNote);
    // A flight filed in the library is said, not kept silently.
    connect(m_capture.get(), &CaptureLine::flightKept, this, [this](qint64 id) {
        m_status->showMessage(QStringLiteral("Kept in the flight library as flight %1").arg(id));
    });
    // The flights received go into the library this PC chose, a folder or a server, filed on the
    // library's own thread: the terminal goes on showing what arrives meanwhile.
    m_capture->setLibraryFolder(LibraryLocation());
    m_library = new LibrarySession(m_capture->libraryFolder(), this);
    connect(m_library, &LibrarySession::waiting, this, [this](const QString &text) {
        if (!text.isEmpty())
            m_status->showMessage(text);
        else if (m_status->currentMessage() == m_waiting)
            m_status->clearMessage();
        m_waiting = text;
    });
    m_capture->setFiler([this](const CaptureLine::Filing &filing) {
        if (m_library->location() != filing.library)
            m_library->setLocation(filing.library);
        auto result = std::make_shared<ImportResult>();
        m_library->post(
            [filing, result](FlightLibrary &library) {
                *result = library.importBytes(filing.bytes, filing.source, filing.aircraft);
            },
            [this, result](std::exception_ptr error) {
                try {
                    if (error)
                        std::rethrow_exception(error);
                    m_capture->filed(*result);
                } catch (const LibraryError &failed) {
                    m_capture->filingFailed(failed.message());
                } catch (const std::exception &failed) {
                    m_capture->filingFailed(QString::fromLocal8Bit(failed.what()));
                }
            });
    });
    SetOuterSize(this, 12500, 7100);
    m_capture->load();
}

// The unload: the capture file closes, "NOT Connected ", the line goes with the window.
FrmCapture::~FrmCapture()
{
    m_capture->unload();
}

QList<QMenu *> FrmCapture::windowMenus() const
{
    return {m_menu};
}

void FrmCapture::mnuFileSaveAs_Click()
{
    m_capture->saveAs(m_context.files);
}

void FrmCapture::mnuFileExit_Click()
{
    closeWindow();
}

// The terminal shows the instrument's lines as they come; a chunk may end in mid-line.
void FrmCapture::appendToTerminal(const QByteArray &chunk)
{
    QString text = QString::fromLatin1(chunk);
    text.remove(QLatin1Char('\r'));
    QScrollBar *bar = m_terminal->verticalScrollBar();
    const bool atEnd = bar->value() == bar->maximum();
    QTextCursor cursor(m_terminal->document());
    cursor.movePosition(QTextCursor::End);
    cursor.insertText(text);
    if (atEnd)
        bar->setValue(bar->maximum());
}

void FrmCapture::showNote(const QString &text)
{
    appendToTerminal(text.toLatin1());
}

} // namespace korvel
