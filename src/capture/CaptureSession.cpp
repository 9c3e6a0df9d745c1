#include "capture/CaptureSession.h"

#include "app/UiInterfaces.h"

#ifdef Q_OS_WIN
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace korvel {

namespace {

bool containsMarker(const QByteArray &chunk, const char *marker)
{
    return chunk.toUpper().contains(marker);
}

// Puts the file's bytes on the disk, so that a power cut keeps every chunk received.
void syncToDisk(QFile &file)
{
#ifdef Q_OS_WIN
    FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(file.handle())));
#elif defined(Q_OS_MACOS)
    ::fsync(file.handle());
#else
    ::fdatasync(file.handle());
#endif
}

} // namespace

CaptureSession::CaptureSession(StatusLine &status) : m_status(status) {}

CaptureSession::~CaptureSession()
{
    close();
}

bool CaptureSession::arm(const QString &fileName, QString *error)
{
    close();
    m_writeError.clear();
    m_status.setStatus(QStringLiteral("Capture Data To:") + fileName);
    auto file = std::make_unique<QFile>(fileName);
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = file->errorString();
        m_state = Idle;
        return false;
    }
    m_file = std::move(file);
    m_state = Armed;
    return true;
}

bool CaptureSession::receive(const QByteArray &chunk)
{
    if (chunk.isEmpty())
        return true;
    // The three tests run one after another on the same chunk: a chunk holding the start marker
    // and END starts and ends a record at once.
    if (m_state == Armed) {
        if (containsMarker(chunk, "FLIGHT")) {
            m_state = ReceivingFlight;
        } else if (containsMarker(chunk, "CAL")) {
            m_state = ReceivingCalibration;
            m_calEndCount = 0;
        }
    }
    if (m_state == ReceivingFlight) {
        if (!append(chunk))
            return false;
        if (containsMarker(chunk, "END"))
            finish();
    }
    if (m_state == ReceivingCalibration) {
        if (!append(chunk))
            return false;
        if (containsMarker(chunk, "END") && ++m_calEndCount > 4)
            finish();
    }
    return true;
}

bool CaptureSession::append(const QByteArray &chunk)
{
    if (m_file && m_file->isOpen() && m_file->write(chunk) == chunk.size() && m_file->flush()) {
        syncToDisk(*m_file);
        return true;
    }
    m_writeError = m_file ? m_file->errorString() : QStringLiteral("the capture file is not open");
    close();
    m_state = Idle;
    return false;
}

void CaptureSession::finish()
{
    m_state = Idle;
    close();
    m_status.setStatus(QStringLiteral("Done"));
}

void CaptureSession::close()
{
    if (m_file) {
        m_file->close();
        m_file.reset();
    }
}

} // namespace korvel
