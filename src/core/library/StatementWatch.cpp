#include "core/library/StatementWatch.h"

#include "core/platform/Sockets.h"

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <thread>

namespace korvel::library_detail {

namespace {

using Clock = std::chrono::steady_clock;

// One thread for every connection of the process, started with the first watch: it sleeps until
// the nearest limit and ends the connections whose limit has passed. It lasts as long as the
// process (a thread given up on may still end its watch while the process ends).
class Watchdog {
public:
    static Watchdog &Get()
    {
        static Watchdog *const dog = new Watchdog;
        return *dog;
    }

    std::uint64_t arm(std::int64_t socket, Clock::time_point deadline)
    {
        const std::lock_guard lock(m_mutex);
        if (!m_started) {
            std::thread([this] { run(); }).detach();
            m_started = true;
        }
        const std::uint64_t id = ++m_last;
        m_watched.emplace(id, Watched{socket, deadline, false});
        m_wake.notify_one();
        return id;
    }

    bool disarm(std::uint64_t id)
    {
        const std::lock_guard lock(m_mutex);
        const auto it = m_watched.find(id);
        if (it == m_watched.end())
            return false;
        const bool ended = it->second.ended;
        m_watched.erase(it);
        return ended;
    }

private:
    struct Watched {
        std::int64_t socket;
        Clock::time_point deadline;
        bool ended;
    };

    void run()
    {
        std::unique_lock lock(m_mutex);
        while (true) {
            const Clock::time_point now = Clock::now();
            Clock::time_point next = Clock::time_point::max();
            for (auto &[id, watched] : m_watched) {
                if (watched.ended)
                    continue;
                // Under the lock: the watch is still armed, so its socket is still open.
                if (watched.deadline <= now) {
                    platform::ShutDownSocket(watched.socket);
                    watched.ended = true;
                } else if (watched.deadline < next) {
                    next = watched.deadline;
                }
            }
            if (next == Clock::time_point::max())
                m_wake.wait(lock);
            else
                m_wake.wait_until(lock, next);
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::map<std::uint64_t, Watched> m_watched;
    std::uint64_t m_last = 0;
    bool m_started = false;
};

} // namespace

StatementWatch::StatementWatch(std::int64_t socket, std::int64_t limitMs)
{
    if (socket >= 0)
        m_id = Watchdog::Get().arm(socket, Clock::now() + std::chrono::milliseconds(limitMs));
}

StatementWatch::~StatementWatch()
{
    end();
}

bool StatementWatch::end()
{
    if (m_id == 0)
        return false;
    const bool ended = Watchdog::Get().disarm(m_id);
    m_id = 0;
    return ended;
}

} // namespace korvel::library_detail
