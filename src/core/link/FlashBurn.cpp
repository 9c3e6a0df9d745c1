#include "core/link/FlashBurn.h"

#include "core/records/RecordReaders.h"
#include "core/settings/Settings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QScopeGuard>

namespace korvel {

namespace {

// Which burn step failed, and what the user is told.
void ShowFailure(Prompter &prompter, const QString &text)
{
    prompter.showMessage(AppTitle(), text, MessageIcon::Critical, MessageButtons::Ok);
}

} // namespace

FlashBurn::FlashBurn(TargetLink &link, BurnView &view, Prompter &prompter, ProgressView &progress, QObject *parent)
    : QObject(parent), m_link(link), m_view(view), m_prompter(prompter), m_progress(progress)
{
}

QString FlashBurn::registerFile() const
{
    return m_registerFile.value_or(QStringLiteral("init.B"));
}

QString FlashBurn::programFile() const
{
    if (m_programFile)
        return *m_programFile;
    return LastFlashProgram();
}

qint64 FlashBurn::FirstBadChecksumLine(const QString &fileName)
{
    // A relative name is found where the burn finds it: in the program's folder.
    return FirstBadSRecordLine(QFileInfo(QDir(QCoreApplication::applicationDirPath()), fileName).absoluteFilePath());
}

FlashBurn::Outcome FlashBurn::run()
{
    if (m_running)
        return Outcome::AlreadyRunning;
    m_running = true;
    emit runningChanged(true);
    const Outcome outcome = burn();
    m_running = false;
    emit runningChanged(false);
    return outcome;
}

FlashBurn::Outcome FlashBurn::burn()
{
    const QString programDir = QCoreApplication::applicationDirPath();

    // A damaged program would be burnt as it is: the loader checks nothing but the echo.
    const QString program = programFile();
    if (const qint64 bad = FirstBadChecksumLine(program)) {
        const QString text = QStringLiteral("The program file %1 has a wrong checksum in line %2: it may be "
                                            "damaged.\r\nPress OK to burn it anyway, Cancel to stop.")
                                 .arg(program)
                                 .arg(bad);
        // Burning a damaged program is the risky answer: Enter does not give it.
        if (m_prompter.showMessage(AppTitle(), text, MessageIcon::Exclamation, MessageButtons::OkCancel,
                                   MessageAnswer::Cancel) == MessageAnswer::Cancel)
            return Outcome::Declined;
    }

    m_link.DisconnectTarget();
    m_link.AbortSend = false;
    m_view.setStep(QStringLiteral("Waiting..."));
    m_view.setDone(QStringLiteral("Waiting..."));
    m_view.setIndicator(BurnView::Indicator::Red);

    if (!m_link.ConnectTarget()) {
        if (m_link.cancelled())
            return Outcome::WindowClosed;
        m_view.setDone(QStringLiteral("Error"));
        ShowFailure(m_prompter, QStringLiteral("Could Not Connect"));
        return Outcome::ConnectFailed;
    }

    QDir::setCurrent(programDir);
    if (!m_link.UploadBRecordFile(registerFile())) {
        m_view.setDone(QStringLiteral("Error"));
        if (m_link.cancelled())
            return Outcome::Stopped;
        m_view.setStep(QStringLiteral("Uploading of B-Record Register File failed"));
        ShowFailure(m_prompter, QStringLiteral("Could not load B-Record file"));
        return Outcome::RegisterFailed;
    }

    m_view.setStep(QStringLiteral("Loading New Program"));
    m_link.line().setReadLength(0);
    m_link.line().read();

    QDir::setCurrent(programDir);
    bool uploaded = m_link.UploadSRecordFile(programFile());
    // A line that went away after the last record's echo: the program did not get its start, and
    // the upload failed as surely as when a record is lost. The line is given a moment to say so
    // before the start record leaves.
    if (uploaded && m_link.waitFor([] { return false; }, 1) == TargetLink::WaitEnd::Closed)
        uploaded = false;
    if (uploaded && !m_link.cancelled() && (m_link.lineLost() || !m_link.line().isOpen())) {
        m_link.reportLineLost();
        m_link.DisconnectTarget();
        uploaded = false;
    }
    if (!uploaded) {
        m_view.setDone(QStringLiteral("Error"));
        if (m_link.cancelled())
            return Outcome::Stopped;
        ShowFailure(m_prompter, QStringLiteral("Uploading of Program to Flash Failed"));
        return Outcome::ProgramFailed;
    }

    m_view.setStep(QStringLiteral("Burning Code into Flash"));
    m_link.SendExecuteRecord(QStringLiteral("8000"));
    // The start record's echo did not come back (its time-out is shown, the link is closed), or
    // the line went: the instrument may be burning all the same, and nothing will answer here.
    if (m_link.cancelled()) {
        m_view.setDone(QStringLiteral("Error"));
        return Outcome::Stopped;
    }
    if (!m_link.line().isOpen()) {
        if (m_link.lineLost())
            m_link.reportLineLost();
        else
            ShowFailure(m_prompter, m_link.burningAdvice(false));
        m_link.DisconnectTarget();
        m_view.setDone(QStringLiteral("Error"));
        return Outcome::Stopped;
    }

    // The instrument burns its flash and says so with any byte; without one the wait runs out.
    m_view.setStep(QStringLiteral("Burning Flash"));
    const int intervals = m_link.timing.burnIntervals;
    const auto waitText = [&](int n) {
        const qint64 leftMs = qint64(intervals - n + 1) * m_link.timing.burnIntervalMs;
        return QStringLiteral("Waiting for the instrument to finish burning: %1 s").arg((leftMs + 999) / 1000);
    };
    const auto clearWait = qScopeGuard([this] { m_link.showCountdown(QString()); });
    for (int n = 1; n <= intervals; ++n) {
        m_link.showCountdown(waitText(n));
        const TargetLink::WaitEnd end =
            m_link.waitFor([this] { return m_link.line().waiting() >= 1; }, m_link.timing.burnIntervalMs);
        if (end == TargetLink::WaitEnd::Closed || end == TargetLink::WaitEnd::LineLost) {
            if (end == TargetLink::WaitEnd::LineLost) {
                m_link.reportLineLost();
                m_link.DisconnectTarget();
            }
            m_view.setDone(QStringLiteral("Error"));
            return Outcome::Stopped;
        }
        m_progress.setProgress(RoundedPercent(n, intervals));
    }
    m_view.setDone(QStringLiteral("Finished"));
    m_view.setIndicator(BurnView::Indicator::Green);
    return Outcome::Finished;
}

} // namespace korvel
