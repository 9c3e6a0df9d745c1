#pragma once
// A serial line that answers as a test tells it: every send is recorded, and what the script
// returns for it arrives on the next turn of the event loop, as bytes from a real port would.

#include "core/serial/SerialLine.h"

#include <QByteArrayList>
#include <QTimer>

#include <functional>
#include <utility>

namespace korvel::test {

class ScriptedLine : public SerialLine {
public:
    // Given the bytes just sent, the bytes that come back; the default echoes them.
    std::function<QByteArray(const QByteArray &)> answer = [](const QByteArray &bytes) { return bytes; };
    // When set, the answer instead: pieces that arrive one per turn of the event loop, in order,
    // as an adapter hands a reply over in packets.
    std::function<QByteArrayList(const QByteArray &)> answerInPieces;

    QByteArray sent;         // everything sent while open, in order
    QStringList settingsLog; // every settings string set, in order

    void setPortNumber(int n) override { m_device = QStringLiteral("Com %1").arg(n); }
    void setDevice(const QString &device) override { m_device = device; }
    QString device() const override { return m_device; }
    bool open(QString * = nullptr) override
    {
        m_open = true;
        m_buffer.clear();
        return true;
    }
    void close() override
    {
        m_open = false;
        m_buffer.clear();
        m_onTheWay.clear();
    }
    bool isOpen() const override { return m_open; }
    bool setSettings(const QString &text) override
    {
        settingsLog << text;
        m_settings = text;
        return true;
    }
    QString settings() const override { return m_settings; }
    void send(const QByteArray &bytes) override
    {
        if (!m_open)
            return;
        sent += bytes;
        if (answerInPieces) {
            arriveInTurns(answerInPieces(bytes));
            return;
        }
        const QByteArray reply = answer(bytes);
        if (!reply.isEmpty())
            QTimer::singleShot(0, this, [this, reply] { arrive(reply); });
    }
    qint64 waiting() const override { return m_buffer.size(); }
    QByteArray read() override
    {
        const QByteArray out = m_readLength > 0 ? m_buffer.left(m_readLength) : m_buffer;
        m_buffer.remove(0, out.size());
        return out;
    }
    void setReadLength(int length) override { m_readLength = length; }

    // Bytes from the far end, unasked.
    void arrive(const QByteArray &bytes)
    {
        if (!m_open)
            return;
        m_buffer += bytes;
        emit dataArrived();
    }

    // Each piece on a turn of its own, after the pieces still on their way.
    void arriveInTurns(QByteArrayList pieces)
    {
        pieces.removeAll(QByteArray());
        m_onTheWay += pieces;
        if (!m_onTheWay.isEmpty() && m_onTheWay.size() == pieces.size())
            QTimer::singleShot(0, this, [this] { deliverNext(); });
    }

    // The far end goes away: the line closes and says so.
    void lose()
    {
        m_open = false;
        m_buffer.clear();
        m_onTheWay.clear();
        emit lineLost(QStringLiteral("hang-up"));
    }

private:
    void deliverNext()
    {
        if (m_onTheWay.isEmpty())
            return;
        arrive(m_onTheWay.takeFirst());
        if (!m_onTheWay.isEmpty())
            QTimer::singleShot(0, this, [this] { deliverNext(); });
    }

    QByteArrayList m_onTheWay;
    QString m_device;
    QString m_settings = QStringLiteral("9600,N,8,1");
    QByteArray m_buffer;
    int m_readLength = 0;
    bool m_open = false;
};

// The instrument processor's bootstrap loader as a scripted line's answer: whole sends in,
// replies out. It answers the handshake's "x" with "@" and echoes every line unless told to
// misbehave as a real loader or line may.
struct ScriptedLoader {
    enum Handshake { At, Echo, Silent };
    Handshake handshake = At;
    int garbledHandshakeEchoes = 0;        // this many of the handshake's ECHOTEST echoes come back wrong
    bool garbledFinalCheck = false;        // every final check's echo comes back, wrong
    bool losesSwitchLastCharacter = false; // a speed-switch record's last character is never echoed
    int garbleRecord = 0;                  // this CR line (1-based) comes back with its last character changed
    int silentFrom = 0;                    // from this CR line (1-based) on nothing comes back
    int records = 0;                       // CR lines received

    QByteArray operator()(const QByteArray &bytes)
    {
        if (bytes == "x") {
            m_handshakeEchoNext = handshake == Echo;
            return handshake == At ? QByteArray("@") : handshake == Echo ? QByteArray("x") : QByteArray();
        }
        ++records;
        if (silentFrom && records >= silentFrom)
            return {};
        QByteArray echo = bytes;
        if (bytes == "\rECHOTEST") {
            // After an echoed "x" the test line is the handshake's; otherwise a level's final check.
            const bool handshakeEcho = std::exchange(m_handshakeEchoNext, false);
            if (handshakeEcho ? garbledHandshakeEchoes-- > 0 : garbledFinalCheck)
                echo = "\rECHOTEXT";
        } else if (losesSwitchLastCharacter && (bytes == "\rFFFFF9020100" || bytes == "\rFFFFF9030138")) {
            echo.chop(1);
        }
        if (records == garbleRecord)
            echo[echo.size() - 1] = echo.at(echo.size() - 1) == 'A' ? 'B' : 'A';
        return echo;
    }

private:
    bool m_handshakeEchoNext = false;
};

} // namespace korvel::test
