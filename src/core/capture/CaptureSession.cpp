#include "core/capture/CaptureSession.h"

#include "core/flight/StartMarker.h"
#include "core/platform/Files.h"
#include "core/ui/UiInterfaces.h"


#include <cerrno>
#include <cstring>

namespace korvel {

namespace {

QString systemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error ? error : EIO));
}

// Puts the file's bytes on the disk, so that a power cut keeps every chunk received. A disk that
// only finds out now that it is full (or failing) says so here; devices that cannot be synced
// (a terminal, /dev/null) are fine as they are.
bool syncToDisk(QFile &file, QString *reason)
{
    return platform::SyncFileData(file, reason);
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
    // Unbuffered: each chunk goes to the system as it comes, so a write that fails is known at once,
    // with the system's reason.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
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
    const std::string_view text(chunk.constData(), std::size_t(chunk.size()));
    if (m_state == Armed) {
        switch (ChunkStartMarker(text)) {
        case RecordMarker::Flight:
            m_state = ReceivingFlight;
            break;
        case RecordMarker::Calibration:
            m_state = ReceivingCalibration;
            m_calEndCount = 0;
            break;
        case RecordMarker::None:
            break;
        }
    }
    if (m_state == ReceivingFlight) {
        if (!append(chunk))
            return false;
        if (markers::Holds(text, markers::kEnd))
            finish();
    }
    if (m_state == ReceivingCalibration) {
        if (!append(chunk))
            return false;
        if (markers::Holds(text, markers::kEnd) && ++m_calEndCount > 4)
            finish();
    }
    return true;
}

bool CaptureSession::append(const QByteArray &chunk)
{
    QString reason;
    if (!m_file || !m_file->isOpen()) {
        reason = QStringLiteral("the capture file is not open");
    } else {
        // A disk that fills up takes part of a chunk and reports nothing for it: the rest is
        // offered again, and that write fails with the system's reason (no space left, file too
        // large, quota).
        qint64 written = 0;
        while (written < chunk.size()) {
            errno = 0;
            const qint64 n = m_file->write(chunk.constData() + written, chunk.size() - written);
            if (n <= 0) {
                const int error = errno;
                reason = m_file->errorString();
                if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
                    reason = systemReason(error);
                break;
            }
            written += n;
        }
        if (written == chunk.size() && syncToDisk(*m_file, &reason))
            return true;
    }
    m_writeError = reason;
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
