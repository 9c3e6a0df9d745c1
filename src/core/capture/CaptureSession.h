#pragma once
// The capture protocol: the receive-only line on which the instrument dumps a record between its
// start marker ("FLIGHT" or "CAL") and its end ("END"; the fifth END chunk for CAL). Every chunk is
// examined whole; markers are found anywhere in it, in any letter case, and a chunk that holds both
// start markers starts a flight (the chunk's case of the start-marker rule, StartMarker.h).

#include <QByteArray>
#include <QFile>
#include <QString>

#include <memory>

namespace korvel {

class StatusLine;

class CaptureSession {
public:
    enum State { Idle = 0, Armed = 1, ReceivingFlight = 2, ReceivingCalibration = 3 };

    explicit CaptureSession(StatusLine &status);
    ~CaptureSession();

    int CaptureState() const { return m_state; }
    int CalEndCount() const { return m_calEndCount; }

    // The capture file chosen: an earlier open file is closed first (its bytes stay), the new one
    // is emptied and the capture armed. "Capture Data To:" + the name goes to the status either way.
    // False (with the system's reason) when the file cannot be opened; the capture is then idle.
    bool arm(const QString &fileName, QString *error = nullptr);

    // One chunk, as one read of the line returned it. Returns false when the write to the capture
    // file failed: the capture then stops, keeping what was written (see writeError()).
    bool receive(const QByteArray &chunk);

    // Closes the capture file (the window's unload); a record still arriving keeps what came.
    void close();

    QString writeError() const { return m_writeError; }
    bool fileOpen() const { return m_file && m_file->isOpen(); }

private:
    bool append(const QByteArray &chunk);
    void finish();

    StatusLine &m_status;
    std::unique_ptr<QFile> m_file;
    int m_state = Idle;
    int m_calEndCount = 0;
    QString m_writeError;
};

} // namespace korvel
