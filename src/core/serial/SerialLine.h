#pragma once
// The serial line as the program uses it: one interface for the capture line and the
// bootstrap-loader link, whichever the platform's port is. A test may put a scripted line in
// its place.

#include <QByteArray>
#include <QObject>
#include <QString>

#include <optional>

namespace korvel {

// "19200,N,8,1": speed, parity (N, E, O, M, S), data bits, stop bits (1, 1.5, 2).
struct LineSettings {
    int baud = 9600;
    QChar parity = QLatin1Char('N');
    int dataBits = 8;
    QString stopBits = QStringLiteral("1");
};

// nullopt when the text does not read as a settings string.
std::optional<LineSettings> ParseLineSettings(const QString &text);

// The line's event codes, as the firmware window reports them.
enum LineEvent {
    LineBreak = 1001,
    LineFraming = 1004,
    LineOverrun = 1006,
    LineReceiveOverflow = 1008,
    LineParity = 1009,
    LineTransmitFull = 1010,
    LineUnexpected = 1011,
};

// What the user is told when a port will not open: the device, the reason, and what to do about it
// (plug the adapter in or choose another port; close the program that holds it; join the group that
// may use it).
QString PortOpenFailureText(const QString &device, const QString &reason);

// The message for a line event as the firmware window shows it ("Framing Error", ...); empty for an
// event that is not reported (a receive-buffer overflow, any other code).
QString LineEventText(int event);

class SerialLine : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // "Com n" (1 to 6), resolved to a device when the port opens; or a device by its path.
    virtual void setPortNumber(int n) = 0;
    virtual void setDevice(const QString &device) = 0;
    virtual QString device() const = 0;

    // Opens the port; false with the system's reason when it cannot be opened.
    virtual bool open(QString *reason = nullptr) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Takes effect at once while the port is open; reads back the text as set. False when the text
    // is not a settings string (nothing changes then).
    virtual bool setSettings(const QString &text) = 0;
    virtual QString settings() const = 0;

    // Queues the text as single bytes and returns at once; the bytes leave in order.
    virtual void send(const QByteArray &bytes) = 0;
    // Received bytes not read yet.
    virtual qint64 waiting() const = 0;
    // Takes the waiting bytes: all of them while the read length is 0, else at most that many.
    virtual QByteArray read() = 0;
    virtual void setReadLength(int length) = 0;
    // While held, received bytes stay with the driver: no dataArrived, and the process is not woken
    // for each of them; waiting() still counts them and read() takes them (read before letting
    // go). False when this line cannot hold them back (it goes on telling every arrival).
    virtual bool holdArrivals(bool hold)
    {
        Q_UNUSED(hold);
        return false;
    }
    // Asks the driver of the open port to pass received bytes on at once rather than when its
    // latency timer runs out (a USB adapter holds them up to 16 ms by default), until the line
    // closes, which puts back the setting it found. False when the port has no such setting (a
    // pseudo-terminal, a built-in port, a platform that does not offer it): the line works as
    // before, only slower through such an adapter.
    virtual bool requestLowLatency() { return false; }

signals:
    void dataArrived();
    void lineError(int code);
    // The device went away or hung up; the line is closed.
    void lineLost(const QString &reason);
};

// The platform's serial port. Bytes in and out are logged under "korvel.serial.wire" when that
// category is enabled (QT_LOGGING_RULES="korvel.serial.wire.debug=true").
class SerialPortLine : public SerialLine {
    Q_OBJECT
public:
    explicit SerialPortLine(QObject *parent = nullptr);
    ~SerialPortLine() override;

    void setPortNumber(int n) override;
    void setDevice(const QString &device) override;
    QString device() const override;
    bool open(QString *reason = nullptr) override;
    void close() override;
    bool isOpen() const override;
    bool setSettings(const QString &text) override;
    QString settings() const override;
    void send(const QByteArray &bytes) override;
    qint64 waiting() const override;
    QByteArray read() override;
    void setReadLength(int length) override;
    bool holdArrivals(bool hold) override;
    bool requestLowLatency() override;

    // The driver's low-latency setting of an open port, by the port's handle.
    class LatencyDriver {
    public:
        virtual ~LatencyDriver() = default;
        // nullopt when the driver has no such setting.
        virtual std::optional<bool> lowLatency(qintptr handle) = 0;
        virtual bool setLowLatency(qintptr handle, bool on) = 0;
    };
    // The platform's driver calls unless another is given (nullptr puts the platform's back). The
    // line does not own it.
    void setLatencyDriver(LatencyDriver *driver);

private:
    struct Private;
    Private *d;
};

} // namespace korvel
