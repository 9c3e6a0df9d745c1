#include "sim/PtyPair.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <util.h>
#else
#include <pty.h>
#endif

namespace korvel::sim {

namespace {

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

} // namespace

bool PtyPair::open(QString *error)
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
    m_master = master;
    m_slave = slave;
    m_slavePath = QString::fromLocal8Bit(name);
    return true;
}

void PtyPair::close()
{
    if (m_master >= 0)
        ::close(m_master);
    if (m_slave >= 0)
        ::close(m_slave);
    m_master = m_slave = -1;
}

int PtyPair::programBaud(bool *ok) const
{
    termios t{};
    const bool read = m_master >= 0 && tcgetattr(m_master, &t) == 0;
    if (ok)
        *ok = read;
    return read ? baudOf(cfgetospeed(&t)) : 0;
}

void PtyPair::dropUnread()
{
    if (m_slave >= 0)
        tcflush(m_slave, TCIFLUSH);
}

} // namespace korvel::sim
