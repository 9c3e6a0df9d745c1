// The platform layer on Linux and macOS: POSIX calls, and Linux's own where it has better ones.

#include "core/platform/Files.h"
#include "core/platform/Processes.h"
#include "core/platform/SerialDevice.h"
#include "core/platform/Sockets.h"

#include <QByteArray>
#include <QFile>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <new>
#include <thread>

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#if defined(__linux__)
#include <grp.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#endif

namespace korvel::platform {

namespace {

QString SystemReason(int code)
{
    return QString::fromLocal8Bit(std::strerror(code));
}

} // namespace

// ---- Files

ReadOnlyFile::ReadOnlyFile(const QString &fileName)
{
    const QByteArray path = QFile::encodeName(fileName);
    // Not blocking: opening a pipe must not wait for a writer before it can be refused.
    m_fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (m_fd < 0) {
        m_error = SystemReason(errno);
        return;
    }
    struct stat info {};
    const bool measured = ::fstat(m_fd, &info) == 0;
    const int code = errno;
    if (!measured || !S_ISREG(info.st_mode)) {
        ::close(m_fd);
        m_fd = -1;
        m_notRegular = measured;
        if (!measured)
            m_error = SystemReason(code);
        return;
    }
    m_size = std::uint64_t(info.st_size);
    m_open = true;
}

ReadOnlyFile::~ReadOnlyFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::int64_t ReadOnlyFile::readSome(char *into, std::size_t bytes)
{
    while (true) {
        const ssize_t n = ::read(m_fd, into, bytes);
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_error = SystemReason(errno);
            return -1;
        }
    }
}

std::int64_t ReadOnlyFile::readSomeAt(std::uint64_t offset, char *into, std::size_t bytes)
{
    while (true) {
        const ssize_t n = ::pread(m_fd, into, bytes, off_t(offset));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            m_error = SystemReason(errno);
            return -1;
        }
    }
}

QString OpenProblem(const QString &path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0) {
        ::close(fd);
        return {};
    }
    const int error = errno;
    if (error == ENOENT)
        return QStringLiteral("no such file");
    return QStringLiteral("cannot be read: ") + SystemReason(error);
}

bool SyncFileData(QFile &file, QString *reason)
{
#if defined(__APPLE__)
    const int result = ::fsync(file.handle());
#else
    const int result = ::fdatasync(file.handle());
#endif
    if (result == 0 || (errno != ENOSPC && errno != EIO && errno != EDQUOT))
        return true;
    *reason = SystemReason(errno);
    return false;
}

QString SyncFolder(const QString &folder, const QStringList &names)
{
#if defined(__linux__)
    // One flush of the file system serves every copy.
    Q_UNUSED(names);
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const int result = ::syncfs(fd);
    const int error = errno;
    ::close(fd);
    return result == 0 ? QString() : SystemReason(error);
#else
    for (const QString &name : names) {
        QFile f(name);
        if (f.open(QIODevice::ReadWrite))
            ::fsync(f.handle());
    }
    // The renames too: the folder's own entries.
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
    return {};
#endif
}

namespace {

void Walk(const QByteArray &folder, QStringList &found)
{
    DIR *dir = ::opendir(folder.constData());
    if (!dir) {
        found << QFile::decodeName(folder);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QByteArray path = folder + '/' + name;
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            Walk(path, found);
            continue;
        }
        // A link to a folder is not followed (it could lead back up the tree).
        if (S_ISLNK(st.st_mode) && ::stat(path.constData(), &st) == 0 && S_ISDIR(st.st_mode))
            continue;
        found << QFile::decodeName(path);
    }
    ::closedir(dir);
}

} // namespace

void ListFolderTree(const QString &folder, QStringList &found)
{
    QString root = folder;
    while (root.size() > 1 && root.endsWith(QLatin1Char('/')))
        root.chop(1);
    Walk(QFile::encodeName(root), found);
}

bool FolderWritable(const QString &folder)
{
    return ::access(QFile::encodeName(folder).constData(), W_OK) == 0;
}

// ---- Processes

bool ProcessAlive(std::int64_t pid)
{
    return ::kill(pid_t(pid), 0) == 0 || errno == EPERM;
}

QString LoginName()
{
    if (const passwd *pw = ::getpwuid(::geteuid()))
        return QString::fromLocal8Bit(pw->pw_name);
    return {};
}

long PeakMemoryKiB()
{
    long kib = -1;
#if defined(__linux__)
    if (std::FILE *status = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "VmHWM: %ld kB", &kib) == 1)
                break;
        std::fclose(status);
    }
#endif
    if (kib < 0) {
        rusage usage{};
        if (getrusage(RUSAGE_SELF, &usage) == 0)
            kib = long(usage.ru_maxrss); // KiB on Linux
    }
    return kib;
}

void UseBinaryStandardStreams() {}

QString SystemFontFolder()
{
    return {}; // fontconfig knows them
}

bool IsTerminal(std::FILE *stream)
{
    return ::isatty(::fileno(stream)) != 0;
}

void SleepPrecisely(std::int64_t ns)
{
    if (ns <= 0)
        return;
#if defined(__linux__)
    const int slack = prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
    prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
    if (slack > 0)
        prctl(PR_SET_TIMERSLACK, static_cast<unsigned long>(slack), 0UL, 0UL, 0UL);
#else
    std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
#endif
}

void *LoadedLibrarySymbol(const char *name, int version, const char *symbol)
{
#if defined(__APPLE__)
    const QByteArray file = QByteArray("lib") + name + '.' + QByteArray::number(version) + ".dylib";
#else
    const QByteArray file = QByteArray("lib") + name + ".so." + QByteArray::number(version);
#endif
    void *lib = ::dlopen(file.constData(), RTLD_NOW | RTLD_NOLOAD);
    return lib ? ::dlsym(lib, symbol) : nullptr;
}

QStringList CryptoLibraryNames()
{
    return {QStringLiteral("crypto")};
}

namespace {

constexpr std::size_t kHugePage = std::size_t(2) << 20;

[[maybe_unused]] std::size_t HugeRounded(std::size_t bytes)
{
    return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

} // namespace

void *AllocateLarge(std::size_t bytes)
{
#if defined(__linux__)
    if (bytes >= kHugePage) {
        // Map one huge page more than needed and cut the ends off, so the block starts on a huge page.
        const std::size_t length = HugeRounded(bytes);
        void *raw = mmap(nullptr, length + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (raw == MAP_FAILED)
            throw std::bad_alloc();
        const auto start = reinterpret_cast<std::uintptr_t>(raw);
        const std::uintptr_t aligned = (start + kHugePage - 1) & ~std::uintptr_t(kHugePage - 1);
        if (aligned > start)
            munmap(raw, aligned - start);
        const std::size_t tail = (start + length + kHugePage) - (aligned + length);
        if (tail > 0)
            munmap(reinterpret_cast<void *>(aligned + length), tail);
        madvise(reinterpret_cast<void *>(aligned), length, MADV_HUGEPAGE);
        return reinterpret_cast<void *>(aligned);
    }
#endif
    void *block = std::malloc(bytes ? bytes : 1);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void ReleaseLarge(void *block, std::size_t bytes) noexcept
{
    if (!block)
        return;
#if defined(__linux__)
    if (bytes >= kHugePage) {
        munmap(block, HugeRounded(bytes));
        return;
    }
#else
    Q_UNUSED(bytes);
#endif
    std::free(block);
}

// ---- Sockets

bool ShutDownSocket(std::int64_t socket)
{
    return socket >= 0 && ::shutdown(int(socket), SHUT_RDWR) == 0;
}

// ---- Serial devices
// The port reads errno after its own calls: these must not leave a trace there.

namespace {

struct KeptErrno {
    int saved = errno;
    ~KeptErrno() { errno = saved; }
};

} // namespace

qint64 BytesInDriver(qintptr handle)
{
#if defined(__linux__)
    const KeptErrno kept;
    int count = 0;
    return ::ioctl(int(handle), FIONREAD, &count) == 0 ? count : 0;
#else
    Q_UNUSED(handle);
    return 0;
#endif
}

std::optional<LineErrorCounts> ReadLineErrorCounts(qintptr handle)
{
#if defined(__linux__)
    const KeptErrno kept;
    serial_icounter_struct now{};
    if (::ioctl(int(handle), TIOCGICOUNT, &now) != 0)
        return std::nullopt;
    return LineErrorCounts{now.brk, now.frame, now.overrun, now.buf_overrun, now.parity};
#else
    Q_UNUSED(handle);
    return std::nullopt;
#endif
}

std::optional<bool> LowLatency(qintptr handle)
{
#if defined(__linux__)
    const KeptErrno kept;
    serial_struct serial{};
    if (::ioctl(int(handle), TIOCGSERIAL, &serial) == 0)
        return (serial.flags & ASYNC_LOW_LATENCY) != 0;
#else
    Q_UNUSED(handle);
#endif
    return std::nullopt;
}

bool SetLowLatency(qintptr handle, bool on)
{
#if defined(__linux__)
    const KeptErrno kept;
    serial_struct serial{};
    if (::ioctl(int(handle), TIOCGSERIAL, &serial) != 0)
        return false;
    serial.flags = on ? (serial.flags | ASYNC_LOW_LATENCY) : (serial.flags & ~ASYNC_LOW_LATENCY);
    return ::ioctl(int(handle), TIOCSSERIAL, &serial) == 0;
#else
    Q_UNUSED(handle);
    Q_UNUSED(on);
    return false;
#endif
}

bool MayUseDevice(const QString &device)
{
    return ::access(QFile::encodeName(device).constData(), R_OK | W_OK) == 0;
}

QString NumberedPortName(int n)
{
    Q_UNUSED(n);
    return {};
}

bool IsTwinPortName(const QString &name)
{
#if defined(__APPLE__)
    return name.startsWith(QLatin1String("tty."));
#else
    Q_UNUSED(name);
    return false;
#endif
}

QString PortOpenAdvice(const QString &device)
{
#if defined(__linux__)
    struct stat st {};
    const QByteArray path = QFile::encodeName(device);
    if (::stat(path.constData(), &st) != 0)
        return QStringLiteral("Check that the instrument's cable and adapter are plugged in, and that the "
                              "port chosen under Configure RS-232 is the right one.");
    if (::access(path.constData(), R_OK | W_OK) != 0) {
        // A serial device belongs to a group (usually dialout) whose members may use it.
        QString group = QString::number(st.st_gid);
        if (const struct group *g = ::getgrgid(st.st_gid))
            group = QString::fromLocal8Bit(g->gr_name);
        return QStringLiteral("Your user may not use it: add your user to the group \"%1\" that owns the device "
                              "(sudo usermod -aG %1 $USER), then log out and in again.")
            .arg(group);
    }
    return QStringLiteral("If another program is using it (another Korvel window, a terminal program), "
                          "close that program and try again.");
#else
    Q_UNUSED(device);
    return {};
#endif
}

} // namespace korvel::platform
