#include "sim/SimEngine.h"

#include "sim/BootLoader.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSaveFile>
#include <QList>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#include <sys/prctl.h>
#endif
#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif

namespace korvel::sim {

namespace {

// A marker-bearing line is followed by this pause so the reader sees it as a chunk of its own.
constexpr int kMarkerPauseMs = 120;
// A hang-up fault leaves the reader this long to take what is on the line before it drops.
constexpr int kHangUpGraceMs = 300;
// A speed the program never sets: the line reads "closed" while the pty carries it.
constexpr speed_t kIdleSpeed = B9600;

int baudOf(speed_t speed)
{
    switch (speed) {
    case B1200: return 1200;
    case B2400: return 2400;
    case B4800: return 4800;
    case B9600: return 9600;
    case B19200: return 19200;
    case B38400: return 38400;
    case B57600: return 57600;
    case B115200: return 115200;
    default: return 0;
    }
}

qint64 steadyNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

QList<QByteArray> splitLines(const QByteArray &text)
{
    QList<QByteArray> lines;
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype lf = text.indexOf('\n', from);
        const qsizetype end = lf < 0 ? text.size() : lf + 1;
        lines.append(text.mid(from, end - from));
        from = end;
    }
    return lines;
}

QByteArray dataLine(int secondsOfDay, const QList<int> &fields)
{
    const int s = ((secondsOfDay % 86400) + 86400) % 86400;
    QByteArray line = QByteArray("12/04/26 ") + QByteArray::number(s / 3600).rightJustified(2, '0') + ':'
                      + QByteArray::number(s / 60 % 60).rightJustified(2, '0') + ':'
                      + QByteArray::number(s % 60).rightJustified(2, '0');
    for (const int v : fields)
        line += ',' + QByteArray::number(v);
    return line + "\r\n";
}

} // namespace

QByteArray GenerateFlight(int records, int intervalSeconds)
{
    QRandomGenerator rng(20261204);
    const auto jitter = [&rng](int span) { return int(rng.bounded(2 * span + 1)) - span; };
    QByteArray text = "FLIGHT 0042 N5127K\r\n";
    text.reserve(qsizetype(records) * 140 + 64);
    int fuel = 480; // tenths of a gallon... shown as read
    for (int i = 0; i < records; ++i) {
        const double phase = records > 1 ? double(i) / (records - 1) : 0.0;
        const bool climb = phase < 0.1, descent = phase > 0.9;
        const int rpm = (climb ? 2650 : descent ? 1900 : 2400) + jitter(15);
        const int map = (climb ? 270 : descent ? 180 : 235) + jitter(3);
        if (i % 10 == 0 && fuel > 40)
            --fuel;
        QList<int> f(28, 0);
        f[0] = i + 1;
        f[1] = rpm;
        f[2] = map;
        f[3] = rpm / 10;
        f[4] = 95 + jitter(3);    // fuel flow, tenths
        f[5] = 142 + jitter(1);   // volts, tenths
        f[6] = 12 + jitter(2);    // amps
        f[7] = 620 + jitter(10);  // oil pressure, tenths of psi
        f[8] = 1950 + jitter(20); // oil temperature, tenths of degrees
        f[9] = 450 + jitter(5);   // outside air, tenths of degrees
        f[10] = fuel;
        for (int k = 11; k < 16; ++k)
            f[k] = jitter(2) + 10;
        for (int c = 0; c < 6; ++c) {
            f[16 + c] = (climb ? 1250 : descent ? 1200 : 1400) + c * 12 + jitter(20);
            f[22 + c] = (climb ? 400 : descent ? 320 : 370) + c * 4 + jitter(5);
        }
        text += dataLine(8 * 3600 + i * intervalSeconds, f);
    }
    return text + "END\r\n";
}

QByteArray GenerateCalibration()
{
    QByteArray text = "CAL 0042\r\n";
    for (int section = 1; section <= 5; ++section) {
        for (int row = 0; row < 4; ++row) {
            text += QByteArray::number(section) + ',' + QByteArray::number(row);
            for (int k = 0; k < 8; ++k)
                text += ',' + QByteArray::number(section * 100 + row * 10 + k);
            text += "\r\n";
        }
        text += "END\r\n";
    }
    return text;
}

struct SimEngine::Private {
    SimEngine *q;
    int master = -1;
    int slave = -1; // held open so the pty outlives the program's opens and closes
    QString slavePath;
    QSocketNotifier *readNotifier = nullptr;
    QSocketNotifier *writeNotifier = nullptr;
    QTimer pollTimer;
    QTimer sendTimer;
    int lastBaud = 0;
    QByteArray received; // under mutex

    // The bootstrap-loader role. While it is on, a wire thread owns the master's input and the
    // loader's answers, so that each leaves on time whatever the event loop is busy with; the
    // event loop only hears of what happened.
    mutable std::mutex mutex; // guards received, loader and stats
    std::unique_ptr<BootLoader> loader;
    PacingStats stats;
    double lateSumUs = 0;
    std::thread wire;
    std::atomic<bool> wireStop{false};
    std::atomic<bool> resetWanted{false};
    int wakePipe[2] = {-1, -1};
    int watchFd = -1;    // the slave's opens and closes (Linux); without it, the idle speed tells
    int slaveOpens = 0;  // wire thread only
    bool spoke = false;  // wire thread only: the program has sent a byte since the line opened

    // The record being played.
    QList<QByteArray> pieces;
    qsizetype pieceIndex = 0;
    qsizetype pieceOffset = 0;
    CaptureScript script;
    qint64 recordBytesSent = 0;
    bool inRecord = false;
    bool active = false;
    QElapsedTimer clock;
    double dueMs = 0; // when the next piece may leave, on clock

    explicit Private(SimEngine *owner) : q(owner) {}

    void pollLine()
    {
        if (master < 0)
            return;
        termios t{};
        if (tcgetattr(master, &t) != 0)
            return;
        const int baud = baudOf(cfgetospeed(&t));
        if (baud != lastBaud) {
            lastBaud = baud;
            emit q->lineConfigured(baud);
        }
        if (baud == baudOf(kIdleSpeed) && wire.joinable() && watchFd < 0) {
            resetWanted = true;
            wake();
        }
    }

    // The speed the program's end of the line is set to, read at the moment it matters.
    int programBaud() const
    {
        termios t{};
        if (master < 0 || tcgetattr(master, &t) != 0)
            return 0;
        return baudOf(cfgetospeed(&t));
    }

    void wake()
    {
        if (wakePipe[1] >= 0) {
            const char c = 1;
            [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &c, 1);
        }
    }

    void startWire()
    {
        if (master < 0 || !loader || wire.joinable())
            return;
        if (readNotifier)
            readNotifier->setEnabled(false);
        if (::pipe(wakePipe) != 0) {
            wakePipe[0] = wakePipe[1] = -1;
        } else {
            for (const int fd : wakePipe) {
                ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
                ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            }
        }
#if defined(__linux__)
        watchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watchFd >= 0
            && inotify_add_watch(watchFd, QFile::encodeName(slavePath).constData(), IN_OPEN | IN_CLOSE) < 0) {
            ::close(watchFd);
            watchFd = -1;
        }
#endif
        slaveOpens = 0;
        spoke = false;
        wireStop = false;
        wire = std::thread([this] { wireLoop(); });
    }

    void stopWire()
    {
        if (wire.joinable()) {
            wireStop = true;
            wake();
            wire.join();
        }
        for (int &fd : wakePipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
        if (watchFd >= 0)
            ::close(watchFd);
        watchFd = -1;
    }

    // Runs on the event loop's thread, after the wire thread's news.
    void deliver(const std::vector<BootLoader::Event> &events)
    {
        for (const BootLoader::Event &e : events) {
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
                QTimer::singleShot(kHangUpGraceMs, q, [this] { q->hangUp(); });
                return;
            }
        }
    }

    void cancelCapture()
    {
        if (!active)
            return;
        active = false;
        sendTimer.stop();
        if (writeNotifier)
            writeNotifier->setEnabled(false);
    }

    // What the wire thread has for the event loop.
    struct News {
        QByteArray bytes;
        bool lineClosed = false;     // the program closed the line
        bool firstOfOpening = false; // the program's first byte since it opened the line
        std::vector<BootLoader::Event> events;
    };

    void post(News news)
    {
        if (news.bytes.isEmpty() && !news.lineClosed && !news.firstOfOpening && news.events.empty())
            return;
        QMetaObject::invokeMethod(
            q,
            [this, news = std::move(news)] {
                // A capture goes to no one once the line is closed; and the program's first byte
                // finds the instrument in its loader, not sending a flight.
                if (news.lineClosed || news.firstOfOpening)
                    cancelCapture();
                if (news.lineClosed)
                    emit q->programClosed();
                if (news.firstOfOpening)
                    emit q->programSpoke();
                if (!news.bytes.isEmpty())
                    emit q->bytesReceived(news.bytes);
                deliver(news.events);
            },
            Qt::QueuedConnection);
    }

    // The slave's opens and closes: the program's last close resets the instrument.
    bool watchSlave()
    {
        bool closed = false;
#if defined(__linux__)
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(watchFd, buffer, sizeof buffer);
            if (n <= 0)
                break;
            for (ssize_t at = 0; at < n;) {
                const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
                if (e->mask & IN_OPEN) {
                    ++slaveOpens;
                } else if (e->mask & IN_CLOSE) {
                    if (--slaveOpens <= 0) {
                        slaveOpens = 0;
                        closed = true;
                    }
                }
                at += ssize_t(sizeof(inotify_event) + e->len);
            }
        }
#endif
        return closed;
    }

    void wireLoop()
    {
#if defined(__linux__)
        prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); // wake at the character's moment, not 50 us on
#endif
        // The thread sleeps between characters; where the system allows it, a busy machine (a
        // compiler on every core) does not hold it back when a character is due.
        sched_param param{};
        param.sched_priority = 1;
        pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
        while (!wireStop) {
            qint64 due = -1;
            {
                std::lock_guard lock(mutex);
                due = loader->nextDueNs();
            }
            pollfd fds[3] = {{master, POLLIN, 0}, {wakePipe[0], POLLIN, 0}, {watchFd, POLLIN, 0}};
            const nfds_t count = watchFd >= 0 ? 3 : 2;
            const qint64 waitNs = due < 0 ? -1 : std::max<qint64>(0, due - steadyNs());
#if defined(__linux__)
            timespec timeout{time_t(waitNs / 1'000'000'000), long(waitNs % 1'000'000'000)};
            const int ready = ::ppoll(fds, count, waitNs < 0 ? nullptr : &timeout, nullptr);
#else
            const int ready = ::poll(fds, count, waitNs < 0 ? -1 : int((waitNs + 999'999) / 1'000'000));
#endif
            if (wireStop)
                break;
            if (ready < 0 && errno != EINTR)
                break;

            News news;
            std::lock_guard lock(mutex);
            if (fds[1].revents & POLLIN) {
                char drain[64];
                while (::read(wakePipe[0], drain, sizeof drain) > 0) {
                }
            }
            const bool closed = (count > 2 && (fds[2].revents & POLLIN) && watchSlave()) || resetWanted.exchange(false);
            if (closed) {
                // What was sent and not read is lost with the closed port, not left for the next
                // opener.
                tcflush(slave, TCIFLUSH);
                loader->reset();
                spoke = false;
                news.lineClosed = true;
            }
            if (fds[0].revents & POLLIN) {
                char buffer[4096];
                const ssize_t n = ::read(master, buffer, sizeof buffer);
                if (n <= 0 && errno != EAGAIN && errno != EINTR) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(10)); // never spin on a dead line
                } else if (n > 0) {
                    const qint64 readNs = steadyNs();
                    const int baud = programBaud();
                    news.bytes = QByteArray(buffer, n);
                    received += news.bytes;
                    news.firstOfOpening = !spoke;
                    spoke = true;
                    for (const char c : std::as_const(news.bytes))
                        loader->receive(c, readNs, baud);
                }
            } else if (fds[0].revents & (POLLHUP | POLLERR)) {
                // No one holds the slave (cannot happen while the engine does): do not spin.
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            writeDue();
            news.events = loader->takeEvents();
            post(std::move(news));
            if (loader->hungUp())
                break; // the event loop drops the line
        }
    }

    // Sends the answers that are due, each as the program's end of the line hears it now.
    void writeDue()
    {
        const std::vector<BootLoader::Answer> due = loader->takeDue(steadyNs());
        if (due.empty())
            return;
        const int baud = programBaud();
        QByteArray out;
        for (const BootLoader::Answer &a : due) {
            if (!a.withheld)
                out += baud == a.baud ? a.byte : BootLoader::garbled(baud, a.baud);
        }
        if (!out.isEmpty()) {
            // A full pty loses them, as a receiver overruns.
            [[maybe_unused]] const ssize_t n = ::write(master, out.constData(), size_t(out.size()));
        }
        const qint64 now = steadyNs();
        for (const BootLoader::Answer &a : due) {
            if (a.withheld || !loader->paced())
                continue;
            const double lateUs = double(now - a.dueNs) / 1000.0;
            lateSumUs += lateUs;
            ++stats.characters;
            stats.maxLateUs = std::max(stats.maxLateUs, lateUs);
        }
        if (stats.characters > 0)
            stats.meanLateUs = lateSumUs / double(stats.characters);
    }

    void readInput()
    {
        char buffer[4096];
        for (;;) {
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n > 0) {
                const QByteArray bytes(buffer, n);
                {
                    std::lock_guard lock(mutex);
                    received += bytes;
                }
                emit q->bytesReceived(bytes);
                continue;
            }
            break; // EAGAIN, or EIO while no one holds the slave
        }
    }

    void closeAll()
    {
        stopWire();
        delete readNotifier;
        readNotifier = nullptr;
        delete writeNotifier;
        writeNotifier = nullptr;
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
        master = slave = -1;
        pollTimer.stop();
        sendTimer.stop();
    }

    void finish()
    {
        active = false;
        sendTimer.stop();
        if (writeNotifier)
            writeNotifier->setEnabled(false);
        emit q->recordSent();
    }

    bool faultReached() const
    {
        return inRecord && script.hangUpAfter >= 0 && recordBytesSent >= script.hangUpAfter;
    }

    // The hang-up fault: stop writing, give the reader time to take what is on the line, then
    // drop it.
    void hangUpSoon()
    {
        active = false;
        QTimer::singleShot(kHangUpGraceMs, q, [this] { q->hangUp(); });
    }

    // Writes what may leave now; returns when the line must carry it first or the pty is full.
    void pump()
    {
        while (active && master >= 0) {
            if (faultReached()) {
                hangUpSoon();
                return;
            }
            if (pieceIndex >= pieces.size()) {
                finish();
                return;
            }
            if (script.paced || pieceOffset == 0) {
                const double now = double(clock.nsecsElapsed()) / 1e6;
                if (now + 0.5 < dueMs) {
                    sendTimer.start(std::max(1, int(std::ceil(dueMs - now))));
                    return;
                }
            }
            const QByteArray &piece = pieces[pieceIndex];
            qint64 want = piece.size() - pieceOffset;
            if (inRecord && script.hangUpAfter >= 0)
                want = std::min<qint64>(want, script.hangUpAfter - recordBytesSent);
            const ssize_t n = ::write(master, piece.constData() + pieceOffset, size_t(want));
            if (n < 0) {
                if (errno == EAGAIN || errno == EINTR) {
                    writeNotifier->setEnabled(true);
                    return;
                }
                active = false;
                q->hangUp();
                return;
            }
            pieceOffset += n;
            if (inRecord)
                recordBytesSent += n;
            if (pieceOffset < piece.size()) {
                if (faultReached())
                    continue;
                writeNotifier->setEnabled(true); // the pty is full: go on when it drains
                return;
            }
            // A whole piece is out: the next one leaves when the line has carried this one, and a
            // marker line stands alone.
            const bool marker = piece.toUpper().contains("END") || pieceIndex == 0;
            double gap = script.paced ? 1000.0 * double(piece.size()) / std::max(1, script.charactersPerSecond) : 0.0;
            if (marker)
                gap = std::max(gap, double(kMarkerPauseMs));
            const double now = double(clock.nsecsElapsed()) / 1e6;
            dueMs = std::max(dueMs, now - 50.0) + gap; // catch up after a stall, but never burst
            if (pieceIndex == 0)
                inRecord = true; // past the preamble (or the first line of the record itself)
            ++pieceIndex;
            pieceOffset = 0;
        }
    }
};

SimEngine::SimEngine(QObject *parent) : QObject(parent), d(std::make_unique<Private>(this))
{
    d->sendTimer.setSingleShot(true);
    connect(&d->sendTimer, &QTimer::timeout, this, [this] { d->pump(); });
    d->pollTimer.setInterval(50);
    connect(&d->pollTimer, &QTimer::timeout, this, [this] { d->pollLine(); });
}

SimEngine::~SimEngine() { d->closeAll(); }

bool SimEngine::open(QString *error)
{
    char name[256] = {};
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        if (error)
            *error = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    // Raw, and at a speed the program never uses, so that its opening the line shows.
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    cfsetispeed(&t, kIdleSpeed);
    cfsetospeed(&t, kIdleSpeed);
    tcsetattr(slave, TCSANOW, &t);
    ::fcntl(master, F_SETFL, ::fcntl(master, F_GETFL) | O_NONBLOCK);
    // A program this process starts (korvel-cli in a test) must not hold the line open: a hang-up
    // would not reach it.
    ::fcntl(master, F_SETFD, FD_CLOEXEC);
    ::fcntl(slave, F_SETFD, FD_CLOEXEC);
    d->master = master;
    d->slave = slave;
    d->slavePath = QString::fromLocal8Bit(name);
    d->lastBaud = baudOf(kIdleSpeed);
    d->readNotifier = new QSocketNotifier(master, QSocketNotifier::Read, this);
    connect(d->readNotifier, &QSocketNotifier::activated, this, [this] { d->readInput(); });
    d->writeNotifier = new QSocketNotifier(master, QSocketNotifier::Write, this);
    d->writeNotifier->setEnabled(false);
    connect(d->writeNotifier, &QSocketNotifier::activated, this, [this] {
        d->writeNotifier->setEnabled(false);
        d->pump();
    });
    d->pollTimer.start();
    d->startWire();
    return true;
}

QString SimEngine::slavePath() const { return d->slavePath; }

int SimEngine::lineBaud() const { return d->lastBaud; }

void SimEngine::sendCapture(const CaptureScript &script)
{
    d->script = script;
    d->pieces.clear();
    if (!script.preamble.isEmpty())
        d->pieces.append(script.preamble);
    d->pieces.append(splitLines(script.record));
    d->pieceIndex = 0;
    d->pieceOffset = 0;
    d->recordBytesSent = 0;
    d->inRecord = script.preamble.isEmpty();
    d->active = true;
    d->clock.start();
    d->dueMs = 0;
    d->pump();
}

bool SimEngine::sending() const { return d->active; }

void SimEngine::hangUp()
{
    if (d->master < 0)
        return;
    d->active = false;
    d->closeAll();
    emit hungUp();
}

QByteArray SimEngine::received() const
{
    std::lock_guard lock(d->mutex);
    return d->received;
}

void SimEngine::setLoader(const LoaderOptions &options)
{
    {
        std::lock_guard lock(d->mutex);
        if (d->loader)
            d->loader->setOptions(options);
        else
            d->loader = std::make_unique<BootLoader>(options);
    }
    d->startWire();
}

bool SimEngine::loaderOn() const
{
    std::lock_guard lock(d->mutex);
    return d->loader != nullptr;
}

int SimEngine::loaderBaud() const
{
    std::lock_guard lock(d->mutex);
    return d->loader ? d->loader->baud() : 0;
}

QMap<quint32, quint8> SimEngine::memory() const
{
    std::lock_guard lock(d->mutex);
    return d->loader ? d->loader->memory() : QMap<quint32, quint8>();
}

QMap<quint32, quint8> SimEngine::registers() const
{
    std::lock_guard lock(d->mutex);
    return d->loader ? d->loader->registers() : QMap<quint32, quint8>();
}

QList<QByteArray> SimEngine::records() const
{
    std::lock_guard lock(d->mutex);
    return d->loader ? d->loader->records() : QList<QByteArray>();
}

bool SimEngine::saveImage(const QString &path, QString *error, quint32 *lowest) const
{
    const QMap<quint32, quint8> image = memory();
    QByteArray bytes;
    if (!image.isEmpty()) {
        const quint32 from = image.firstKey();
        bytes = QByteArray(qsizetype(image.lastKey() - from) + 1, char(0xFF));
        for (auto it = image.cbegin(); it != image.cend(); ++it)
            bytes[qsizetype(it.key() - from)] = char(it.value());
        if (lowest)
            *lowest = from;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

PacingStats SimEngine::pacing() const
{
    std::lock_guard lock(d->mutex);
    return d->stats;
}

} // namespace korvel::sim
