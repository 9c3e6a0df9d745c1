#pragma once
// A server statement watched from this side. A server whose processes are stopped, or a host that
// hangs while its network still runs, answers neither the statement nor its own time-out, while
// the system there still acknowledges every packet and keepalive: the client's call would wait
// until the server came back. A statement that has had no answer within its limit has its
// connection ended from this side (its socket shut down), so that the call returns with an error
// and the command can say the server went away.

#include <cstdint>

namespace korvel::library_detail {

class StatementWatch {
public:
    // Watches the connection's socket from now for limitMs; a negative socket is not watched.
    StatementWatch(std::int64_t socket, std::int64_t limitMs);
    ~StatementWatch();
    StatementWatch(const StatementWatch &) = delete;
    StatementWatch &operator=(const StatementWatch &) = delete;

    // Ends the watch: true when the limit passed first and the connection was ended.
    bool end();

private:
    std::uint64_t m_id = 0; // 0: not watched, or ended
};

} // namespace korvel::library_detail
