#pragma once
// The link to the instrument processor's serial bootstrap loader: making contact (handshake at
// 19200 baud, then the speed switch), and sending records one at a time, each echoed back in full
// before the next leaves.
//
// Every wait runs a local event loop that wakes on the line's arrivals, on a deadline and on the
// firmware window's close, so the windows stay alive and nothing spins. Elapsed time is monotonic.

#include "core/serial/SerialLine.h"
#include "core/ui/UiInterfaces.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace korvel {

// Asked by every wait: true once the one who started the link has gone (the firmware window
// closed); every wait then returns at once and no prompt is shown.
using CancelHook = std::function<bool()>;

// How long the link waits. The instrument's loader answers within milliseconds; the defaults are
// generous for a slow adapter, and tests run them short.
struct LinkTiming {
    int replyTimeoutMs = 25000; // one record's echo, one handshake reply
    int burnIntervalMs = 1000;  // one interval of the completion wait
    int burnIntervals = 30;     // intervals in the completion wait
    // After a speed switch, how long the line is left to settle before the new speed is checked: a
    // USB-serial adapter's worst latency, so that every byte sent at the old speed is in.
    int settleMs = 50;
};

// The percentage of progress, i of last rounded to the nearest whole number, a half to the even
// neighbour (1 of 8 shows 12, 3 of 8 shows 38).
int RoundedPercent(qint64 i, qint64 last);

class TargetLink : public QObject {
    Q_OBJECT
public:
    // cancelled: see CancelHook; none means the link is never cancelled.
    TargetLink(SerialLine &line, StatusLine &status, Prompter &prompter, ProgressView &progress,
               CancelHook cancelled = {}, QObject *parent = nullptr);
    ~TargetLink() override;

    // The link's flags.
    bool IsConnected = false;  // the loader answered at the configured speed
    bool IsConnecting = false; // ConnectTarget is waiting for the loader
    bool AbortSend = false;    // a record's echo timed out: no list is sent until cleared

    LinkTiming timing;

    // The port to use instead of "COMMPORT" + 1 (a device path or "Com n" resolved); empty: the
    // setting. And the speed index to use instead of "COMMSPEED".
    void setDevice(const QString &device) { m_device = device; }
    void setSpeedIndex(std::optional<double> index) { m_speedIndex = index; }

    // Opens the port and makes contact at the configured speed; the status line says how it went.
    bool ConnectTarget();
    // Closes the port; "Disconnected".
    void DisconnectTarget();
    // The handshake and speed switch for a speed index (0: 19200, 1: 38400, 2: 115200), each level
    // ending with its own echo test. False for any other index, without sending.
    bool SyncBootloader(int index);

    // CR and the text; waits for CR and n characters back (n 0: the text's length). The echo
    // without its CR, or an empty text when the port is closed, the line went away or no echo came
    // (a time-out also shows its message, sets AbortSend and disconnects).
    QString SendLineAwaitEcho(const QString &text, int expectedLength = 0);
    // The text alone; waits for n characters back (n 0: the text's length). Everything received,
    // or an empty text when the port is closed or the firmware window closed.
    QString SendRawAwaitReply(const QString &text, int expectedLength = 0);

    // Sends the lines (comments removed in place) with echo check and progress; true when every
    // line came back exactly. An empty list is a failed upload, nothing sent.
    bool SendRecords(QStringList &lines);
    bool UploadBRecordFile(const QString &fileName);
    bool UploadSRecordFile(const QString &fileName);
    // The execute record for the address (hexadecimal text): "8000" sends 0000800000. Its echo is
    // waited for but not examined.
    void SendExecuteRecord(const QString &address);

    // Waits until ready() holds, the time runs out, the firmware window closes or the line goes
    // away, keeping the windows alive. ready() is tested at once and after each arrival. With a
    // text, a wait that lasts shows it each second with the seconds left (countdown()).
    enum class WaitEnd { Ready, TimedOut, Closed, LineLost };
    WaitEnd waitFor(const std::function<bool()> &ready, int timeoutMs, const QString &what = QString());
    // Shows what is waited for ("Waiting for ...: 18 s"); empty: nothing any more.
    void showCountdown(const QString &text) { emit countdown(text); }

    // True while one of the link's waits is on the stack: the bytes arriving then belong to it.
    bool waiting() const { return m_waitDepth > 0; }
    // The firmware window closed: every wait on the stack returns at once.
    void windowClosed();
    // The line went away since the last ConnectTarget (hang-up, adapter pulled).
    bool lineLost() const { return m_lineLost; }
    // Tells the user, once a connection, that the line went away. After the start record has left
    // the instrument may be burning its flash: the user is told to leave it alone instead.
    void reportLineLost();
    // The execute record has left since the last ConnectTarget: the instrument may be burning.
    bool startRecordSent() const { return m_startRecordSent; }
    // What the user is told when the instrument may still be burning (the line went, or the start
    // record's echo did not come back).
    QString burningAdvice(bool lineLost) const;
    // The cancellation hook's answer: the firmware window has closed.
    bool cancelled() const { return m_cancelled && m_cancelled(); }

    SerialLine &line() { return m_line; }

signals:
    // One record of a list came back: sent of total, the list's bytes on the wire so far (each
    // record's CR and characters), and the time since the list's first record.
    void recordEchoed(int sent, int total, qint64 bytes, qint64 elapsedMs);
    // Ends every wait on the stack (the window closed).
    void wakeWaits();
    // What the link waits for and the seconds left, each second of a long wait
    // ("Waiting for the instrument's echo: 18 s"); empty when the wait is over.
    void countdown(const QString &text);

private:
    void showTimeout();
    bool openPort();
    void lineWentAway();
    qint64 characterNs();
    std::optional<WaitEnd> sleepUntilWhole(qint64 want, const QElapsedTimer &sent);

    SerialLine &m_line;
    StatusLine &m_status;
    Prompter &m_prompter;
    ProgressView &m_progress;
    CancelHook m_cancelled;
    QString m_device;
    std::optional<double> m_speedIndex;
    int m_waitDepth = 0;
    bool m_lineLost = false;
    bool m_lostReported = false;
    bool m_startRecordSent = false;
    QString m_speedText;     // the settings the character time below is for
    qint64 m_characterNs = 0;
    qint64 m_echoSlackNs = 20000; // how late after its due moment an echo is looked at; learnt
};

} // namespace korvel
