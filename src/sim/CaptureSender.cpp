#include "sim/CaptureSender.h"

#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <cmath>

#include <unistd.h>

namespace korvel::sim {

namespace {

// A marker-bearing line is followed by this pause so the reader sees it as a chunk of its own.
constexpr int kMarkerPauseMs = 120;

QList<QByteArray> splitLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype lf = text.indexOf('\n', from);
        const qsizetype end = lf < 0 ? text.size() : lf + 1;
        lines.append(text.mid(from, end - from));
        from = end;
    }
    return lines;
}

} // namespace

CaptureSender::CaptureSender(QObject *parent) : QObject(parent)
{
    m_sendTimer.setSingleShot(true);
    connect(&m_sendTimer, &QTimer::timeout, this, &CaptureSender::pump);
}

CaptureSender::~CaptureSender() = default;

void CaptureSender::setMaster(int fd)
{
    delete m_writeNotifier;
    m_writeNotifier = nullptr;
    m_master = fd;
    if (fd < 0) {
        m_sendTimer.stop();
        m_active = false;
        return;
    }
    m_writeNotifier = new QSocketNotifier(fd, QSocketNotifier::Write, this);
    m_writeNotifier->setEnabled(false);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, [this] {
        m_writeNotifier->setEnabled(false);
        pump();
    });
}

void CaptureSender::start(const CaptureScript &script)
{
    m_script = script;
    m_pieces.clear();
    if (!script.preamble.isEmpty())
        m_pieces.append(script.preamble);
    m_pieces.append(splitLines(script.record));
    m_pieceIndex = 0;
    m_pieceOffset = 0;
    m_recordBytesSent = 0;
    m_inRecord = script.preamble.isEmpty();
    m_active = true;
    m_clock.start();
    m_dueMs = 0;
    pump();
}

void CaptureSender::cancel()
{
    if (!m_active)
        return;
    m_active = false;
    m_sendTimer.stop();
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
}

void CaptureSender::finish()
{
    m_active = false;
    m_sendTimer.stop();
    if (m_writeNotifier)
        m_writeNotifier->setEnabled(false);
    emit recordSent();
}

bool CaptureSender::faultReached() const
{
    return m_inRecord && m_script.hangUpAfter >= 0 && m_recordBytesSent >= m_script.hangUpAfter;
}

// Writes what may leave now; returns when the line must carry it first or the pty is full.
void CaptureSender::pump()
{
    while (m_active && m_master >= 0) {
        if (faultReached()) {
            // Stop writing; the reader gets time to take what is on the line before it drops.
            m_active = false;
            emit hangUpWanted(true);
            return;
        }
        if (m_pieceIndex >= m_pieces.size()) {
            finish();
            return;
        }
        if (m_script.paced || m_pieceOffset == 0) {
            const double now = double(m_clock.nsecsElapsed()) / 1e6;
            if (now + 0.5 < m_dueMs) {
                m_sendTimer.start(std::max(1, int(std::ceil(m_dueMs - now))));
                return;
            }
        }
        const QByteArray &piece = m_pieces[m_pieceIndex];
        qint64 want = piece.size() - m_pieceOffset;
        if (m_inRecord && m_script.hangUpAfter >= 0)
            want = std::min<qint64>(want, m_script.hangUpAfter - m_recordBytesSent);
        const ssize_t n = ::write(m_master, piece.constData() + m_pieceOffset, size_t(want));
        if (n < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                m_writeNotifier->setEnabled(true);
                return;
            }
            m_active = false;
            emit hangUpWanted(false);
            return;
        }
        m_pieceOffset += n;
        if (m_inRecord)
            m_recordBytesSent += n;
        if (m_pieceOffset < piece.size()) {
            if (faultReached())
                continue;
            m_writeNotifier->setEnabled(true); // the pty is full: go on when it drains
            return;
        }
        // A whole piece is out: the next one leaves when the line has carried this one, and a
        // marker line stands alone.
        const bool marker = piece.toUpper().contains("END") || m_pieceIndex == 0;
        double gap =
            m_script.paced ? 1000.0 * double(piece.size()) / std::max(1, m_script.charactersPerSecond) : 0.0;
        if (marker)
            gap = std::max(gap, double(kMarkerPauseMs));
        const double now = double(m_clock.nsecsElapsed()) / 1e6;
        m_dueMs = std::max(m_dueMs, now - 50.0) + gap; // catch up after a stall, but never burst
        if (m_pieceIndex == 0)
            m_inRecord = true; // past the preamble (or the first line of the record itself)
        ++m_pieceIndex;
        m_pieceOffset = 0;
    }
}

} // namespace korvel::sim
