#pragma once
// A serial line that answers as a test tells it: every send is recorded, and what the script
// returns for it arrives on the next turn of the event loop, as bytes from a real port would.

#include "core/serial/SerialLine.h"

#include <QTimer>

#include <functional>

namespace korvel::test {

class ScriptedLine : public SerialLine {
public:
    // Given the bytes just sent, the bytes that come back; the default echoes them.
    std::function<QByteArray(const QByteArray &)> answer = [](const QByteArray &bytes) { return bytes; };

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

    // The far end goes away: the line closes and says so.
    void lose()
    {
        m_open = false;
        m_buffer.clear();
        emit lineLost(QStringLiteral("hang-up"));
    }

private:
    QString m_device;
    QString m_settings = QStringLiteral("9600,N,8,1");
    QByteArray m_buffer;
    int m_readLength = 0;
    bool m_open = false;
};

} // namespace korvel::test
