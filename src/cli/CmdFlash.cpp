// korvel-cli flash: the firmware window's "&Burn Program" without the window. The trail shows what
// the window would: the status panel, the step and done labels, the progress bar, the messages.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/link/FlashBurn.h"
#include "core/link/TargetLink.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cmath>
#include <cstdio>

namespace korvel::cli {

namespace {

const char *const kFlashUsage =
    "usage: korvel-cli flash [--port P] [--speed N] [--init FILE] [--verbose] [PROGRAM]\n"
    "  --port P     a device path, or 1..6 for \"Com n\" (default: the configured port)\n"
    "  --speed N    speed index 0 (19200), 1 (38400), 2 (115200) (default: the configured speed)\n"
    "  --init FILE  the register file (default: init.B beside korvel-cli)\n"
    "  --verbose    add \"rate: \" lines while records are sent\n"
    "  PROGRAM      the S-record program (default: the last one chosen in the firmware window)\n";

// "m:ss" for a number of seconds.
QString Clock(qint64 seconds)
{
    return QStringLiteral("%1:%2").arg(seconds / 60).arg(seconds % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

int RunFlash(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {QStringLiteral("--verbose")},
                                       {QStringLiteral("--port"), QStringLiteral("--speed"), QStringLiteral("--init")});
    if (!parsed)
        return UsageError(QString(), kFlashUsage);
    if (parsed->operands.size() > 1)
        return UsageError(QStringLiteral("flash takes at most one PROGRAM"), kFlashUsage);

    SerialPortLine line;
    TargetLink link(line, trail, trail, trail); // no window to close
    FlashBurn burn(link, trail, trail, trail);

    if (parsed->has(QStringLiteral("--port"))) {
        const auto port = PortFromOption(parsed->options.value(QStringLiteral("--port")));
        if (!port)
            return UsageError(QStringLiteral("--port takes a device path or a number 1 to 6"), kFlashUsage);
        link.setDevice(*port);
    }
    if (parsed->has(QStringLiteral("--speed"))) {
        bool ok = false;
        const double speed = parsed->options.value(QStringLiteral("--speed")).toDouble(&ok);
        if (!ok || !std::isfinite(speed))
            return UsageError(QStringLiteral("--speed takes a number"), kFlashUsage);
        link.setSpeedIndex(speed);
    }
    // Files named here are the user's, relative to where the command runs; the burn itself looks
    // in the program's folder.
    if (parsed->has(QStringLiteral("--init")))
        burn.setRegisterFile(QFileInfo(parsed->options.value(QStringLiteral("--init"))).absoluteFilePath());
    else
        burn.setRegisterFile(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("init.B")));
    if (!parsed->operands.isEmpty())
        burn.setProgramFile(QFileInfo(parsed->operands.constFirst()).absoluteFilePath());

    if (parsed->has(QStringLiteral("--verbose"))) {
        // About once a second, and the last record of each file.
        qint64 lastShownMs = -1000;
        QObject::connect(&link, &TargetLink::recordEchoed, [&](int sent, int total, qint64 bytes, qint64 elapsedMs) {
            if (sent < total && elapsedMs - lastShownMs < 1000)
                return;
            lastShownMs = sent < total ? elapsedMs : -1000;
            const double seconds = std::max<qint64>(elapsedMs, 1) / 1000.0;
            const qint64 left = qint64(std::ceil(seconds / sent * (total - sent)));
            trail.event("rate", QStringLiteral("%1/%2 records, %3 B/s, %4 left")
                                    .arg(sent)
                                    .arg(total)
                                    .arg(qint64(bytes / seconds))
                                    .arg(Clock(left)));
        });
        // A long wait: what it waits for and the seconds left, once a second.
        QObject::connect(&link, &TargetLink::countdown, [&](const QString &text) {
            if (!text.isEmpty())
                trail.event("rate", text);
        });
    }

    // The line's errors as the window reports them: outside a connection attempt, which makes line
    // noise of its own; they change nothing in the burn.
    QObject::connect(&line, &SerialLine::lineError, [&](int event) {
        const QString text = LineEventText(event);
        if (!link.IsConnecting && !text.isEmpty())
            trail.showMessage(AppTitle(), text, MessageIcon::None, MessageButtons::Ok);
    });

    const FlashBurn::Outcome outcome = burn.run();
    line.close();
    return outcome == FlashBurn::Outcome::Finished ? kExitOk : kExitFailed;
}

} // namespace korvel::cli
