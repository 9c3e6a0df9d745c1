#pragma once
// The capture sender: plays a record down the line as the instrument sends it, line by line, paced
// like the real line, each marker line standing alone, with the hang-up fault on request.

#include "sim/SimEngine.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QTimer>

class QSocketNotifier;

namespace korvel::sim {

class CaptureSender : public QObject {
    Q_OBJECT
public:
    explicit CaptureSender(QObject *parent = nullptr);
    ~CaptureSender() override;

    // The master end to write to; -1 detaches (a sending record stops).
    void setMaster(int fd);
    void start(const CaptureScript &script);
    // Stops at once: the rest of the record goes to no one.
    void cancel();
    bool sending() const { return m_active; }

signals:
    void recordSent();
    // The hang-up fault struck, or the line cannot be written: the engine drops the line.
    void hangUpWanted(bool graceful);

private:
    void pump();
    void finish();
    bool faultReached() const;

    int m_master = -1;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer m_sendTimer;
    QList<QByteArray> m_pieces;
    qsizetype m_pieceIndex = 0;
    qsizetype m_pieceOffset = 0;
    CaptureScript m_script;
    qint64 m_recordBytesSent = 0;
    bool m_inRecord = false;
    bool m_active = false;
    QElapsedTimer m_clock;
    double m_dueMs = 0; // when the next piece may leave, on m_clock
};

} // namespace korvel::sim
