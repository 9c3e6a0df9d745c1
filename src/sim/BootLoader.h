#pragma once
// The bootstrap loader's logic, apart from the line: bytes come in with the moment they were read
// and the speed the program talks at; answers go out each with the moment it is due. The engine's
// wire thread drives it (see LoaderOptions for what the loader does).

#include "sim/SimEngine.h"

#include <deque>
#include <vector>

namespace korvel::sim {

class BootLoader {
public:
    // One character going back to the program.
    struct Answer {
        qint64 dueNs = 0;      // steady clock
        char byte = 0;
        int baud = 0;          // the speed it leaves at
        bool withheld = false; // silenced: nothing leaves, but its moment passes all the same
        int switchTo = 0;      // once it has left, the loader talks at this speed
        bool endsExecute = false;
        bool burnReply = false;
        bool hangsUp = false; // instead of leaving, the line drops
    };
    enum class EventKind { HandshakeAnswered, SpeedSwitched, Executed, BurnReplied, Fault, HangUp, Reset };
    struct Event {
        EventKind kind;
        qint64 value = 0;
        QString text;
    };

    static constexpr int kBootBaud = 19200;
    static constexpr quint32 kRegistersFrom = 0xFFFFF000u;
    static constexpr quint32 kBurnAddress = 0x8000u;

    explicit BootLoader(const LoaderOptions &options) : m_options(options), m_baud(options.bootBaud) {}
    void setOptions(const LoaderOptions &options) { m_options = options; }
    bool paced() const { return m_options.paced; }
    const LoaderOptions &options() const { return m_options; }

    // A byte the program sent, read at readNs while the program's line was at programBaud.
    void receive(char byte, qint64 readNs, int programBaud);
    // Takes the answers due by nowNs, in order, and applies what their leaving does.
    std::vector<Answer> takeDue(qint64 nowNs);
    // When the next answer is due; -1 when none is waiting.
    qint64 nextDueNs() const { return m_answers.empty() ? -1 : m_answers.front().dueNs; }
    // The instrument is reset: bootstrap mode at its waking speed (19200), waiting for the handshake. What it has
    // received stays, and so does a silence fault that struck.
    void reset();
    std::vector<Event> takeEvents();

    int baud() const { return m_baud; }
    bool hungUp() const { return m_hungUp; }
    bool hangingUp() const { return m_hangingUp || m_hungUp; }
    const QMap<quint32, quint8> &memory() const { return m_memory; }
    const QMap<quint32, quint8> &registers() const { return m_registers; }
    const QList<QByteArray> &records() const { return m_records; }

    // What a UART at listenerBaud makes of a character sent at senderBaud.
    static char garbled(int listenerBaud, int senderBaud);

private:
    enum class Mode { Bootstrap, Talking, Running };

    Answer &answer(char byte, qint64 readNs, int programBaud);
    void recordComplete(Answer &lastEcho);
    void note(EventKind kind, qint64 value = 0, const QString &text = QString())
    {
        m_events.push_back({kind, value, text});
    }

    LoaderOptions m_options;
    Mode m_mode = Mode::Bootstrap;
    int m_baud = kBootBaud;
    QByteArray m_line;        // the characters since the last CR
    bool m_notRecord = false; // the line cannot be (or no longer is) a record
    int m_handshakes = 0;     // "x" handshakes heard in bootstrap mode since the start
    int m_answeredHandshakes = 0;
    int m_echoTests = 0;      // ECHOTEST lines heard since the start
    QByteArray m_text;        // every character since the last CR (a few, for ECHOTEST)
    int m_recordCount = 0;    // complete data records since the start
    bool m_silent = false;
    bool m_hangingUp = false; // the line drops once the earlier echoes have left
    bool m_hungUp = false;
    qint64 m_lastArrivalNs = 0;
    qint64 m_lastDueNs = 0;
    std::deque<Answer> m_answers;
    std::vector<Event> m_events;
    QMap<quint32, quint8> m_memory;
    QMap<quint32, quint8> m_registers;
    QList<QByteArray> m_records;
};

} // namespace korvel::sim
