#include "core/link/TargetLink.h"

#include "core/records/HexText.h"
#include "core/records/RecordReaders.h"
#include "core/settings/Settings.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QScopeGuard>
#include <QTimer>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

#ifdef Q_OS_LINUX
#include <sys/prctl.h>
#endif

// Which record failed and why, for a support question (QT_LOGGING_RULES="korvel.link.debug=true").
Q_LOGGING_CATEGORY(lcLink, "korvel.link", QtWarningMsg)

namespace korvel {

namespace {

const QString kResetPrompt = QStringLiteral("Please reset target and press OK to try again.\r\nCancel to not connect.");
const QString kEchoTest = QStringLiteral("ECHOTEST");
const QString kWaitEcho = QStringLiteral("Waiting for the instrument's echo");
const QString kWaitAnswer = QStringLiteral("Waiting for the instrument's answer");

// How late after its due moment an echo is looked at: the far end's own delay, learnt record by
// record (up on a late echo, slowly down on one in time), at most a USB adapter's packet time.
constexpr qint64 kMaxEchoSlackNs = 1'000'000;
constexpr qint64 kEchoSlackUpNs = 10'000;
constexpr qint64 kEchoSlackDownNs = 1'000;
// The longest the user interface is kept waiting in one short sleep: a record at 115200 baud.
constexpr qint64 kShortSleepNs = 4'500'000;

// Sleeps for the time given, woken as close to its end as the system allows (a thread's timers
// may otherwise run late by some tens of microseconds, a few per cent of a record at 115200).
void SleepPrecisely(qint64 ns)
{
    if (ns <= 0)
        return;
#ifdef Q_OS_LINUX
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
    if (slack > 0)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0UL, 0UL, 0UL);
#else
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
#endif
}

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
    connect(&m_line, &SerialLine::lineLost, this, &TargetLink::lineWentAway);
}

void TargetLink::lineWentAway()
{
    m_lineLost = true;
    // Outside a wait (after a burn, say) nothing else hears of it: the status line says so.
    if (m_waitDepth == 0 && IsConnected)
        DisconnectTarget();
}

TargetLink::~TargetLink() = default;

void TargetLink::windowClosed()
{
    emit wakeWaits();
}

TargetLink::WaitEnd TargetLink::waitFor(const std::function<bool()> &ready, int timeoutMs, const QString &what)
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
    // A wait that lasts says what it waits for and how long it may still take.
    QTimer tick;
    bool shown = false;
    if (!what.isEmpty()) {
        connect(&tick, &QTimer::timeout, &loop, [&] {
            const qint64 leftNs = std::max<qint64>(0, limitNs - clock.nsecsElapsed());
            emit countdown(QStringLiteral("%1: %2 s").arg(what).arg((leftNs + 999'999'999) / 1'000'000'000));
            shown = true;
        });
        tick.start(1000);
    }
    deadline.start(timeoutMs);
    loop.exec();
    if (shown)
        emit countdown(QString());
    return end;
}

qint64 TargetLink::characterNs()
{
    const QString settings = m_line.settings();
    if (settings != m_speedText) {
        m_speedText = settings;
        const std::optional<LineSettings> parsed = ParseLineSettings(settings);
        // Start bit, data bits, parity bit, stop bits.
        const int bits = parsed ? 1 + parsed->dataBits + (parsed->parity == QLatin1Char('N') ? 0 : 1) +
                                      (parsed->stopBits == QLatin1String("1") ? 1 : 2)
                                : 0;
        m_characterNs = parsed ? qint64(bits) * 1'000'000'000 / parsed->baud : 0;
    }
    return m_characterNs;
}

// The echo of CR and a line comes back no sooner than the wire carries them out and the last
// character back, one character time after it went: until then there is nothing worth reading.
// The link sleeps that long with arrivals held back in the driver, so the process wakes about
// twice a record instead of once a character: the event loop sleeps the whole milliseconds (its
// timers keep no finer time; the windows stay alive), the rest is one short sleep. Empty when the
// echo is not whole by then (the far end is late or silent, or this line cannot hold arrivals
// back): the caller then waits for the rest as it comes. Ready leaves the arrivals held: the
// caller reads the echo, then lets go.
std::optional<TargetLink::WaitEnd> TargetLink::sleepUntilWhole(qint64 want, const QElapsedTimer &sent)
{
    const qint64 charNs = characterNs();
    if (charNs <= 0 || !m_line.holdArrivals(true))
        return std::nullopt;
    auto release = qScopeGuard([this] { m_line.holdArrivals(false); });
    qint64 dueNs = (want + 1) * charNs + m_echoSlackNs;
    // A record due within the short sleep is slept for in one piece: one wake-up.
    const qint64 napMs =
        dueNs - sent.nsecsElapsed() > kShortSleepNs ? (dueNs - sent.nsecsElapsed()) / 1'000'000 - 2 : 0;
    if (napMs >= 1) {
        const WaitEnd end = waitFor([] { return false; }, int(napMs));
        if (end != WaitEnd::TimedOut)
            return end;
    }
    for (int look = 0; look < 2; ++look) {
        const qint64 restNs = dueNs - sent.nsecsElapsed();
        if (restNs > kShortSleepNs)
            return std::nullopt; // the event loop was held up past its moment: wait as usual
        SleepPrecisely(restNs);
        const qint64 missing = want - m_line.waiting();
        if (missing <= 0) {
            if (look == 0)
                m_echoSlackNs = std::max<qint64>(0, m_echoSlackNs - kEchoSlackDownNs);
            release.dismiss();
            return WaitEnd::Ready;
        }
        // A little late (a busy far end): look a little later from now on, and once more for the
        // characters still to come. Far behind (an adapter holding a packet): wait as they come.
        if (missing * charNs > kShortSleepNs || !m_line.isOpen())
            return std::nullopt;
        if (look == 0)
            m_echoSlackNs = std::min(kMaxEchoSlackNs, m_echoSlackNs + kEchoSlackUpNs);
        dueNs = sent.nsecsElapsed() + missing * charNs + kEchoSlackUpNs;
    }
    return std::nullopt;
}

bool TargetLink::openPort()
{
    if (m_device.isEmpty())
        m_line.setPortNumber(CommPort());
    else
        m_line.setDevice(m_device);
    m_lineLost = false;
    m_lostReported = false;
    m_startRecordSent = false;
    if (m_line.isOpen())
        return true;
    QString reason;
    if (m_line.open(&reason)) {
        // Each record waits for its echo: an adapter that holds received bytes for its latency
        // timer (16 ms by default) would make the burn several times slower. A port without such
        // a setting works as it is.
        m_line.requestLowLatency();
        return true;
    }
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
        double index = m_speedIndex ? *m_speedIndex : CommSpeedChoice();
        index = std::nearbyint(index); // halves to the even neighbour
        const int speed = (index >= 0 && index <= 32767) ? int(index) : -1;
        if (SyncBootloader(speed))
            IsConnected = true;
        IsConnecting = false;
    }
    // A line that went away during the handshake or a speed switch is named, whichever step met it.
    if (!IsConnected && m_lineLost && !cancelled())
        reportLineLost();
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
        // not waited for.
        SendLineAwaitEcho(QLatin1String(step.record), 11);
        if (!m_line.isOpen())
            return false; // the switch timed out, or the line went: the link is closed
        // That character, and anything an adapter still holds, may come in up to the adapter's
        // latency later. The line settles first and what came at the old speed is thrown away: read
        // at the new speed it would be garbage, or the first character of the next echo; and a CR
        // sent before the loader has switched is lost.
        if (waitFor([] { return false; }, timing.settleMs) != WaitEnd::TimedOut || !m_line.isOpen())
            return false;
        m_line.read();
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

QString TargetLink::burningAdvice(bool lineLost) const
{
    const qint64 seconds = (qint64(timing.burnIntervals) * timing.burnIntervalMs + 999) / 1000;
    const QString what = lineLost ? QStringLiteral("The line to the instrument went away after the start record "
                                                   "was sent: the instrument may still be burning its flash.")
                                  : QStringLiteral("The start record's echo did not come back, but the instrument "
                                                   "may have received it and may still be burning its flash.");
    return what + QStringLiteral("\r\nLeave it powered for %1 seconds, without resetting it or pulling its cable; "
                                 "then check that it starts with the new program, and burn again only if it does "
                                 "not.")
                      .arg(seconds);
}

void TargetLink::reportLineLost()
{
    if (m_lostReported)
        return;
    m_lostReported = true;
    // Never a reset while the instrument may be writing its flash.
    const QString text = m_startRecordSent
                             ? burningAdvice(true)
                             : QStringLiteral("The line to the instrument went away (hang-up, or the adapter was "
                                              "removed).\r\nCheck the cable and the adapter, reset the instrument "
                                              "and burn again.");
    m_prompter.showMessage(AppTitle(), text, MessageIcon::Critical, MessageButtons::Ok);
}

QString TargetLink::SendLineAwaitEcho(const QString &text, int expectedLength)
{
    if (!m_line.isOpen())
        return {};
    const qint64 n = expectedLength == 0 ? text.size() : expectedLength;
    QElapsedTimer sent;
    sent.start();
    m_line.send(QByteArray(1, '\r') + text.toLatin1());
    std::optional<WaitEnd> end = sleepUntilWhole(n + 1, sent);
    if (!end) {
        const qint64 leftMs = std::max<qint64>(0, timing.replyTimeoutMs - sent.elapsed());
        end = waitFor([&] { return m_line.waiting() >= n + 1; }, int(leftMs), kWaitEcho);
    }
    switch (*end) {
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
    const QByteArray echo = m_line.read();
    m_line.holdArrivals(false);
    return QString::fromLatin1(echo.mid(1, n));
}

QString TargetLink::SendRawAwaitReply(const QString &text, int expectedLength)
{
    if (!m_line.isOpen())
        return {};
    const qint64 n = expectedLength == 0 ? text.size() : expectedLength;
    m_line.send(text.toLatin1());
    const WaitEnd end =
        waitFor([&] { return m_line.waiting() >= n || cancelled(); }, timing.replyTimeoutMs, kWaitAnswer);
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
    // From the moment it leaves, the instrument may be running the code it starts.
    m_startRecordSent = m_line.isOpen();
    SendLineAwaitEcho(PadHex(HexToLong(address), 8) + QStringLiteral("00"));
}

} // namespace korvel
