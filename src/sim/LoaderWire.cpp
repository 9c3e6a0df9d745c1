#include "sim/LoaderWire.h"

#include <QFile>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <time.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/inotify.h>
#include <sys/prctl.h>
#endif

namespace korvel::sim {

namespace {

qint64 steadyNs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

} // namespace

LoaderWire::LoaderWire(PtyPair &pty, QObject *context, std::function<void(const WireNews &)> onNews)
    : m_pty(pty), m_context(context), m_onNews(std::move(onNews))
{
}

LoaderWire::~LoaderWire()
{
    stop();
}

void LoaderWire::setOptions(const LoaderOptions &options)
{
    std::lock_guard lock(m_mutex);
    if (m_loader)
        m_loader->setOptions(options);
    else
        m_loader = std::make_unique<BootLoader>(options);
}

bool LoaderWire::hasLoader() const
{
    std::lock_guard lock(m_mutex);
    return m_loader != nullptr;
}

void LoaderWire::wake()
{
    if (m_wakePipe[1] >= 0) {
        const char c = 1;
        [[maybe_unused]] const ssize_t n = ::write(m_wakePipe[1], &c, 1);
    }
}

void LoaderWire::lineIdle()
{
    if (!running() || watchesOpens())
        return;
    m_resetWanted = true;
    wake();
}

void LoaderWire::start()
{
    if (!m_pty.isOpen() || !hasLoader() || running())
        return;
    if (::pipe(m_wakePipe) != 0) {
        m_wakePipe[0] = m_wakePipe[1] = -1;
    } else {
        for (const int fd : m_wakePipe) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
#if defined(__linux__)
    m_watchFd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_watchFd >= 0 &&
        inotify_add_watch(m_watchFd, QFile::encodeName(m_pty.slavePath()).constData(), IN_OPEN | IN_CLOSE) < 0) {
        ::close(m_watchFd);
        m_watchFd = -1;
    }
#endif
    m_slaveOpens = 0;
    m_spoke = false;
    m_stop = false;
    m_thread = std::thread([this] { run(); });
}

void LoaderWire::stop()
{
    if (m_thread.joinable()) {
        m_stop = true;
        wake();
        m_thread.join();
    }
    for (int &fd : m_wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
    if (m_watchFd >= 0)
        ::close(m_watchFd);
    m_watchFd = -1;
}

void LoaderWire::post(WireNews news)
{
    if (news.bytes.isEmpty() && !news.lineClosed && !news.firstOfOpening && news.events.empty())
        return;
    QMetaObject::invokeMethod(
        m_context, [this, news = std::move(news)] { m_onNews(news); }, Qt::QueuedConnection);
}

// The slave's opens and closes: the program's last close resets the instrument.
bool LoaderWire::slaveClosed()
{
    bool closed = false;
#if defined(__linux__)
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_watchFd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        for (ssize_t at = 0; at < n;) {
            const auto *e = reinterpret_cast<const inotify_event *>(buffer + at);
            if (e->mask & IN_OPEN) {
                ++m_slaveOpens;
            } else if (e->mask & IN_CLOSE) {
                if (--m_slaveOpens <= 0) {
                    m_slaveOpens = 0;
                    closed = true;
                }
            }
            at += ssize_t(sizeof(inotify_event) + e->len);
        }
    }
#endif
    return closed;
}

void LoaderWire::run()
{
#if defined(__linux__)
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL); // wake at the character's moment, not 50 us on
#endif
    // The thread sleeps between characters; where the system allows it, a busy machine (a
    // compiler on every core) does not hold it back when a character is due.
    sched_param param{};
    param.sched_priority = 1;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);
    const int master = m_pty.master();
    while (!m_stop) {
        qint64 due = -1;
        {
            std::lock_guard lock(m_mutex);
            due = nextWakeNs();
        }
        pollfd fds[3] = {{master, POLLIN, 0}, {m_wakePipe[0], POLLIN, 0}, {m_watchFd, POLLIN, 0}};
        const nfds_t count = m_watchFd >= 0 ? 3 : 2;
        const qint64 waitNs = due < 0 ? -1 : std::max<qint64>(0, due - steadyNs());
#if defined(__linux__)
        timespec timeout{time_t(waitNs / 1'000'000'000), long(waitNs % 1'000'000'000)};
        const int ready = ::ppoll(fds, count, waitNs < 0 ? nullptr : &timeout, nullptr);
#else
        const int ready = ::poll(fds, count, waitNs < 0 ? -1 : int((waitNs + 999'999) / 1'000'000));
#endif
        if (m_stop)
            break;
        if (ready < 0 && errno != EINTR)
            break;

        WireNews news;
        std::lock_guard lock(m_mutex);
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(m_wakePipe[0], drain, sizeof drain) > 0) {
            }
        }
        const bool closed =
            (count > 2 && (fds[2].revents & POLLIN) && slaveClosed()) || m_resetWanted.exchange(false);
        if (closed) {
            // What was sent and not read is lost with the closed port, not left for the next
            // opener.
            m_pty.dropUnread();
            m_packets.clear();
            m_loader->reset();
            m_spoke = false;
            news.lineClosed = true;
        }
        if (fds[0].revents & POLLIN) {
            char buffer[4096];
            const ssize_t n = ::read(master, buffer, sizeof buffer);
            if (n <= 0 && errno != EAGAIN && errno != EINTR) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10)); // never spin on a dead line
            } else if (n > 0) {
                const qint64 readNs = steadyNs();
                const int baud = m_pty.programBaud();
                news.bytes = QByteArray(buffer, n);
                m_received += news.bytes;
                news.firstOfOpening = !m_spoke;
                m_spoke = true;
                for (const char c : std::as_const(news.bytes))
                    m_loader->receive(c, readNs, baud);
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // No one holds the slave (cannot happen while the engine does): do not spin.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        writeDue();
        news.events = m_loader->takeEvents();
        post(std::move(news));
        if (m_loader->hungUp()) {
            deliverPackets(true); // what the adapter holds goes out before the line drops
            break;                // the event loop drops the line
        }
    }
}

qint64 LoaderWire::nextWakeNs() const
{
    qint64 due = m_loader->nextDueNs();
    for (const Packet &p : m_packets)
        if (due < 0 || p.leavesNs < due)
            due = p.leavesNs;
    return due;
}

// Sends the answers that are due, each as the program's end of the line hears it now: through the
// adapter's packets when it has a latency, else at once.
void LoaderWire::writeDue()
{
    const qint64 nowNs = steadyNs();
    const std::vector<BootLoader::Answer> due = m_loader->takeDue(nowNs);
    const LoaderOptions &options = m_loader->options();
    const qint64 latencyNs = qint64(std::max(0, options.latencyMs)) * 1'000'000;
    if (!due.empty()) {
        const int baud = m_pty.programBaud();
        for (const BootLoader::Answer &a : due) {
            if (a.withheld)
                continue;
            const char byte = baud == a.baud ? a.byte : BootLoader::garbled(baud, a.baud);
            const bool alone = a.switchTo > 0 && options.switchEchoAlone;
            if (alone && !m_packets.empty())
                m_packets.back().sealed = true;
            if (m_packets.empty() || m_packets.back().sealed)
                m_packets.push_back({QByteArray(), a.dueNs + latencyNs, false});
            Packet &packet = m_packets.back();
            packet.bytes += byte;
            if (alone || packet.bytes.size() >= LoaderOptions::kPacketBytes)
                packet.sealed = true;
            if (packet.bytes.size() >= LoaderOptions::kPacketBytes)
                packet.leavesNs = std::min(packet.leavesNs, nowNs);
        }
        const qint64 now = steadyNs();
        for (const BootLoader::Answer &a : due) {
            if (a.withheld || !m_loader->paced())
                continue;
            const double lateUs = double(now - a.dueNs) / 1000.0;
            m_lateSumUs += lateUs;
            ++m_stats.characters;
            m_stats.maxLateUs = std::max(m_stats.maxLateUs, lateUs);
            if (lateUs > 100.0)
                ++m_stats.lateOver100Us;
        }
        if (m_stats.characters > 0)
            m_stats.meanLateUs = m_lateSumUs / double(m_stats.characters);
    }
    deliverPackets(false);
}

// Hands the packets whose time has come to the program, in order.
void LoaderWire::deliverPackets(bool all)
{
    const qint64 now = steadyNs();
    QByteArray out;
    while (!m_packets.empty() && (all || m_packets.front().leavesNs <= now)) {
        out += m_packets.front().bytes;
        m_packets.pop_front();
    }
    if (!out.isEmpty()) {
        // A full pty loses them, as a receiver overruns.
        [[maybe_unused]] const ssize_t n = ::write(m_pty.master(), out.constData(), size_t(out.size()));
    }
}

int LoaderWire::baud() const
{
    std::lock_guard lock(m_mutex);
    return m_loader ? m_loader->baud() : 0;
}

QMap<quint32, quint8> LoaderWire::memory() const
{
    std::lock_guard lock(m_mutex);
    return m_loader ? m_loader->memory() : QMap<quint32, quint8>();
}

QMap<quint32, quint8> LoaderWire::registers() const
{
    std::lock_guard lock(m_mutex);
    return m_loader ? m_loader->registers() : QMap<quint32, quint8>();
}

QList<QByteArray> LoaderWire::records() const
{
    std::lock_guard lock(m_mutex);
    return m_loader ? m_loader->records() : QList<QByteArray>();
}

PacingStats LoaderWire::pacing() const
{
    std::lock_guard lock(m_mutex);
    return m_stats;
}

QByteArray LoaderWire::received() const
{
    std::lock_guard lock(m_mutex);
    return m_received;
}

} // namespace korvel::sim
