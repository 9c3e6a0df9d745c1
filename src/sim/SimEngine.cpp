#include "sim/SimEngine.h"

#include "sim/CaptureSender.h"
#include "sim/LoaderWire.h"
#include "sim/MemoryImage.h"
#include "sim/PtyPair.h"

#include <QSocketNotifier>
#include <QTimer>

#include <unistd.h>

namespace korvel::sim {

namespace {

// A hang-up fault leaves the reader this long to take what is on the line before it drops.
constexpr int kHangUpGraceMs = 300;

} // namespace

struct SimEngine::Private {
    SimEngine *q;
    PtyPair pty;
    QSocketNotifier *readNotifier = nullptr;
    QTimer pollTimer;
    int lastBaud = 0;
    QByteArray received; // what came before the loader's wire took the line
    CaptureSender sender;
    LoaderWire wire;

    explicit Private(SimEngine *owner)
        : q(owner), wire(pty, owner, [this](const WireNews &news) { deliver(news); })
    {
    }

    void pollLine()
    {
        bool ok = false;
        const int baud = pty.programBaud(&ok);
        if (!ok)
            return;
        if (baud != lastBaud) {
            lastBaud = baud;
            emit q->lineConfigured(baud);
        }
        if (baud == PtyPair::kIdleBaud)
            wire.lineIdle();
    }

    void startWire()
    {
        if (!pty.isOpen() || !wire.hasLoader() || wire.running())
            return;
        if (readNotifier)
            readNotifier->setEnabled(false);
        wire.start();
    }

    void hangUpSoon() { QTimer::singleShot(kHangUpGraceMs, q, [this] { q->hangUp(); }); }

    // Runs on the event loop's thread, after the wire thread's news.
    void deliver(const WireNews &news)
    {
        // A capture goes to no one once the line is closed; and the program's first byte finds the
        // instrument in its loader, not sending a flight.
        if (news.lineClosed || news.firstOfOpening)
            sender.cancel();
        if (news.lineClosed)
            emit q->programClosed();
        if (news.firstOfOpening)
            emit q->programSpoke();
        if (!news.bytes.isEmpty())
            emit q->bytesReceived(news.bytes);
        for (const BootLoader::Event &e : news.events) {
            switch (e.kind) {
            case BootLoader::EventKind::HandshakeAnswered: emit q->handshakeAnswered(); break;
            case BootLoader::EventKind::SpeedSwitched: emit q->speedSwitched(int(e.value)); break;
            case BootLoader::EventKind::Executed: emit q->executed(quint32(e.value)); break;
            case BootLoader::EventKind::BurnReplied: emit q->burnReplied(); break;
            case BootLoader::EventKind::Reset: emit q->loaderReset(); break;
            case BootLoader::EventKind::Fault: emit q->faultStruck(e.text); break;
            case BootLoader::EventKind::HangUp:
                // As the capture's hang-up: the program takes what is on the line, then it drops.
                emit q->faultStruck(e.text);
                hangUpSoon();
                return;
            }
        }
    }

    void readInput()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(pty.master(), buffer, sizeof buffer);
            if (n > 0) {
                const QByteArray bytes(buffer, n);
                received += bytes;
                emit q->bytesReceived(bytes);
                continue;
            }
            break; // EAGAIN, or EIO while no one holds the slave
        }
    }

    void closeAll()
    {
        wire.stop();
        delete readNotifier;
        readNotifier = nullptr;
        sender.setMaster(-1);
        pty.close();
        pollTimer.stop();
    }
};

SimEngine::SimEngine(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this))
{
    connect(&d->sender, &CaptureSender::recordSent, this, &SimEngine::recordSent);
    connect(&d->sender, &CaptureSender::hangUpWanted, this, [this](bool graceful) {
        if (graceful)
            d->hangUpSoon();
        else
            hangUp();
    });
    d->pollTimer.setInterval(50);
    connect(&d->pollTimer, &QTimer::timeout, this, [this] { d->pollLine(); });
}

SimEngine::~SimEngine() { d->closeAll(); }

bool SimEngine::open(QString *error)
{
    if (!d->pty.open(error))
        return false;
    d->lastBaud = PtyPair::kIdleBaud;
    d->readNotifier = new QSocketNotifier(d->pty.master(), QSocketNotifier::Read, this);
    connect(d->readNotifier, &QSocketNotifier::activated, this, [this] { d->readInput(); });
    d->sender.setMaster(d->pty.master());
    d->pollTimer.start();
    d->startWire();
    return true;
}

QString SimEngine::slavePath() const { return d->pty.slavePath(); }

int SimEngine::lineBaud() const { return d->lastBaud; }

void SimEngine::sendCapture(const CaptureScript &script) { d->sender.start(script); }

bool SimEngine::sending() const { return d->sender.sending(); }

void SimEngine::hangUp()
{
    if (!d->pty.isOpen())
        return;
    d->sender.cancel();
    d->closeAll();
    emit hungUp();
}

QByteArray SimEngine::received() const { return d->received + d->wire.received(); }

void SimEngine::setLoader(const LoaderOptions &options)
{
    d->wire.setOptions(options);
    d->startWire();
}


int SimEngine::loaderBaud() const { return d->wire.baud(); }

QMap<quint32, quint8> SimEngine::memory() const { return d->wire.memory(); }

QMap<quint32, quint8> SimEngine::registers() const { return d->wire.registers(); }

QList<QByteArray> SimEngine::records() const { return d->wire.records(); }

bool SimEngine::saveImage(const QString &path, QString *error, quint32 *lowest) const
{
    return SaveMemoryImage(memory(), path, error, lowest);
}

PacingStats SimEngine::pacing() const { return d->wire.pacing(); }

} // namespace korvel::sim
