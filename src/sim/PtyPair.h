#pragma once
// The pseudo-terminal pair the simulated instrument sits on: the program opens the slave path like
// any serial port, the simulator owns the master. On Linux the two share one termios, so the master
// sees the speed the program set.

#include <QString>

namespace korvel::sim {

class PtyPair {
public:
    PtyPair() = default;
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;
    ~PtyPair() { close(); }

    // Creates the pair, raw and at the idle speed; false with the system's reason when it cannot.
    bool open(QString *error = nullptr);
    void close();
    bool isOpen() const { return m_master >= 0; }

    int master() const { return m_master; }
    int slave() const { return m_slave; }
    QString slavePath() const { return m_slavePath; }

    // The speed the program's end of the line is set to now (0: not a standard speed, or closed;
    // ok false when the line's settings could not be read).
    int programBaud(bool *ok = nullptr) const;
    // A speed the program never sets: the line reads "closed" while the pair carries it.
    static constexpr int kIdleBaud = 9600;
    // Throws away what the program has not read yet, as its closed port loses it.
    void dropUnread();

private:
    int m_master = -1;
    int m_slave = -1; // held open so the pair outlives the program's opens and closes
    QString m_slavePath;
};

} // namespace korvel::sim
