#include "core/serial/ComPorts.h"

#include "core/settings/Settings.h"

#include <QCollator>
#include <QSerialPortInfo>
#include <QStringList>

#include <algorithm>

namespace korvel {

QString ResolveComPort(int n)
{
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    const QString named = RegisteredPort(n);
    if (!named.isEmpty())
        return named;

    // USB and ACM adapters first (what owners plug in today), then the built-in ports.
    QStringList adapters, builtIn;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        const QString name = info.portName();
#ifdef Q_OS_MACOS
        if (name.startsWith(QLatin1String("tty.")))
            continue; // each device also appears as cu.*, the one to open without carrier
#endif
        const bool adapter = name.contains(QLatin1String("USB"), Qt::CaseInsensitive)
                             || name.contains(QLatin1String("ACM")) || name.contains(QLatin1String("usbserial"))
                             || name.contains(QLatin1String("usbmodem"));
        (adapter ? adapters : builtIn).append(info.systemLocation());
    }
    QCollator byName;
    byName.setNumericMode(true);
    const auto less = [&byName](const QString &a, const QString &b) { return byName.compare(a, b) < 0; };
    std::sort(adapters.begin(), adapters.end(), less);
    std::sort(builtIn.begin(), builtIn.end(), less);
    const QStringList ports = adapters + builtIn;
    if (n >= 1 && n <= ports.size())
        return ports[n - 1];
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

} // namespace korvel
