#pragma once
// The instrument simulator's engine: the instrument on a pseudo-terminal. The program opens the
// slave path like any serial port; the engine owns the master. Used by korvel-sim and the tests
// (in process, on the same event loop as the code under test).

#include "sim/GeneratedRecords.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

#include <memory>

namespace korvel::sim {

// A record the capture sender plays.
struct CaptureScript {
    QByteArray record;          // the instrument's text: the start-marker line through the last "END"
    QByteArray preamble;        // text sent before the record (never part of a capture)
    bool paced = true;          // true: as the line carries it, charactersPerSecond; false: as fast as the pty takes it
    int charactersPerSecond = 1920; // 19200 baud, 8N1
    qint64 hangUpAfter = -1;    // hang up after this many bytes of the record (-1: never)
};

// The bootstrap-loader role: the instrument processor's serial bootstrap loader, as the firmware
// road meets it.
//
// It wakes at 19200 baud waiting for the handshake "x", which it answers with "@" or by echoing it.
// From then on it echoes every character it receives, CR included, one for one, and acts on a
// B-record as soon as its 10 + 2 * count characters are in (a line that is not hexadecimal, such
// as ECHOTEST, is only echoed). Data records below FFFFF000 go into the memory image, the ones
// from FFFFF000 up into the register map. Writing 00 to FFFFF902 moves the loader to 38400 baud,
// writing 38 to FFFFF903 to 115200, once the record's last character has been echoed at the old
// speed. An execute record (count 00) starts the code: from then on the loader hears nothing, and
// for 00008000, the burn, it sends one byte when the burn ends.
//
// The loader hears the speed the program set on the line. Talking at another speed than its own,
// the program is garbage to it, and it answers garbage: 0x80 to a program listening faster,
// 0xF8 to one listening slower, one byte for each byte received. The program closing the line
// resets the instrument into the bootstrap loader at 19200 (the memory image stays).
//
// Paced, the line carries a character in 10 bits at the line's speed: the program's characters
// reach the loader one character time apart however fast they were written, and each echo leaves
// one character time after the later of its character's arrival and the previous echo. A record
// of CR and 42 characters written at once is back whole after 44 character times.
//
// Faults on the handshake and the echo tests count those from the engine's start; ECHOTEST lines
// are the handshake's own test (a loader that echoes "x") and each level's final check.
//
// Faults count records: record k is the k-th complete B-record with count 01 or more that the
// loader has received since the engine started (register records included; execute records and
// ECHOTEST lines are not counted). Record k is received and stored whatever the fault; the fault
// acts on what goes back.
struct LoaderOptions {
    bool echoHandshake = false; // false: answer "x" with "@"; true: echo the "x"
    bool paced = true;          // false: every answer leaves at once
    int burnReplyMs = 2000;     // from the execute record's echo to the burn's reply; < 0: no reply
    char burnReply = 'B';
    int garbleAt = 0;           // the echo of record k ends in a wrong character (0: never)
    int silentFrom = 0;         // from record k on nothing goes back, not its last echo either
    int hangUpAt = 0;           // the line drops on record k, before its last echo
    int notReset = 0;           // the first m handshakes meet silence: the instrument runs its firmware
    int bootBaud = 19200;       // the speed the loader wakes at; another one is a target at the wrong speed
    int garbleHandshake = 0;    // the answers to the first m handshakes reach the program garbled
    int garbleEchoTest = 0;     // the echoes of the first m ECHOTEST lines end in a wrong character
    bool loseSwitchEcho = false; // the last echo character of each speed-switch record is lost
    bool hangUpAfterExecute = false; // the line drops once the execute record's echo has left

    // The USB-serial adapter between the loader and the program (0: none, a plain UART). What the
    // loader sends reaches the program in packets: a packet leaves latencyMs after its first byte,
    // or as soon as it holds kPacketBytes. Bytes are decoded at the speed of the moment they are
    // sent, however late they are delivered.
    int latencyMs = 0;
    bool switchEchoAlone = false; // the switch record's last echo character travels in a packet of its own
    static constexpr int kPacketBytes = 62;
};

// How late the paced loader's answers left, against when the line would have carried them (an
// adapter's latency not counted: this is the simulator's own pacing).
struct PacingStats {
    qint64 characters = 0;
    double meanLateUs = 0;
    double maxLateUs = 0;
    qint64 lateOver100Us = 0; // characters that left more than 100 us after their moment
};

class SimEngine : public QObject {
    Q_OBJECT
public:
    explicit SimEngine(QObject *parent = nullptr);
    ~SimEngine() override;

    // Creates the pseudo-terminal; false (with the system's reason) when it cannot.
    bool open(QString *error = nullptr);
    QString slavePath() const;
    // The speed the line is set to now; 9600 while the program has not configured it.
    int lineBaud() const;

    // Starts sending; each line leaves as one write, and every line holding "END" is followed by a
    // pause so that it reaches the reader as a chunk of its own. recordSent() when done.
    void sendCapture(const CaptureScript &script);
    bool sending() const;

    // Closes the master: the program sees the line go away.
    void hangUp();

    // Bytes the program has sent to the instrument.
    QByteArray received() const;

    // Turns the bootstrap-loader role on (it is off until called: the engine then only records
    // what it receives). With it on, the first byte the program sends after opening the line
    // cancels a capture in progress, and the loader answers from then on; the program closing the
    // line cancels it too, and what it had not read is dropped, as a closed port loses it.
    void setLoader(const LoaderOptions &options);
    // The loader's speed now: 19200 until a speed switch.
    int loaderBaud() const;
    // The memory image (address to byte) and the registers written since the engine started.
    QMap<quint32, quint8> memory() const;
    QMap<quint32, quint8> registers() const;
    // Every complete B-record line received, as it came (execute and register records included).
    QList<QByteArray> records() const;
    // Writes the memory image as binary, from its lowest to its highest address, gaps filled with
    // 0xFF; the file holds no address (lowest gives it). An empty image writes an empty file.
    bool saveImage(const QString &path, QString *error = nullptr, quint32 *lowest = nullptr) const;
    PacingStats pacing() const;

signals:
    void recordSent();
    void hungUp();
    // The program set the line's speed (Linux: the master shares the slave's termios).
    void lineConfigured(int baud);
    void bytesReceived(const QByteArray &bytes);

    // The bootstrap-loader role's events.
    void programSpoke();              // the first byte since the line opened
    void handshakeAnswered();
    void speedSwitched(int baud);
    void executed(quint32 address);   // an execute record's echo has left
    void burnReplied();
    void programClosed();             // the program closed the line
    void loaderReset();               // ... and the loader was not fresh: bootstrap mode at 19200
    void faultStruck(const QString &what);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace korvel::sim
