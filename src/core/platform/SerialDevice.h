#pragma once
// What a serial driver offers beyond QSerialPort, by the open port's native handle (a descriptor
// on Linux and macOS, a HANDLE on Windows, passed as a number). Where a system has no such thing the
// calls say so and the line does without.

#include <QString>
#include <QtGlobal>

#include <optional>

namespace korvel::platform {

// Received bytes the driver holds that the port has not taken yet (0 where it cannot tell).
qint64 BytesInDriver(qintptr handle);

// The driver's counters of line errors, where it keeps them (pseudo-terminals and many adapters
// do not).
struct LineErrorCounts {
    int breaks = 0;
    int framing = 0;
    int overrun = 0;
    int bufferOverrun = 0;
    int parity = 0;
};
std::optional<LineErrorCounts> ReadLineErrorCounts(qintptr handle);

// The driver's low-latency flag, which common USB-serial drivers turn into a 1 ms latency timer;
// nullopt where there is no such setting (set per adapter in its properties on Windows).
std::optional<bool> LowLatency(qintptr handle);
bool SetLowLatency(qintptr handle, bool on);

// Whether this user may open the device at all, so a refusal means another program holds it.
bool MayUseDevice(const QString &device);

// The system's own name of the instrument's port "Com n" where the system numbers its ports
// ("COMn" on Windows); empty where ports are found by listing them.
QString NumberedPortName(int n);

// Whether a listed port is the second name of a device already listed (macOS lists each as tty.*
// and cu.*; the cu.* one opens without waiting for carrier).
bool IsTwinPortName(const QString &name);

// What the owner can do about a port that would not open (unplugged, not theirs to use, in use by
// another program), as a sentence; empty where the system gives no clue.
QString PortOpenAdvice(const QString &device);

} // namespace korvel::platform
