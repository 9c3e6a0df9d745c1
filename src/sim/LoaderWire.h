#pragma once
// The bootstrap loader's wire: a thread that owns the master's input and the loader's answers while
// the loader role is on, so that each answer leaves on time whatever the event loop is busy with.
// The event loop only hears of what happened.

#include "sim/BootLoader.h"
#include "sim/PtyPair.h"

#include <QByteArray>
#include <QObject>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <deque>
#include <thread>
#include <vector>

namespace korvel::sim {

// What the wire has for the event loop.
struct WireNews {
    QByteArray bytes;            // the program sent these
    bool lineClosed = false;     // the program closed the line (the loader was reset)
    bool firstOfOpening = false; // the program's first byte since it opened the line
    std::vector<BootLoader::Event> events;
};

class LoaderWire {
public:
    // News is delivered on context's thread.
    LoaderWire(PtyPair &pty, QObject *context, std::function<void(const WireNews &)> onNews);
    ~LoaderWire();

    // The loader's options; the first call makes the loader.
    void setOptions(const LoaderOptions &options);
    bool hasLoader() const;
    // Starts the thread when the pair is open and the loader made; stop() joins it.
    void start();
    void stop();
    bool running() const { return m_thread.joinable(); }
    // The slave's opens and closes are watched (Linux); otherwise the idle speed tells a close.
    bool watchesOpens() const { return m_watchFd >= 0; }
    // The line reads closed: the loader resets on the thread's next turn.
    void lineIdle();

    int baud() const;
    QMap<quint32, quint8> memory() const;
    QMap<quint32, quint8> registers() const;
    QList<QByteArray> records() const;
    PacingStats pacing() const;
    // Bytes the program sent while the wire ran.
    QByteArray received() const;

private:
    void run();
    void wake();
    bool slaveClosed();
    void writeDue();
    void deliverPackets(bool all);
    qint64 nextWakeNs() const;
    void post(WireNews news);

    PtyPair &m_pty;
    QObject *m_context;
    std::function<void(const WireNews &)> m_onNews;

    mutable std::mutex m_mutex; // guards the loader, the received bytes and the figures
    std::unique_ptr<BootLoader> m_loader;
    QByteArray m_received;
    PacingStats m_stats;
    double m_lateSumUs = 0;

    // The adapter's packets on their way to the program (thread only).
    struct Packet {
        QByteArray bytes;
        qint64 leavesNs = 0;
        bool sealed = false; // takes no more bytes
    };
    std::deque<Packet> m_packets;

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_resetWanted{false};
    int m_wakePipe[2] = {-1, -1};
    int m_watchFd = -1;
    int m_slaveOpens = 0; // thread only
    bool m_spoke = false; // thread only: the program has sent a byte since the line opened
};

} // namespace korvel::sim
