#include "core/capture/CaptureLine.h"

#include "core/flight/StartMarker.h"
#include "core/settings/Settings.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>

namespace korvel {

CaptureLine::CaptureLine(SerialLine &line, StatusLine &status, Prompter &prompter, QObject *parent)
    : QObject(parent), m_line(line), m_status(status), m_prompter(prompter), m_session(status),
      m_libraryFolder(FlightLibrary::DefaultFolder())
{
    connect(&m_line, &SerialLine::dataArrived, this, &CaptureLine::receive);
    connect(&m_line, &SerialLine::lineLost, this, [this](const QString &reason) {
        receive();
        QString text = QStringLiteral("\n[The line to the instrument went away (%1).").arg(reason);
        if (m_session.CaptureState() >= CaptureSession::ReceivingFlight)
            text += QStringLiteral(" The chunks received so far are kept in the capture file.");
        emit note(text + QStringLiteral(" Check the cable and the adapter, then start the capture again.]\n"));
        // "Connected " or "Done" would no longer be true.
        m_status.setStatus(QStringLiteral("NOT Connected "));
        m_saidNotConnected = true;
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
        m_line.setPortNumber(CommPort());
    else
        m_line.setDevice(device);
    QString reason;
    const bool opened = m_line.open(&reason);
    m_saidNotConnected = !opened;
    if (opened) {
        m_status.setStatus(QStringLiteral("Connected "));
    } else {
        m_prompter.showMessage(AppTitle(), PortOpenFailureText(m_line.device(), reason), MessageIcon::Critical,
                               MessageButtons::Ok);
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
    m_saidNotConnected = false; // the status names the file now
    QString error;
    m_captureFile = QFileInfo(fileName).absoluteFilePath();
    if (!m_session.arm(m_captureFile, &error))
        emit note(QStringLiteral("\n[The capture file %1 could not be created: %2. Choose another file or folder.]\n")
                      .arg(fileName, error));
}

void CaptureLine::receive()
{
    const QByteArray chunk = m_line.read();
    if (chunk.isEmpty())
        return;
    emit shown(chunk);
    keep(chunk);
    const int before = m_session.CaptureState();
    if (!m_session.receive(chunk)) {
        emit note(QStringLiteral("\n[Capture stopped: the capture file could not be written (%1). What was "
                                 "received before stays in the file. Free some space or choose another disk, "
                                 "then start the capture again.]\n")
                      .arg(m_session.writeError()));
        return;
    }
    if (before != CaptureSession::Idle && m_session.CaptureState() == CaptureSession::Idle) {
        m_saidNotConnected = false; // "Done"
        // The capture file's record, when it began elsewhere than the keeper's (the keeper has
        // the same bytes otherwise; the library skips a calibration record).
        QFile file(m_captureFile);
        if (file.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = file.readAll();
            if (bytes != m_lastKept)
                addToLibrary(bytes, m_captureFile);
        }
        emit recordDone();
    }
}

void CaptureLine::keep(const QByteArray &chunk)
{
    const std::string_view text(chunk.constData(), std::size_t(chunk.size()));
    const bool startsFlight = ChunkStartMarker(text) == RecordMarker::Flight;
    if (!m_keeping && startsFlight) {
        m_keeping = true;
        m_kept.clear();
    }
    if (!m_keeping)
        return;
    m_kept += chunk;
    if (!markers::Holds(text, markers::kEnd))
        return;
    m_keeping = false;
    m_lastKept = std::exchange(m_kept, QByteArray());
    // Named after the capture file when this chunk goes into one, else after the moment it came.
    const int state = m_session.CaptureState();
    const bool intoFile = state >= CaptureSession::ReceivingFlight || (state == CaptureSession::Armed && startsFlight);
    const QString source =
        intoFile ? m_captureFile : QStringLiteral("capture ") + QDateTime::currentDateTime().toString(Qt::ISODate);
    addToLibrary(m_lastKept, source);
}

void CaptureLine::addToLibrary(const QByteArray &bytes, const QString &source)
{
    if (m_libraryFolder.isEmpty())
        return;
    const Filing filing{m_libraryFolder, bytes, source, ThisPcsAircraft()};
    if (m_filer) {
        m_filer(filing);
        return;
    }
    try {
        FlightLibrary library(filing.library);
        filed(library.importBytes(filing.bytes, filing.source, filing.aircraft));
    } catch (const LibraryError &error) {
        filingFailed(error.message());
    }
}

void CaptureLine::filed(const ImportResult &result)
{
    if (result.outcome != ImportResult::Skipped)
        emit flightKept(result.id);
}

void CaptureLine::filingFailed(const QString &reason)
{
    emit note(QStringLiteral("\n[The flight could not be kept in the flight library: %1.]\n").arg(reason));
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
    // Said once: a line that could not open, or went away, has said it already.
    if (!m_saidNotConnected)
        m_status.setStatus(QStringLiteral("NOT Connected "));
    m_saidNotConnected = true;
}

} // namespace korvel
