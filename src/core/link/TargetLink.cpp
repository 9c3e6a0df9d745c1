#include "core/link/TargetLink.h"

#include "core/records/HexText.h"
#include "core/records/RecordReaders.h"
#include "core/settings/Settings.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QTimer>

#include <algorithm>
#include <cmath>

// Which record failed and why, for a support question (QT_LOGGING_RULES="korvel.link.debug=true").
Q_LOGGING_CATEGORY(lcLink, "korvel.link", QtWarningMsg)

namespace korvel {

namespace {

const QString kResetPrompt = QStringLiteral("Please reset target and press OK to try again.\r\nCancel to not connect.");
const QString kEchoTest = QStringLiteral("ECHOTEST");

// The speed the loader is switched to by each register record, in the order they are sent.
struct SpeedStep {
    const char *record;
    const char *settings;
};
constexpr SpeedStep kSpeedSteps[] = {
    {"FFFFF9020100", "38400,N,8,1"},
    {"FFFFF9030138", "115200,N,8,1"},
};

} // namespace

int RoundedPercent(qint64 i, qint64 last)
{
    if (last <= 0)
        return 100;
    const qint64 num = i * 100;
    qint64 whole = num / last;
    const qint64 twiceRest = 2 * (num % last);
    if (twiceRest > last || (twiceRest == last && (whole & 1)))
        ++whole;
    return int(whole);
}

TargetLink::TargetLink(SerialLine &line, StatusLine &status, Prompter &prompter, ProgressView &progress,
                       CancelHook cancelled, QObject *parent)
    : QObject(parent), m_line(line), m_status(status), m_prompter(prompter), m_progress(progress),
      m_cancelled(std::move(cancelled))
{
    connect(&m_line, &SerialLine::lineLost, this, [this] { m_lineLost = true; });
}

TargetLink::~TargetLink() = default;

void TargetLink::windowClosed()
{
    emit wakeWaits();
}

TargetLink::WaitEnd TargetLink::waitFor(const std::function<bool()> &ready, int timeoutMs)
{
    if (ready())
        return WaitEnd::Ready;
    if (m_lineLost && !m_line.isOpen())
        return WaitEnd::LineLost;

    struct Depth {
        int &n;
        explicit Depth(int &depth) : n(depth) { ++n; }
        ~Depth() { --n; }
    } depth(m_waitDepth);

    QElapsedTimer clock;
    clock.start();
    const qint64 limitNs = qint64(timeoutMs) * 1000000;
    QEventLoop loop;
    // A loop ended from outside (the application is quitting) counts as the window closing.
    WaitEnd end = WaitEnd::Closed;
    const auto finish = [&](WaitEnd why) {
        end = why;
        loop.quit();
    };
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    connect(&m_line, &SerialLine::dataArrived, &loop, [&] {
        if (ready())
            finish(WaitEnd::Ready);
    });
    connect(&m_line, &SerialLine::lineLost, &loop, [&] { finish(ready() ? WaitEnd::Ready : WaitEnd::LineLost); });
    connect(this, &TargetLink::wakeWaits, &loop, [&] { finish(WaitEnd::Closed); });
    // A wait has run out when more than its time has passed, not when exactly that much has.
    connect(&deadline, &QTimer::timeout, &loop, [&] {
        if (ready())
            finish(WaitEnd::Ready);
        else if (clock.nsecsElapsed() > limitNs)
            finish(WaitEnd::TimedOut);
        else
            deadline.start(int((limitNs - clock.nsecsElapsed()) / 1000000) + 1);
    });
    deadline.start(timeoutMs);
    loop.exec();
    return end;
}

bool TargetLink::openPort()
{
    if (m_device.isEmpty())
        m_line.setPortNumber(
            SettingNumber(GetSetting(AppTitle(), QStringLiteral("Configuration"), QStringLiteral("COMMPORT"), 0)) + 1);
    else
        m_line.setDevice(m_device);
    m_lineLost = false;
    m_lostReported = false;
    if (m_line.isOpen())
        return true;
    QString reason;
    if (m_line.open(&reason))
        return true;
    m_prompter.showMessage(AppTitle(), PortOpenFailureText(m_line.device(), reason), MessageIcon::Critical,
                           MessageButtons::Ok);
    return false;
}

bool TargetLink::ConnectTarget()
{
    const bool opened = openPort();
    IsConnected = false;
    if (opened) {
        IsConnecting = true;
        double index =
            m_speedIndex
                ? *m_speedIndex
                : SettingValue(GetSetting(AppTitle(), QStringLiteral("Configuration"), QStringLiteral("COMMSPEED"), 0));
        index = std::nearbyint(index); // halves to the even neighbour
        const int speed = (index >= 0 && index <= 32767) ? int(index) : -1;
        if (SyncBootloader(speed))
            IsConnected = true;
        IsConnecting = false;
    }
    if (IsConnected) {
        m_status.setStatus(QStringLiteral("Connected at: ") + m_line.settings());
    } else {
        if (m_line.isOpen())
            m_line.close();
        m_status.setStatus(QStringLiteral("Connection Error"));
    }
    return IsConnected;
}

void TargetLink::DisconnectTarget()
{
    if (m_line.isOpen())
        m_line.close();
    IsConnected = false;
    m_status.setStatus(QStringLiteral("Disconnected"));
}

bool TargetLink::SyncBootloader(int index)
{
    if (index < 0 || index > 2)
        return false;
    if (index == 0) {
        m_line.setSettings(QStringLiteral("19200,N,8,1"));
        for (;;) {
            const QString reply = SendRawAwaitReply(QStringLiteral("x"));
            if (reply == QLatin1String("@"))
                break;
            if (reply == QLatin1String("x")) {
                // A loader that echoes: contact once it echoes the test line whole.
                if (SendLineAwaitEcho(kEchoTest) == kEchoTest)
                    break;
                continue;
            }
            // A line that went away will not come back by resetting the instrument.
            if (cancelled() || m_lineLost)
                return false;
            // After a time-out closed the port every further try fails at once: the prompt is the
            // way out.
            if (m_prompter.showMessage(QStringLiteral("Target not reset"), kResetPrompt, MessageIcon::Exclamation,
                                       MessageButtons::OkCancel) == MessageAnswer::Cancel)
                return false;
        }
    } else {
        if (!SyncBootloader(index - 1))
            return false;
        const SpeedStep &step = kSpeedSteps[index - 1];
        // The record's last character is echoed at the old speed while the loader switches: it is
        // not waited for, and the final check throws it away.
        SendLineAwaitEcho(QLatin1String(step.record), 11);
        if (!m_line.isOpen())
            return false; // the switch timed out and closed the link
        // Give that character its two character times before the port changes speed: read at the
        // new speed it would be garbage, and a CR sent before the loader has switched is lost.
        const int oldBaud = ParseLineSettings(m_line.settings()).value_or(LineSettings{}).baud;
        if (waitFor([&] { return m_line.waiting() >= 1; }, 1 + 2 * 10 * 1000 / std::max(oldBaud, 1)) == WaitEnd::Closed)
            return false;
        if (!m_line.isOpen())
            return false;
        m_line.setSettings(QLatin1String(step.settings));
    }
    if (!m_line.isOpen())
        return false;
    m_line.read();
    return SendLineAwaitEcho(kEchoTest).contains(kEchoTest);
}

void TargetLink::showTimeout()
{
    m_prompter.showMessage(AppTitle(),
                           QStringLiteral("Timeout occured while sending data\r\nI have to abort since this will "
                                          "corrupt the send."),
                           MessageIcon::Critical, MessageButtons::Ok);
}

void TargetLink::reportLineLost()
{
    if (m_lostReported)
        return;
    m_lostReported = true;
    m_prompter.showMessage(AppTitle(),
                           QStringLiteral("The line to the instrument went away (hang-up, or the adapter was "
                                          "removed).\r\nCheck the cable and the adapter, reset the instrument and "
                                          "burn again."),
                           MessageIcon::Critical, MessageButtons::Ok);
}

QString TargetLink::SendLineAwaitEcho(const QString &text, int expectedLength)
{
    if (!m_line.isOpen())
        return {};
    const qint64 n = expectedLength == 0 ? text.size() : expectedLength;
    m_line.send(QByteArray(1, '\r') + text.toLatin1());
    switch (waitFor([&] { return m_line.waiting() >= n + 1; }, timing.replyTimeoutMs)) {
    case WaitEnd::Ready:
        break;
    case WaitEnd::TimedOut:
        qCDebug(lcLink).noquote() << "no echo of" << text << "within" << timing.replyTimeoutMs << "ms; received"
                                  << m_line.waiting() << "of" << n + 1 << "characters";
        showTimeout();
        AbortSend = true;
        DisconnectTarget();
        return {};
    case WaitEnd::LineLost:
        reportLineLost();
        AbortSend = true;
        DisconnectTarget();
        return {};
    case WaitEnd::Closed:
        AbortSend = true; // the window is going: nothing more is sent
        return {};
    }
    return QString::fromLatin1(m_line.read().mid(1, n));
}

QString TargetLink::SendRawAwaitReply(const QString &text, int expectedLength)
{
    if (!m_line.isOpen())
        return {};
    const qint64 n = expectedLength == 0 ? text.size() : expectedLength;
    m_line.send(text.toLatin1());
    const WaitEnd end = waitFor([&] { return m_line.waiting() >= n || cancelled(); }, timing.replyTimeoutMs);
    if (cancelled() || end == WaitEnd::Closed)
        return {};
    if (end == WaitEnd::LineLost) {
        reportLineLost();
        return {};
    }
    if (end == WaitEnd::TimedOut)
        showTimeout();
    return QString::fromLatin1(m_line.read());
}

bool TargetLink::SendRecords(QStringList &lines)
{
    TrimRecordLines(lines);
    if (AbortSend || lines.isEmpty())
        return false;
    m_progress.setProgress(0);
    const qsizetype last = lines.size() - 1;
    int shown = -1;
    qint64 bytes = 0;
    QElapsedTimer clock;
    clock.start();
    for (qsizetype i = 0; i <= last; ++i) {
        const int percent = RoundedPercent(i, last);
        if (percent != shown) {
            m_progress.setProgress(percent);
            shown = percent;
        }
        const QString &line = lines.at(i);
        const QString echo = SendLineAwaitEcho(line);
        if (echo != line) {
            qCDebug(lcLink).noquote() << "record" << i + 1 << "of" << last + 1 << "sent" << line << "echoed"
                                      << (echo.isEmpty() ? QStringLiteral("nothing") : echo);
            return false;
        }
        if (AbortSend) {
            m_progress.setProgress(0);
            return false;
        }
        bytes += line.size() + 1;
        emit recordEchoed(int(i + 1), int(last + 1), bytes, clock.elapsed());
    }
    m_progress.setProgress(0);
    return true;
}

bool TargetLink::UploadBRecordFile(const QString &fileName)
{
    QStringList lines = ReadBRecordFile(fileName, m_prompter);
    return SendRecords(lines);
}

bool TargetLink::UploadSRecordFile(const QString &fileName)
{
    QStringList lines = ReadSRecordFile(fileName, m_prompter);
    if (lines.size() == 1)
        return false;
    return SendRecords(lines);
}

void TargetLink::SendExecuteRecord(const QString &address)
{
    SendLineAwaitEcho(PadHex(HexToLong(address), 8) + QStringLiteral("00"));
}

} // namespace korvel
