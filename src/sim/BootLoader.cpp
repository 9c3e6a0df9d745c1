#include "sim/BootLoader.h"

#include <algorithm>

namespace korvel::sim {

namespace {

// The two writes to the UART's baud control register that the link makes.
struct SpeedWrite {
    quint32 address;
    quint8 value;
    int baud;
};
constexpr SpeedWrite kSpeedWrites[] = {{0xFFFFF902u, 0x00, 38400}, {0xFFFFF903u, 0x38, 115200}};

constexpr char kGarbledEcho = '?';

bool isHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

quint32 hexValue(const QByteArray &digits)
{
    return digits.toUInt(nullptr, 16);
}

// One character on the line: 10 bits at the speed.
qint64 characterNs(int baud)
{
    return baud > 0 ? qint64(10'000'000'000LL / baud) : 0;
}

} // namespace

char BootLoader::garbled(int listenerBaud, int senderBaud)
{
    // A fast receiver sees a slow start bit as a run of zeros; a slow one sees a fast character
    // as a short glitch with its high bits idle.
    return char(listenerBaud > senderBaud ? 0x80 : 0xF8);
}

BootLoader::Answer &BootLoader::answer(char byte, qint64 readNs, int programBaud)
{
    Answer a;
    a.byte = byte;
    a.baud = m_baud;
    a.withheld = m_silent;
    if (m_options.paced) {
        // The program's characters come one character time apart at its speed, however fast it
        // wrote them; the echo of each takes one character time at the loader's.
        const qint64 arrival = std::max(readNs, m_lastArrivalNs);
        m_lastArrivalNs = arrival + characterNs(programBaud > 0 ? programBaud : m_baud);
        a.dueNs = std::max(m_lastArrivalNs, m_lastDueNs) + characterNs(m_baud);
    } else {
        a.dueNs = readNs;
    }
    m_lastDueNs = a.dueNs;
    m_answers.push_back(a);
    return m_answers.back();
}

void BootLoader::receive(char byte, qint64 readNs, int programBaud)
{
    if (hangingUp() || m_mode == Mode::Running)
        return; // the processor runs code of its own now: nobody listens
    if (programBaud != m_baud) {
        // Garbage in, and its echo is garbage to the program: a record in progress is lost.
        answer(garbled(programBaud, m_baud), readNs, programBaud);
        m_notRecord = true;
        return;
    }
    if (m_mode == Mode::Bootstrap) {
        if (byte != 'x') {
            m_lastArrivalNs = std::max(readNs, m_lastArrivalNs) + characterNs(programBaud);
            return;
        }
        ++m_handshakes;
        if (m_handshakes <= m_options.notReset) {
            m_lastArrivalNs = std::max(readNs, m_lastArrivalNs) + characterNs(programBaud);
            note(EventKind::Fault, m_handshakes,
                                QStringLiteral("handshake %1 ignored (not reset)").arg(m_handshakes));
            return;
        }
        Answer &reply = answer(m_options.echoHandshake ? 'x' : '@', readNs, programBaud);
        if (++m_answeredHandshakes <= m_options.garbleHandshake) {
            reply.byte = kGarbledEcho;
            note(EventKind::Fault, m_answeredHandshakes,
                 QStringLiteral("handshake %1 answered garbled").arg(m_answeredHandshakes));
        }
        m_mode = Mode::Talking;
        m_line.clear();
        m_text.clear();
        m_notRecord = true; // a record begins after a CR
        note(EventKind::HandshakeAnswered);
        return;
    }

    Answer &echo = answer(byte, readNs, programBaud);
    if (byte == '\r') {
        m_line.clear();
        m_text.clear();
        m_notRecord = false;
        return;
    }
    if (m_text.size() < 16)
        m_text += byte;
    if (m_text == "ECHOTEST" && ++m_echoTests <= m_options.garbleEchoTest) {
        echo.byte = kGarbledEcho;
        note(EventKind::Fault, m_echoTests, QStringLiteral("echo test %1 garbled").arg(m_echoTests));
    }
    if (m_notRecord)
        return;
    m_line += byte;
    if (!isHex(byte)) {
        m_notRecord = true; // ECHOTEST and the like: only echoed
        return;
    }
    if (m_line.size() >= 10 && m_line.size() == 10 + 2 * qsizetype(hexValue(m_line.mid(8, 2)))) {
        m_notRecord = true; // what follows before the next CR is only echoed
        recordComplete(echo);
    }
}

void BootLoader::recordComplete(Answer &lastEcho)
{
    m_records.append(m_line);
    const quint32 address = hexValue(m_line.left(8));
    const int count = int(hexValue(m_line.mid(8, 2)));
    if (count == 0) {
        lastEcho.endsExecute = true;
        m_mode = Mode::Running;
        return;
    }

    const int k = ++m_recordCount;
    for (int i = 0; i < count; ++i) {
        const quint32 at = address + quint32(i);
        const auto value = quint8(hexValue(m_line.mid(10 + 2 * i, 2)));
        if (at >= kRegistersFrom) {
            m_registers[at] = value;
            for (const SpeedWrite &w : kSpeedWrites) {
                if (w.address == at && w.value == value)
                    lastEcho.switchTo = w.baud;
            }
        } else {
            m_memory[at] = value;
        }
    }

    if (lastEcho.switchTo > 0 && m_options.loseSwitchEcho) {
        lastEcho.withheld = true;
        note(EventKind::Fault, k, QStringLiteral("last echo character of speed switch record %1 lost").arg(k));
    }
    if (k == m_options.hangUpAt) {
        lastEcho.withheld = true;
        lastEcho.hangsUp = true;
        m_hangingUp = true;
        return;
    }
    if (m_options.silentFrom > 0 && k >= m_options.silentFrom && !m_silent) {
        m_silent = true;
        lastEcho.withheld = true;
        note(EventKind::Fault, k, QStringLiteral("silent from record %1").arg(k));
    } else if (k == m_options.garbleAt) {
        lastEcho.byte = kGarbledEcho;
        note(EventKind::Fault, k, QStringLiteral("garbled echo of record %1").arg(k));
    }
}

std::vector<BootLoader::Answer> BootLoader::takeDue(qint64 nowNs)
{
    std::vector<Answer> due;
    while (!m_answers.empty() && m_answers.front().dueNs <= nowNs) {
        const Answer a = m_answers.front();
        m_answers.pop_front();
        if (a.hangsUp) {
            m_hungUp = true;
            m_answers.clear();
            note(EventKind::HangUp, m_recordCount, QStringLiteral("hang-up at record %1").arg(m_recordCount));
            break;
        }
        due.push_back(a);
        if (a.switchTo > 0 && a.switchTo != m_baud) {
            m_baud = a.switchTo;
            note(EventKind::SpeedSwitched, a.switchTo);
        }
        if (a.endsExecute) {
            const quint32 address = hexValue(m_records.constLast().left(8));
            note(EventKind::Executed, qint64(address));
            if (address == kBurnAddress && m_options.burnReplyMs >= 0) {
                Answer reply;
                reply.dueNs = a.dueNs + qint64(m_options.burnReplyMs) * 1'000'000;
                reply.byte = m_options.burnReply;
                reply.baud = m_baud;
                reply.withheld = m_silent;
                reply.burnReply = true;
                m_answers.push_back(reply);
            }
            if (m_options.hangUpAfterExecute) {
                m_hungUp = true;
                m_answers.clear();
                note(EventKind::HangUp, 0, QStringLiteral("hang-up after the execute record"));
                break;
            }
        }
        if (a.burnReply && !a.withheld)
            note(EventKind::BurnReplied);
    }
    return due;
}

void BootLoader::reset()
{
    const bool fresh = m_mode == Mode::Bootstrap && m_baud == m_options.bootBaud && m_answers.empty();
    m_mode = Mode::Bootstrap;
    m_baud = m_options.bootBaud;
    m_line.clear();
    m_text.clear();
    m_notRecord = true;
    m_answers.clear();
    m_lastArrivalNs = m_lastDueNs = 0;
    if (!fresh)
        note(EventKind::Reset);
}

std::vector<BootLoader::Event> BootLoader::takeEvents()
{
    std::vector<Event> events;
    events.swap(m_events);
    return events;
}

} // namespace korvel::sim
