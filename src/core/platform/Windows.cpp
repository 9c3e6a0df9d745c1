// The platform layer on Windows: Win32 and Qt where POSIX has no equal.

#include "core/platform/Files.h"
#include "core/platform/Processes.h"
#include "core/platform/SerialDevice.h"
#include "core/platform/Sockets.h"

#include <QByteArray>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

#include <chrono>
#include <iterator>
#include <cstdlib>
#include <new>
#include <thread>

#include <fcntl.h>
#include <io.h>

// Before windows.h, which would bring the older sockets header in.
#include <winsock2.h>

#include <windows.h>
#include <psapi.h>

namespace korvel::platform {

// ---- Files

ReadOnlyFile::ReadOnlyFile(const QString &fileName)
{
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        m_notRegular = true;
        return;
    }
    m_file = new QFile(fileName);
    if (!m_file->open(QIODevice::ReadOnly)) {
        m_error = m_file->errorString();
        return;
    }
    m_size = std::uint64_t(m_file->size());
    m_open = true;
}

ReadOnlyFile::~ReadOnlyFile()
{
    delete m_file;
}

std::int64_t ReadOnlyFile::readSome(char *into, std::size_t bytes)
{
    const qint64 n = m_file->read(into, qint64(bytes));
    if (n < 0)
        m_error = m_file->errorString();
    return n;
}

std::int64_t ReadOnlyFile::readSomeAt(std::uint64_t offset, char *into, std::size_t bytes)
{
    const qint64 at = m_file->pos();
    if (!m_file->seek(qint64(offset))) {
        m_error = m_file->errorString();
        return -1;
    }
    const std::int64_t n = readSome(into, bytes);
    m_file->seek(at);
    return n;
}

QString OpenProblem(const QString &path)
{
    const QFileInfo info(path);
    if (!info.exists())
        return QStringLiteral("no such file");
    if (!info.isFile())
        return {};
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot be read: ") + file.errorString();
    return {};
}

namespace {

QString SystemReason(DWORD code)
{
    wchar_t *text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString reason = text ? QString::fromWCharArray(text).trimmed() : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason;
}

} // namespace

bool SyncFileData(QFile &file, QString *reason)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file.handle()));
    if (handle == INVALID_HANDLE_VALUE || FlushFileBuffers(handle))
        return true;
    const DWORD code = GetLastError();
    if (code != ERROR_DISK_FULL && code != ERROR_HANDLE_DISK_FULL && code != ERROR_WRITE_FAULT)
        return true;
    *reason = SystemReason(code);
    return false;
}

QString SyncFolder(const QString &folder, const QStringList &names)
{
    // A folder's entries go to the disk with its files on NTFS; the files are flushed one by one.
    Q_UNUSED(folder);
    for (const QString &name : names) {
        QFile f(name);
        if (!f.open(QIODevice::ReadWrite))
            continue;
        if (!FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(f.handle())))) {
            const DWORD code = GetLastError();
            if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL || code == ERROR_WRITE_FAULT)
                return SystemReason(code);
        }
    }
    return {};
}

void ListFolderTree(const QString &folder, QStringList &found)
{
    if (!QFileInfo(folder).isReadable()) {
        found << folder;
        return;
    }
    QDirIterator it(folder, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
}

bool FolderWritable(const QString &folder)
{
    return QFileInfo(folder).isWritable();
}

// ---- Processes

bool ProcessAlive(std::int64_t pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, DWORD(pid));
    if (!process)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    const bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

QString LoginName()
{
    wchar_t name[256];
    DWORD size = DWORD(std::size(name));
    if (GetUserNameW(name, &size) && size > 0)
        return QString::fromWCharArray(name, int(size) - 1);
    return qEnvironmentVariable("USERNAME");
}

long PeakMemoryKiB()
{
    PROCESS_MEMORY_COUNTERS counters{};
    if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters))
        return -1;
    return long(counters.PeakWorkingSetSize / 1024);
}

void UseBinaryStandardStreams()
{
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

QString SystemFontFolder()
{
    wchar_t folder[MAX_PATH];
    const UINT size = GetWindowsDirectoryW(folder, MAX_PATH);
    if (size == 0 || size >= MAX_PATH)
        return {};
    return QString::fromWCharArray(folder, int(size)) + QStringLiteral("\\Fonts");
}

bool IsTerminal(std::FILE *stream)
{
    return _isatty(_fileno(stream)) != 0;
}

void SleepPrecisely(std::int64_t ns)
{
    if (ns > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
}

void *LoadedLibrarySymbol(const char *name, int version, const char *symbol)
{
    Q_UNUSED(version);
    const QByteArray file = QByteArray("lib") + name + ".dll";
    HMODULE module = GetModuleHandleA(file.constData());
    return module ? reinterpret_cast<void *>(GetProcAddress(module, symbol)) : nullptr;
}

QStringList CryptoLibraryNames()
{
    return {}; // the system's own hashing (through Qt) serves
}

void *AllocateLarge(std::size_t bytes)
{
    void *block = std::malloc(bytes ? bytes : 1);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void ReleaseLarge(void *block, std::size_t bytes) noexcept
{
    Q_UNUSED(bytes);
    std::free(block);
}

// ---- Sockets

bool ShutDownSocket(std::int64_t socket)
{
    return socket >= 0 && ::shutdown(static_cast<SOCKET>(socket), SD_BOTH) == 0;
}

// ---- Serial devices
// The driver's error flags are QSerialPort's to clear (it reports them), so nothing here asks
// ClearCommError; the latency timer is set per adapter in its properties.

qint64 BytesInDriver(qintptr handle)
{
    Q_UNUSED(handle);
    return 0;
}

std::optional<LineErrorCounts> ReadLineErrorCounts(qintptr handle)
{
    Q_UNUSED(handle);
    return std::nullopt;
}

std::optional<bool> LowLatency(qintptr handle)
{
    Q_UNUSED(handle);
    return std::nullopt;
}

bool SetLowLatency(qintptr handle, bool on)
{
    Q_UNUSED(handle);
    Q_UNUSED(on);
    return false;
}

bool MayUseDevice(const QString &device)
{
    // A COM port refused with "access denied" is one another program has open.
    Q_UNUSED(device);
    return true;
}

QString NumberedPortName(int n)
{
    return QStringLiteral("COM%1").arg(n);
}

bool IsTwinPortName(const QString &name)
{
    Q_UNUSED(name);
    return false;
}

QString PortOpenAdvice(const QString &device)
{
    Q_UNUSED(device);
    return QStringLiteral("Check that the instrument's cable and adapter are plugged in, that the port chosen "
                          "under Configure RS-232 is the adapter's (Device Manager, Ports (COM & LPT), shows its "
                          "COM number), and that no other program is using it.");
}

} // namespace korvel::platform
