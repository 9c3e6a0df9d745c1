// The firmware road's figures.
//
//  1. Turnaround: the link sends 1024 records at 115200 baud to a loader on a pseudo-terminal that
//     echoes at once (a thread of this process that reads without sleeping while records flow, so
//     that it times each byte as it lands, as the instrument's UART would). The link reads an echo
//     when a real line could have carried it back whole (the record's first byte plus its
//     characters, CR, and one character time), so the turnaround is counted from that moment, or
//     from the echo's last byte when it landed later, to the next record's first byte. Prints the
//     median and the 99th percentile (target: median at most 100 microseconds).
//  2. Completion wait: the 30 one-second intervals after the start record, with a silent
//     instrument. Prints this process's CPU time against the elapsed time (target: below 1%).
//  3. Wire efficiency: korvel-cli flash burns a 64 KiB program at 115200 baud into the simulated
//     instrument, which echoes at the line's pace (10 bits a character), on a quiet machine and
//     with a busy process beside it. Prints the program's transfer time against the best the line
//     allows (a 16-byte record is CR and 42 characters out, the echo overlapping, 44 character
//     times a record; target: at least 0.95), korvel-cli's wake-ups a record (its voluntary
//     context switches; target: at most 4), and how late the simulator's own echoes left. Then the
//     same, with fewer records, through a simulated USB-serial adapter of 1, 4 and 16 ms latency,
//     and the 1 ms figure (a driver asked for low latency) beside the 16 ms one (an adapter as it comes).
//
//   bench_flash [--skip-wait] [--skip-wire] [--records N] [--wire-records N]
#include "core/link/FlashBurn.h"
#include "core/link/TargetLink.h"
#include "sim/SimEngine.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace korvel;
using Clock = std::chrono::steady_clock;

namespace {

// What the windows would show, dropped; the "Burning Flash" step and the end are noted.
struct QuietUi : StatusLine, Prompter, ProgressView, BurnView {
    std::function<void(const QString &)> onStep, onDone;
    void setStatus(const QString &) override {}
    MessageAnswer showMessage(const QString &, const QString &text, MessageIcon, MessageButtons) override
    {
        std::fprintf(stderr, "bench_flash: message: %s\n", qPrintable(text));
        return MessageAnswer::Cancel;
    }
    void setProgress(int) override {}
    void setStep(const QString &text) override
    {
        if (onStep)
            onStep(text);
    }
    void setDone(const QString &text) override
    {
        if (onDone)
            onDone(text);
    }
    void setIndicator(Indicator) override {}
};

// A loader on a pseudo-terminal that echoes every byte at once, answers the handshake with "@",
// and stays silent after a start record. It notes when each record's first byte came in and when
// the last byte of each echo went out.
class EchoPeer {
public:
    bool open()
    {
        char name[256] = {};
        int slave = -1;
        if (::openpty(&m_master, &slave, name, nullptr, nullptr) != 0)
            return false;
        termios t{};
        tcgetattr(slave, &t);
        cfmakeraw(&t);
        tcsetattr(slave, TCSANOW, &t);
        ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
        m_slave = slave;
        m_path = QString::fromLocal8Bit(name);
        m_thread = std::thread([this] { run(); });
        return true;
    }
    ~EchoPeer()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        ::close(m_master);
        ::close(m_slave);
    }
    QString path() const { return m_path; }
    // Microseconds from the moment each echo was whole (on a line of this speed, or as it landed
    // if later) to the next record's first byte. Records are CR and `characters` characters.
    std::vector<double> turnarounds(int baud, int characters) const
    {
        const auto wire = std::chrono::nanoseconds(qint64(characters + 2) * 10'000'000'000LL / baud);
        std::vector<double> out;
        for (size_t i = 1; i < m_recordStarts.size() && i - 1 < m_echoEnds.size(); ++i) {
            const Clock::time_point whole = std::max(m_echoEnds[i - 1], m_recordStarts[i - 1] + wire);
            out.push_back(std::chrono::duration<double, std::micro>(m_recordStarts[i] - whole).count());
        }
        return out;
    }
    // Reads without sleeping (the turnaround), or sleeps until bytes come (the CPU figure).
    void setSpinning(bool on) { m_spinning = on; }
    void resetTimes()
    {
        m_recordStarts.clear();
        m_echoEnds.clear();
    }

private:
    void run()
    {
        char buffer[4096];
        while (!m_stop) {
            // The instrument's UART sees a byte as it lands: while records flow the peer reads without
            // sleeping, so its own wake-up is not counted against the program.
            if (!m_spinning) {
                pollfd p{m_master, POLLIN, 0};
                if (::poll(&p, 1, 50) <= 0)
                    continue;
            }
            const ssize_t n = ::read(m_master, buffer, sizeof buffer);
            if (n <= 0)
                continue;
            const auto now = Clock::now();
            std::string in(buffer, size_t(n));
            if (in[0] == '\r')
                m_recordStarts.push_back(now);
            m_line += in;
            if (in == "x") {
                (void)!::write(m_master, "@", 1);
                m_line.clear();
                continue;
            }
            if (m_silent)
                continue;
            (void)!::write(m_master, buffer, size_t(n));
            m_echoEnds.push_back(Clock::now());
            if (m_line.find("\r0000800000") != std::string::npos)
                m_silent = true; // the instrument burns and says nothing
            if (m_line.size() > 64)
                m_line.erase(0, m_line.size() - 16);
        }
    }

    int m_master = -1, m_slave = -1;
    QString m_path;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_spinning{false};
    bool m_silent = false;
    std::string m_line;
    std::vector<Clock::time_point> m_recordStarts, m_echoEnds;
};

quint8 ProgramByte(int offset)
{
    return quint8(offset * 13 % 256);
}

double CpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// A program of S2 records (24-bit addresses, so 64 KiB from 8000 fits), 16 bytes each.
QByteArray SRecordProgram(int bytes)
{
    QByteArray text;
    for (int offset = 0; offset < bytes; offset += 16) {
        const int n = std::min(16, bytes - offset);
        const quint32 address = 0x8000 + quint32(offset);
        QByteArray body;
        body.append(char(n + 4));
        body.append(char(address >> 16));
        body.append(char((address >> 8) & 0xFF));
        body.append(char(address & 0xFF));
        for (int k = 0; k < n; ++k)
            body.append(char(ProgramByte(offset + k)));
        int sum = 0;
        for (const char c : body)
            sum += quint8(c);
        body.append(char(0xFF - (sum & 0xFF)));
        text += "S2" + body.toHex().toUpper() + "\r\n";
    }
    return text + "S8040080007B\r\n";
}

QString WriteTemp(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    QFile file(dir.filePath(name));
    file.open(QIODevice::WriteOnly);
    file.write(bytes);
    return file.fileName();
}

// The link on the program's side of an echoing loader, at 115200.
struct LinkToPeer {
    EchoPeer peer;
    SerialPortLine line;
    QuietUi ui;
    TargetLink link{line, ui, ui, ui};

    bool open()
    {
        if (!peer.open())
            return false;
        link.setDevice(peer.path());
        link.setSpeedIndex(2);
        return true;
    }
};

void Turnaround(int records)
{
    LinkToPeer rig;
    if (!rig.open()) {
        std::puts("turnaround: cannot make a pseudo-terminal");
        return;
    }
    EchoPeer &peer = rig.peer;
    TargetLink &link = rig.link;
    if (!link.ConnectTarget()) {
        std::puts("turnaround: no contact with the loader");
        return;
    }
    QStringList lines;
    const QByteArray program = SRecordProgram(records * 16);
    for (const QByteArray &l : program.split('\n'))
        if (l.startsWith("S2"))
            lines << QStringLiteral("00") + QString::fromLatin1(l.mid(4, 6)) + QStringLiteral("10") +
                         QString::fromLatin1(l.mid(10, 32));
    peer.resetTimes();
    peer.setSpinning(true);
    QElapsedTimer clock;
    clock.start();
    const bool ok = link.SendRecords(lines);
    const double seconds = clock.nsecsElapsed() / 1e9;
    peer.setSpinning(false);
    std::vector<double> t = peer.turnarounds(115200, int(lines.constFirst().size()));
    std::sort(t.begin(), t.end());
    if (!ok || t.empty()) {
        std::puts("turnaround: the records did not go through");
        return;
    }
    std::printf("turnaround: %d records at 115200 in %.2f s; echo whole to next record: median %.0f us, p99 %.0f us "
                "(target: median <= 100 us)\n",
                int(lines.size()), seconds, t[t.size() / 2], t[t.size() * 99 / 100]);
}

void CompletionWait(const QTemporaryDir &dir)
{
    LinkToPeer rig;
    if (!rig.open()) {
        std::puts("wait: cannot make a pseudo-terminal");
        return;
    }
    QuietUi &ui = rig.ui;
    FlashBurn burn(rig.link, ui, ui, ui);
    burn.setRegisterFile(WriteTemp(dir, QStringLiteral("init.B"), "FFFFF0000118\r\n"));
    burn.setProgramFile(WriteTemp(dir, QStringLiteral("small.S19"), SRecordProgram(64)));
    double cpuAtStart = 0;
    QElapsedTimer clock;
    ui.onStep = [&](const QString &step) {
        if (step == QLatin1String("Burning Flash")) {
            cpuAtStart = CpuSeconds();
            clock.start();
        }
    };
    double cpu = 0, elapsed = 0;
    ui.onDone = [&](const QString &done) {
        if (done == QLatin1String("Finished")) {
            cpu = CpuSeconds() - cpuAtStart;
            elapsed = clock.nsecsElapsed() / 1e9;
        }
    };
    if (burn.run() != FlashBurn::Outcome::Finished || elapsed <= 0) {
        std::puts("wait: the burn did not finish");
        return;
    }
    std::printf("wait: 30 intervals with a silent instrument took %.2f s, CPU %.3f s = %.2f%% (target: below 1%%)\n",
                elapsed, cpu, 100.0 * cpu / elapsed);
}

struct WireFigures {
    bool ok = false;
    int records = 0;
    double seconds = 0, efficiency = 0, wakeUpsPerRecord = 0;
    sim::PacingStats pacing;
};

long ChildrenVoluntarySwitches()
{
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return usage.ru_nvcsw;
}

// korvel-cli flash burns programBytes at 115200 into the paced simulator behind an adapter of the
// latency given; with loaded, a busy process runs beside it.
WireFigures BurnThroughSimulator(const QTemporaryDir &dir, int programBytes, int latencyMs, bool loaded)
{
    WireFigures figures;
    sim::SimEngine engine;
    QString error;
    if (!engine.open(&error)) {
        std::printf("wire: cannot make a pseudo-terminal: %s\n", qPrintable(error));
        return figures;
    }
    sim::LoaderOptions options;
    options.paced = true;
    options.burnReplyMs = 10;
    options.latencyMs = latencyMs;
    engine.setLoader(options);

    const QString program =
        WriteTemp(dir, QStringLiteral("p%1.S19").arg(programBytes), SRecordProgram(programBytes));
    const QString init = WriteTemp(dir, QStringLiteral("init.B"), "FFFFF0000118\r\n");
    QProcess busy;
    if (loaded) {
        busy.start(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), QStringLiteral("while :; do :; done")});
        busy.waitForStarted();
    }
    QProcess cli;
    cli.setProgram(QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin/korvel-cli")));
    cli.setArguments({QStringLiteral("flash"), QStringLiteral("--port"), engine.slavePath(), QStringLiteral("--speed"),
                      QStringLiteral("2"), QStringLiteral("--init"), init, program});
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    cli.setProcessEnvironment(env);
    QElapsedTimer clock;
    qint64 programStart = -1, programEnd = -1;
    QByteArray trail;
    QObject::connect(&cli, &QProcess::readyReadStandardError, [&] {
        trail += cli.readAllStandardError();
        if (programStart < 0 && trail.contains("step: Loading New Program"))
            programStart = clock.nsecsElapsed();
        if (programEnd < 0 && trail.contains("step: Burning Code into Flash"))
            programEnd = clock.nsecsElapsed();
    });
    QEventLoop loop;
    QObject::connect(&cli, &QProcess::finished, &loop, &QEventLoop::quit);
    const long switchesBefore = ChildrenVoluntarySwitches();
    clock.start();
    cli.start();
    cli.closeWriteChannel(); // a prompt is answered Cancel, never waited for
    loop.exec();
    const long switches = ChildrenVoluntarySwitches() - switchesBefore;
    if (loaded) {
        busy.kill();
        busy.waitForFinished();
    }
    figures.records = programBytes / 16;
    const QMap<quint32, quint8> memory = engine.memory();
    for (int offset = 0; offset < programBytes; ++offset)
        if (memory.value(0x8000 + quint32(offset), quint8(~ProgramByte(offset))) != ProgramByte(offset)) {
            std::printf("wire: the memory image differs from the program at %d\n", offset);
            return figures;
        }
    if (cli.exitCode() != 0 || programStart < 0 || programEnd < 0) {
        std::printf("wire: the burn failed (exit %d)\n%s", cli.exitCode(), trail.constData());
        return figures;
    }
    figures.ok = true;
    figures.seconds = (programEnd - programStart) / 1e9;
    figures.efficiency = figures.records * 44 * 10.0 / 115200.0 / figures.seconds;
    figures.wakeUpsPerRecord = double(switches) / figures.records;
    figures.pacing = engine.pacing();
    return figures;
}

void WireEfficiency(const QTemporaryDir &dir, int records)
{
    for (const bool loaded : {false, true}) {
        const WireFigures f = BurnThroughSimulator(dir, records * 16, 0, loaded);
        if (!f.ok)
            continue;
        std::printf("wire, %s: %d records of 16 bytes at 115200 baud in %.2f s: efficiency %.3f (target: at least "
                    "0.95); %.2f wake-ups a record (target: at most 4); memory image equal to the program; the "
                    "simulator's echoes left %.0f us late on average, %.0f us at most, %.2f%% over 100 us\n",
                    loaded ? "a busy process beside" : "quiet", f.records, f.seconds, f.efficiency,
                    f.wakeUpsPerRecord, f.pacing.meanLateUs, f.pacing.maxLateUs,
                    f.pacing.characters ? 100.0 * double(f.pacing.lateOver100Us) / double(f.pacing.characters) : 0.0);
    }
    // Through an adapter the line's pace no longer sets the figure: each echo waits for its packet.
    std::printf("wire, through an adapter (quiet, 256 records):");
    std::optional<WireFigures> at1, at16;
    for (const int latency : {0, 1, 4, 16}) {
        const WireFigures f = BurnThroughSimulator(dir, 256 * 16, latency, false);
        if (f.ok)
            std::printf(" %d ms: efficiency %.3f, %.2f wake-ups a record;", latency, f.efficiency,
                        f.wakeUpsPerRecord);
        else
            std::printf(" %d ms: FAILED;", latency);
        if (f.ok && latency == 1)
            at1 = f;
        if (f.ok && latency == 16)
            at16 = f;
    }
    std::printf("\n");
    // What the low-latency request on opening the port is worth: an adapter left at its usual 16 ms
    // timer against one the driver has set to 1 ms.
    if (at1 && at16)
        std::printf("wire, adapter's latency timer: 16 ms (as it comes) efficiency %.3f, %.2f s; 1 ms (with the "
                    "low-latency request) efficiency %.3f, %.2f s: %.1f times as fast\n",
                    at16->efficiency, at16->seconds, at1->efficiency, at1->seconds,
                    at1->seconds > 0 ? at16->seconds / at1->seconds : 0.0);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser cli;
    const QCommandLineOption skipWait(QStringLiteral("skip-wait"), QStringLiteral("Skip the 30 s completion wait."));
    const QCommandLineOption skipWire(QStringLiteral("skip-wire"), QStringLiteral("Skip the paced 64 KiB burn."));
    const QCommandLineOption records(QStringLiteral("records"), QStringLiteral("Records for the turnaround (1024)."),
                                     QStringLiteral("n"), QStringLiteral("1024"));
    const QCommandLineOption wireRecords(QStringLiteral("wire-records"),
                                         QStringLiteral("Records of the paced burn (4096: 64 KiB)."),
                                         QStringLiteral("n"), QStringLiteral("4096"));
    cli.addOptions({skipWait, skipWire, records, wireRecords});
    cli.addHelpOption();
    cli.process(app);
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir.filePath(QStringLiteral("config"))));

    Turnaround(std::max(2, cli.value(records).toInt()));
    if (!cli.isSet(skipWait))
        CompletionWait(dir);
    if (!cli.isSet(skipWire))
        WireEfficiency(dir, std::max(2, cli.value(wireRecords).toInt()));
    return 0;
}
