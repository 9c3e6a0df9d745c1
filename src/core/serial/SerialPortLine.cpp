#include "core/serial/SerialLine.h"
#include "core/serial/ComPorts.h"
#include "core/platform/SerialDevice.h"

#include <QFile>
#include <QPointer>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>


Q_LOGGING_CATEGORY(lcWire, "korvel.serial.wire", QtWarningMsg)

namespace korvel {

std::optional<LineSettings> ParseLineSettings(const QString &text)
{
    static const QRegularExpression form(
        QStringLiteral("^\\s*(\\d+)\\s*,\\s*([NEOMS])\\s*,\\s*([5-8])\\s*,\\s*(1|1\\.5|2)\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = form.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baud = m.captured(1).toInt(&ok);
    if (!ok || s.baud <= 0)
        return std::nullopt;
    s.parity = m.captured(2).at(0).toUpper();
    s.dataBits = m.captured(3).toInt();
    s.stopBits = m.captured(4);
    return s;
}

QString PortOpenFailureText(const QString &device, const QString &reason)
{
    QString text = QStringLiteral("The port %1 could not be opened: %2.")
                       .arg(device, reason.isEmpty() ? QStringLiteral("unknown reason") : reason);
    if (const QString advice = platform::PortOpenAdvice(device); !advice.isEmpty())
        text += QStringLiteral("\r\n") + advice;
    return text;
}

QString LineEventText(int event)
{
    switch (event) {
    case LineBreak:
        return QStringLiteral("A Break received!");
    case LineFraming:
        return QStringLiteral("Framing Error");
    case LineOverrun:
        return QStringLiteral("Overrun, Data lost");
    case LineParity:
        return QStringLiteral("Parity Error");
    case LineTransmitFull:
        return QStringLiteral("Transmit buffer Full");
    case LineUnexpected:
        return QStringLiteral("Unexpected Error!");
    default:
        return {};
    }
}

namespace {

QSerialPort::Parity ToParity(QChar p)
{
    switch (p.toLatin1()) {
    case 'E':
        return QSerialPort::EvenParity;
    case 'O':
        return QSerialPort::OddParity;
    case 'M':
        return QSerialPort::MarkParity;
    case 'S':
        return QSerialPort::SpaceParity;
    default:
        return QSerialPort::NoParity;
    }
}

QSerialPort::StopBits ToStopBits(const QString &s)
{
    if (s == QLatin1String("2"))
        return QSerialPort::TwoStop;
    if (s == QLatin1String("1.5"))
        return QSerialPort::OneAndHalfStop;
    return QSerialPort::OneStop;
}


// The serial driver's low-latency flag, which common USB-serial drivers turn into a 1 ms latency
// timer. The port reads errno after its own calls: these must not leave a trace there.
class PlatformLatency : public SerialPortLine::LatencyDriver {
public:
    std::optional<bool> lowLatency(qintptr handle) override { return platform::LowLatency(handle); }
    bool setLowLatency(qintptr handle, bool on) override { return platform::SetLowLatency(handle, on); }
};
} // namespace

struct SerialPortLine::Private {
    QSerialPort port;
    std::optional<int> number;
    QString device;
    QString settings = QStringLiteral("9600,N,8,1");
    int readLength = 0;
    bool lost = false;
    bool held = false;    // arrivals are held back in the driver
    bool pulling = false; // read() is taking what the driver holds
    QPointer<QSocketNotifier> readNotifier;
    SerialPortLine::LatencyDriver *latencyDriver = nullptr;
    bool latencyLowered = false; // this line asked for low latency and must put the setting back

    SerialPortLine::LatencyDriver &latency()
    {
        static PlatformLatency platform;
        return latencyDriver ? *latencyDriver : platform;
    }

    void putBackLatency()
    {
        if (latencyLowered && port.isOpen())
            latency().setLowLatency(handle(), false);
        latencyLowered = false;
    }
    platform::LineErrorCounts counts;
    bool countsKnown = false;
    bool countersWork = true;

    // The open port's native handle as a number (a descriptor here, a HANDLE on Windows).
    qintptr handle() const { return qintptr(port.handle()); }

    void apply(const LineSettings &s)
    {
        port.setBaudRate(s.baud);
        port.setParity(ToParity(s.parity));
        port.setDataBits(QSerialPort::DataBits(s.dataBits));
        port.setStopBits(ToStopBits(s.stopBits));
        port.setFlowControl(QSerialPort::NoFlowControl);
    }

    // The port's own notifier for received bytes (the port makes it when it opens).
    QSocketNotifier *arrivals()
    {
        if (!readNotifier) {
            for (QSocketNotifier *n : port.findChildren<QSocketNotifier *>(Qt::FindDirectChildrenOnly))
                if (n->type() == QSocketNotifier::Read && n->socket() == handle())
                    readNotifier = n;
        }
        return readNotifier;
    }

    // Received bytes the driver holds that the port has not taken yet.
    qint64 inDriver() const { return platform::BytesInDriver(handle()); }
};

SerialPortLine::SerialPortLine(QObject *parent) : SerialLine(parent), d(new Private)
{
    connect(&d->port, &QSerialPort::readyRead, this, [this] {
        // The driver's error counters, where it keeps them (ptys and many adapters do not).
        const std::optional<platform::LineErrorCounts> now =
            d->countersWork ? platform::ReadLineErrorCounts(d->handle()) : std::nullopt;
        d->countersWork = now.has_value();
        if (now) {
            if (d->countsKnown) {
                if (now->breaks != d->counts.breaks)
                    emit lineError(LineBreak);
                if (now->framing != d->counts.framing)
                    emit lineError(LineFraming);
                if (now->overrun != d->counts.overrun)
                    emit lineError(LineOverrun);
                if (now->bufferOverrun != d->counts.bufferOverrun)
                    emit lineError(LineReceiveOverflow);
                if (now->parity != d->counts.parity)
                    emit lineError(LineParity);
            }
            d->counts = *now;
            d->countsKnown = true;
        }
        if (!d->pulling)
            emit dataArrived();
    });
    connect(&d->port, &QSerialPort::errorOccurred, this, [this](QSerialPort::SerialPortError error) {
        switch (error) {
        case QSerialPort::NoError:
        case QSerialPort::TimeoutError:
        case QSerialPort::OpenError:
        case QSerialPort::DeviceNotFoundError:
        case QSerialPort::PermissionError:
        case QSerialPort::NotOpenError:
        case QSerialPort::UnsupportedOperationError:
            return;
        case QSerialPort::ResourceError:
        case QSerialPort::ReadError: {
            if (d->lost)
                return;
            d->lost = true;
            // The port's own text here is whatever the system said last (a hang-up reads as an
            // empty read, not an error), so it would mislead: say what happened.
            const QString reason = QStringLiteral("hang-up, or the device was removed");
            // What arrived before the line went is still there to be read.
            if (d->port.bytesAvailable() > 0)
                emit dataArrived();
            d->port.clearError();
            // Closing inside the port's own notification is not safe: do it on the next turn.
            QTimer::singleShot(0, this, [this, reason] {
                if (d->port.isOpen() && d->port.bytesAvailable() > 0)
                    emit dataArrived();
                d->latencyLowered = false; // the device is gone, and its setting with it
                d->port.close();
                emit lineLost(reason);
            });
            return;
        }
        case QSerialPort::WriteError:
            emit lineError(LineTransmitFull);
            return;
        default:
            emit lineError(LineUnexpected);
            return;
        }
    });
}

SerialPortLine::~SerialPortLine()
{
    d->putBackLatency();
    d->port.close();
    delete d;
}

void SerialPortLine::setPortNumber(int n)
{
    d->number = n;
    d->device.clear();
}

void SerialPortLine::setDevice(const QString &device)
{
    d->device = device;
    d->number.reset();
}

QString SerialPortLine::device() const
{
    return d->number ? ResolveComPort(*d->number) : d->device;
}

bool SerialPortLine::open(QString *reason)
{
    if (d->port.isOpen())
        return true;
    const QString name = device();
    d->port.setPortName(name);
    d->lost = false;
    d->countsKnown = false;
    d->countersWork = true;
    if (const auto s = ParseLineSettings(d->settings))
        d->apply(*s);
    if (!d->port.open(QIODevice::ReadWrite)) {
        if (reason) {
            *reason = d->port.errorString();
            // The port's lock file held by another program reads as a permission error; so does
            // a device another program opened for itself alone. Either way it is busy.
            if (d->port.error() == QSerialPort::PermissionError && platform::MayUseDevice(name))
                *reason = QStringLiteral("it is in use by another program");
        }
        d->port.clearError();
        return false;
    }
    if (const auto s = ParseLineSettings(d->settings))
        d->apply(*s);
    d->port.setReadBufferSize(0);
    return true;
}

void SerialPortLine::close()
{
    d->held = false;
    d->putBackLatency();
    d->port.close();
}

bool SerialPortLine::requestLowLatency()
{
    if (!d->port.isOpen())
        return false;
    if (d->latencyLowered)
        return true;
    LatencyDriver &driver = d->latency();
    const std::optional<bool> low = driver.lowLatency(d->handle());
    if (!low)
        return false;
    if (*low)
        return true; // already so: nothing to put back
    if (!driver.setLowLatency(d->handle(), true))
        return false;
    d->latencyLowered = true;
    return true;
}

void SerialPortLine::setLatencyDriver(LatencyDriver *driver)
{
    d->latencyDriver = driver;
}

bool SerialPortLine::isOpen() const
{
    return d->port.isOpen();
}

bool SerialPortLine::setSettings(const QString &text)
{
    const auto s = ParseLineSettings(text);
    if (!s)
        return false;
    d->settings = text;
    if (d->port.isOpen())
        d->apply(*s);
    return true;
}

QString SerialPortLine::settings() const
{
    return d->settings;
}

void SerialPortLine::send(const QByteArray &bytes)
{
    if (!d->port.isOpen())
        return;
    qCDebug(lcWire).noquote() << "out" << bytes.toPercentEncoding(" ");
    d->port.write(bytes);
    // Out now rather than on the next turn of the event loop: the loader answers each record before
    // the next one leaves, so every turn waited here is lost on each record.
    d->port.flush();
}

qint64 SerialPortLine::waiting() const
{
    if (!d->port.isOpen())
        return 0;
    return d->port.bytesAvailable() + (d->held ? d->inDriver() : 0);
}

QByteArray SerialPortLine::read()
{
    if (!d->port.isOpen())
        return {};
    // Held back, what the driver holds is taken now, without telling it as a new arrival. (Not
    // otherwise: the port's notifier may already be due for those bytes, and finding none then
    // reads as a line gone.)
    if (d->held && d->inDriver() > 0) {
        d->pulling = true;
        d->port.waitForReadyRead(0);
        d->pulling = false;
        if (!d->port.isOpen())
            return {};
    }
    const QByteArray bytes = d->readLength > 0 ? d->port.read(d->readLength) : d->port.readAll();
    // Reading wakes the port's notifier; a hold stays a hold.
    if (d->held)
        if (QSocketNotifier *n = d->arrivals())
            n->setEnabled(false);
    if (!bytes.isEmpty())
        qCDebug(lcWire).noquote() << "in" << bytes.toPercentEncoding(" ");
    return bytes;
}

void SerialPortLine::setReadLength(int length)
{
    d->readLength = std::max(0, length);
}

bool SerialPortLine::holdArrivals(bool hold)
{
    QSocketNotifier *arrivals = d->port.isOpen() ? d->arrivals() : nullptr;
    if (!arrivals)
        return false;
    d->held = hold;
    arrivals->setEnabled(!hold);
    return true;
}

} // namespace korvel
