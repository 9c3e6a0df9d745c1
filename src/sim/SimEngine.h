#pragma once
// The instrument simulator's engine: the instrument on a pseudo-terminal. The program opens the
// slave path like any serial port; the engine owns the master. Used by korvel-sim and the tests
// (in process, on the same event loop as the code under test).

#include <QByteArray>
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

// Generated records in the instrument's format (CR LF lines). A flight: "FLIGHT" line, one dated
// line per record every intervalSeconds from startTime, an "END" line. A calibration record:
// "CAL" line and five sections each closed by an "END" line.
QByteArray GenerateFlight(int records, int intervalSeconds = 6);
QByteArray GenerateCalibration();

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

    // Bytes the program has sent to the instrument (the bootstrap-loader role reads these).
    QByteArray received() const;

signals:
    void recordSent();
    void hungUp();
    // The program set the line's speed (Linux: the master shares the slave's termios).
    void lineConfigured(int baud);
    void bytesReceived(const QByteArray &bytes);

private:
    struct Private;
    std::unique_ptr<Private> d;
};

} // namespace korvel::sim
