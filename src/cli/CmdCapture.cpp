// korvel-cli capture: the capture window's road without the window. The line is opened as the
// window's load opens it, the capture armed for OUTFILE at once, and every arrival handled as
// the window handles it; what arrives is copied to stdout.

#include "cli/Commands.h"
#include "cli/Trail.h"
#include "core/capture/CaptureLine.h"

#include <QEventLoop>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <limits>

namespace korvel::cli {

namespace {

const char *const kCaptureUsage = "usage: korvel-cli capture [--port P] [--max-seconds S] OUTFILE\n";

} // namespace

std::optional<int> DeadlineFromOption(const QString &value)
{
    bool ok = false;
    const double seconds = value.toDouble(&ok);
    // NaN fails both tests; infinity and anything past what a timer holds (about 24 days) wait
    // that long.
    if (!ok || !(seconds > 0))
        return std::nullopt;
    constexpr int kLongestMs = std::numeric_limits<int>::max();
    if (!(seconds * 1000.0 < double(kLongestMs)))
        return kLongestMs;
    return std::max(1, int(std::lround(seconds * 1000.0)));
}

int RunCapture(const QStringList &args, Trail &trail)
{
    const auto parsed = ParseArguments(args, {}, {QStringLiteral("--port"), QStringLiteral("--max-seconds")});
    if (!parsed)
        return UsageError(QString(), kCaptureUsage);
    if (parsed->operands.size() != 1)
        return UsageError(QStringLiteral("capture needs one OUTFILE"), kCaptureUsage);
    QString device;
    if (parsed->has(QStringLiteral("--port"))) {
        const auto port = PortFromOption(parsed->options.value(QStringLiteral("--port")));
        if (!port)
            return UsageError(QStringLiteral("--port takes a device path or a number 1 to 6"), kCaptureUsage);
        device = *port;
    }
    std::optional<int> deadlineMs;
    if (parsed->has(QStringLiteral("--max-seconds"))) {
        const auto ms = DeadlineFromOption(parsed->options.value(QStringLiteral("--max-seconds")));
        if (!ms)
            return UsageError(QStringLiteral("--max-seconds takes a positive number of seconds"), kCaptureUsage);
        deadlineMs = *ms;
    }

    SerialPortLine line;
    CaptureLine capture(line, trail, trail);
    // Listening before the line opens and the file is chosen, so that their notes are heard.
    QObject::connect(&capture, &CaptureLine::shown, [](const QByteArray &chunk) {
        std::fwrite(chunk.constData(), 1, size_t(chunk.size()), stdout);
        std::fflush(stdout);
    });
    QObject::connect(&capture, &CaptureLine::note,
                     [](const QString &text) { std::fprintf(stderr, "korvel-cli: %s\n", qPrintable(text.trimmed())); });
    if (!capture.load(device)) {
        capture.closeQuietly(); // the load has said "NOT Connected " already
        return kExitFailed;
    }
    capture.arm(parsed->operands.constFirst());
    if (!capture.session().fileOpen()) {
        capture.unload();
        return kExitFailed;
    }

    QEventLoop loop;
    int status = kExitFailed;
    QObject::connect(&capture, &CaptureLine::recordDone, &loop, [&] {
        status = kExitOk;
        loop.quit();
    });
    // A failed write stops the capture: nothing more can reach the file.
    QObject::connect(&capture, &CaptureLine::note, &loop, [&] {
        if (!capture.session().fileOpen() && status != kExitOk)
            loop.quit();
    });
    QObject::connect(&capture, &CaptureLine::lineLost, &loop, [&] { loop.quit(); });
    QTimer deadline;
    if (deadlineMs) {
        deadline.setSingleShot(true);
        QObject::connect(&deadline, &QTimer::timeout, &loop, [&] {
            std::fprintf(stderr, "korvel-cli: no complete record within %g s\n", *deadlineMs / 1000.0);
            loop.quit();
        });
        deadline.start(*deadlineMs);
    }
    // What was already waiting when the line opened.
    QTimer::singleShot(0, &capture, &CaptureLine::receive);
    loop.exec();

    if (status == kExitOk) {
        capture.closeQuietly(); // "Done" is the last word of a complete capture
        return kExitOk;
    }
    capture.unload();
    return kExitFailed;
}

} // namespace korvel::cli
