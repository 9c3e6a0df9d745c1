#include "capture/CaptureLine.h"

#include "settings/Settings.h"

#include <QFileInfo>

namespace korvel {

CaptureLine::CaptureLine(SerialLine &line, StatusLine &status, Prompter &prompter, QObject *parent)
    : QObject(parent), m_line(line), m_status(status), m_prompter(prompter), m_session(status)
{
    connect(&m_line, &SerialLine::dataArrived, this, &CaptureLine::receive);
    connect(&m_line, &SerialLine::lineLost, this, [this](const QString &reason) {
        receive();
        QString text = QStringLiteral("\n[The line to the instrument was lost: %1.").arg(reason);
        if (m_session.CaptureState() >= CaptureSession::ReceivingFlight)
            text += QStringLiteral(" The chunks received so far are kept in the capture file.");
        emit note(text + QStringLiteral("]\n"));
        // "Connected " or "Done" would no longer be true.
        m_status.setStatus(QStringLiteral("NOT Connected "));
        emit lineLost(reason);
    });
}

CaptureLine::~CaptureLine()
{
    unload();
}

QString CaptureLine::SuggestedFileName(const QDate &day)
{
    return QStringLiteral("Ostrel ") + day.toString(QStringLiteral("MM-dd-yyyy")) + QStringLiteral(".txt");
}

bool CaptureLine::load(const QString &device)
{
    m_unloaded = false;
    if (device.isEmpty())
        m_line.setPortNumber(
            SettingNumber(GetSetting(AppTitle(), QStringLiteral("Configuration"), QStringLiteral("COMMPORT"), 0)) + 1);
    else
        m_line.setDevice(device);
    QString reason;
    const bool opened = m_line.open(&reason);
    if (opened) {
        m_status.setStatus(QStringLiteral("Connected "));
    } else {
        m_prompter.showMessage(AppTitle(),
                               QStringLiteral("The capture line %1 could not be opened: %2")
                                   .arg(m_line.device(), reason.isEmpty() ? QStringLiteral("unknown reason") : reason),
                               MessageIcon::Critical, MessageButtons::Ok);
        m_status.setStatus(QStringLiteral("NOT Connected "));
    }
    m_line.setSettings(QStringLiteral("19200,n,8,1"));
    return opened;
}

void CaptureLine::saveAs(FileChooser &files)
{
    const FileDialogRequest request =
        WritableTextFile(QStringLiteral("Data Log File Name"), SuggestedFileName(QDate::currentDate()));
    try {
        if (const std::optional<QString> name = files.chooseFile(request))
            arm(*name);
    } catch (...) {
    }
}

void CaptureLine::arm(const QString &fileName)
{
    QString error;
    if (!m_session.arm(QFileInfo(fileName).absoluteFilePath(), &error))
        emit note(QStringLiteral("\n[The capture file %1 could not be opened: %2]\n").arg(fileName, error));
}

void CaptureLine::receive()
{
    const QByteArray chunk = m_line.read();
    if (chunk.isEmpty())
        return;
    emit shown(chunk);
    const int before = m_session.CaptureState();
    if (!m_session.receive(chunk)) {
        emit note(QStringLiteral("\n[Capture stopped: %1. What was written before stays in the file.]\n")
                      .arg(m_session.writeError()));
        return;
    }
    if (before != CaptureSession::Idle && m_session.CaptureState() == CaptureSession::Idle)
        emit recordDone();
}

void CaptureLine::closeQuietly()
{
    m_unloaded = true;
    m_session.close();
    m_line.close();
}

void CaptureLine::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_session.close();
    m_line.close();
    m_status.setStatus(QStringLiteral("NOT Connected "));
}

} // namespace korvel
