#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryDir>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

#ifdef Q_OS_LINUX
#include <sys/mount.h>
#include <unistd.h>
#endif

namespace korvel::test {

IsolatedSettings::IsolatedSettings()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
    // Flights a test receives are kept beside its settings, not in the user's library.
    qputenv("KORVEL_LIBRARY", QFile::encodeName(m_dir.filePath(QStringLiteral("library"))));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
#ifdef Q_OS_WIN
    // There the native store is the user's registry: a test keeps its settings in files.
    QSettings::setDefaultFormat(QSettings::IniFormat);
#endif
}

MessageAnswer RecordingUi::showMessage(const QString &caption, const QString &text, MessageIcon icon,
                                       MessageButtons buttons, MessageAnswer defaultAnswer)
{
    messages.append({caption, text, icon, buttons, defaultAnswer});
    MessageAnswer answer = MessageAnswer::Ok;
    if (buttons == MessageButtons::OkCancel)
        answer = answers.isEmpty() ? MessageAnswer::Cancel : answers.takeFirst();
    events << QStringLiteral("message: %1: %2 -> %3")
                  .arg(caption, text, answer == MessageAnswer::Ok ? QStringLiteral("OK") : QStringLiteral("Cancel"));
    return answer;
}

QStringList Sequence(const QString &text)
{
    return text.split(QStringLiteral("; "));
}

QString WriteFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    return path;
}

QString MissingFileWords()
{
    QFile missing(QStringLiteral("no-such-file-for-a-test.txt"));
    missing.open(QIODevice::ReadOnly);
    return missing.errorString();
}

#ifdef Q_OS_WIN
bool UnderWine()
{
    // Wine's ntdll says its version; Windows' has no such entry.
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version");
}
#else
bool UnderWine()
{
    return false;
}
#endif

#ifdef Q_OS_WIN
namespace {

// A Windows path as the Linux side names it (Wine's winepath); null when there is no Wine.
QString UnixPath(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("winepath.exe"), {QStringLiteral("-u"), QDir::toNativeSeparators(path)});
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return {};
    return QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
}

QString ShellQuoted(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QStringLiteral("'\\''")) + QLatin1Char('\'');
}

} // namespace

bool HaveLinuxTool(const QString &program)
{
    // Reaching the Linux tools through start /unix is not yet reliable under Wine: the tests that
    // read PDFs back say they skipped it there.
    Q_UNUSED(program);
    return qEnvironmentVariableIsSet("KORVEL_WINE_LINUX_TOOLS");
}

QString LinuxTool(const QString &program, const QStringList &args)
{
    QTemporaryDir dir;
    const QString out = UnixPath(dir.filePath(QStringLiteral("out.txt")));
    if (out.isEmpty() || !QFileInfo::exists(QStringLiteral("Z:/usr/bin/") + program))
        return {};
    // In a locale the Linux side has, so the text comes as UTF-8.
    QString command = QStringLiteral("LC_ALL=C.UTF-8 /usr/bin/") + program;
    for (const QString &arg : args) {
        const bool path = arg.size() > 2 && arg[1] == QLatin1Char(':');
        command += QLatin1Char(' ') + ShellQuoted(path ? UnixPath(arg) : arg);
    }
    command += QStringLiteral(" > ") + ShellQuoted(out);
    QProcess p;
    p.start(QStringLiteral("start.exe"), {QStringLiteral("/wait"), QStringLiteral("/unix"), QStringLiteral("/bin/sh"),
                                          QStringLiteral("-c"), command});
    if (!p.waitForFinished(60000))
        return {};
    QFile result(dir.filePath(QStringLiteral("out.txt")));
    return result.open(QIODevice::ReadOnly) ? QString::fromUtf8(result.readAll()) : QString();
}
#else
bool HaveLinuxTool(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

QString LinuxTool(const QString &program, const QStringList &args)
{
    QProcess p;
    p.start(program, args);
    return p.waitForFinished(60000) ? QString::fromUtf8(p.readAllStandardOutput()) : QString();
}
#endif

QString BinDir()
{
    const QByteArray env = qgetenv("KORVEL_BIN_DIR");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin"));
}

QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

QByteArray SRecord(char type, quint32 address, int addressBytes, const QByteArray &data)
{
    QByteArray bytes;
    bytes += char(addressBytes + data.size() + 1);
    for (int i = addressBytes - 1; i >= 0; --i)
        bytes += char(address >> (8 * i));
    bytes += data;
    unsigned sum = 0;
    for (char c : bytes)
        sum += quint8(c);
    bytes += char(0xFF - (sum & 0xFF));
    return QByteArray("S") + type + bytes.toHex().toUpper() + "\r\n";
}

// A program of `records` data records of 16 bytes from 8000.
QByteArray Program(int records)
{
    QByteArray text = SRecord('0', 0, 2, "ostrel");
    for (int i = 0; i < records; ++i)
        text += SRecord('1', 0x8000 + 16 * i, 2, QByteArray(16, char('A' + i % 26)));
    return text + SRecord('9', 0x8000, 2, {});
}

bool Await(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return done();
}

void Settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCoreApplication::processEvents();
    }
}

CliRun RunCli(const QStringList &args, const QStringList &prefix, const std::function<void()> &whileRunning)
{
    CliRun run;
    QProcess process;
    const QString program = BinDir() + QStringLiteral("/korvel-cli");
    if (prefix.isEmpty())
        process.start(program, args);
    else
        process.start(prefix.first(), prefix.mid(1) + QStringList{program} + args);
    if (!process.waitForStarted())
        return run;
    process.closeWriteChannel();
    if (whileRunning)
        whileRunning();
    run.finished = Await([&] { return process.state() == QProcess::NotRunning; }, 60000);
    if (!run.finished) {
        process.kill();
        process.waitForFinished();
    }
    if (run.finished && process.exitStatus() == QProcess::NormalExit)
        run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    run.trail = QString::fromUtf8(run.err);
    return run;
}


SmallDisk::SmallDisk(qint64 bytes, bool readOnly)
{
#ifdef Q_OS_LINUX
    const QByteArray options = "size=" + QByteArray::number(bytes) + ",mode=0777";
    m_mounted = ::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs",
                        readOnly ? MS_RDONLY : 0, options.constData()) == 0;
#else
    Q_UNUSED(bytes);
    Q_UNUSED(readOnly);
#endif
}

SmallDisk::~SmallDisk()
{
#ifdef Q_OS_LINUX
    if (m_mounted)
        ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
#endif
}

std::optional<QStringList> UnprivilegedPrefix()
{
#ifdef Q_OS_LINUX
    if (::geteuid() != 0)
        return QStringList{};
    const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    if (setpriv.isEmpty())
        return std::nullopt;
    return QStringList{setpriv, QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
                       QStringLiteral("--clear-groups"), QStringLiteral("--")};
#else
    return std::nullopt;
#endif
}

} // namespace korvel::test
