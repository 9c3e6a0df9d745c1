#include "core/library/CopyStore.h"
#include "core/platform/Files.h"
#include "core/platform/Processes.h"

#include "core/library/CatalogueBackend.h"
#include "core/library/FlightLibrary.h"
#include "core/library/Sha256.h"

#include <QAtomicInteger>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>
#include <optional>
#include <vector>

namespace korvel::library_detail {

namespace {

// The reason a copy could not be written, in the system's words where the file layer has none.
QString WriteFailure(const QFile &file, int error)
{
    QString reason = file.errorString();
    // A full disk is often only "Unknown error" to the file layer; the system knows better.
    if ((reason.isEmpty() || reason == QLatin1String("Unknown error") || reason == QLatin1String("No error")) &&
        error != 0)
        reason = QString::fromLocal8Bit(std::strerror(error));
    return reason;
}

[[noreturn]] void CopyFailed(const QString &folder, const QString &reason)
{
    throw LibraryError(QStringLiteral("cannot write a flight's copy in %1: %2. The flights listed before this "
                                      "message are in the library, the others not; free some space or make the "
                                      "folder writable, then import again")
                           .arg(folder, reason));
}

// The program writing a part: its name is import-PID-N.part.
bool WriterAlive(const QString &part)
{
    const QStringList pieces = part.split(QLatin1Char('-'));
    bool ok = false;
    const qint64 pid = pieces.size() >= 3 ? pieces[1].toLongLong(&ok) : 0;
    if (!ok || pid <= 0)
        return false;
    return platform::ProcessAlive(pid);
}

QString HashOf(QFile &file)
{
    Sha256 hash;
    std::vector<char> buffer(std::size_t(1) << 20);
    while (true) {
        const qint64 n = file.read(buffer.data(), qint64(buffer.size()));
        if (n < 0)
            return {};
        if (n == 0)
            break;
        hash.add(buffer.data(), std::size_t(n));
    }
    return hash.hex();
}

// Most files are new flights, copied as they are read. A file of the size of a flight already
// kept is most likely that flight again: its copy is checked instead, and made again only should it
// prove missing or damaged.
class CopyAsRead final : public KeptAsRead {
public:
    CopyAsRead(const CopyStore &store, bool copyNow, bool fromCopies) : m_store(store), m_fromCopies(fromCopies)
    {
        if (copyNow)
            m_aside.emplace(store.folder());
    }

    void add(const char *bytes, std::size_t size) override
    {
        if (m_aside)
            m_aside->write(bytes, size);
    }
    void drop() override { m_aside.reset(); }
    Outcome finish(const QString &path, const QString &sha, qint64 size) override
    {
        Outcome kept;
        if (m_aside) {
            kept.copied = m_aside->place(m_store, sha, size);
        } else if (m_fromCopies) {
            kept.checked = true; // it is the copy, read whole just now
        } else {
            kept.checked = true;
            if (!m_store.sound(sha, size)) {
                if (!m_store.copyChecked(path, sha, size))
                    kept.changed = true;
                else
                    kept.copied = true;
            }
        }
        return kept;
    }

private:
    const CopyStore &m_store;
    const bool m_fromCopies;
    std::optional<CopyAside> m_aside;
};

} // namespace

std::unique_ptr<KeptAsRead> CopyStore::keepAsRead(qint64, bool likelyKept, bool fromCopies) const
{
    return std::make_unique<CopyAsRead>(*this, !fromCopies && !likelyKept, fromCopies);
}

QString CopyStore::readOnlyFolder() const
{
    return platform::FolderWritable(m_folder) ? QString() : m_folder;
}

QString CopyStore::dropCopy(CatalogueBackend &db, const QString &sha, qint64 since)
{
    WriteTransaction transaction(db);
    QSet<QString> named;
    Rows q = db.exec(QStringLiteral("SELECT sha256 FROM flights"));
    while (q.next())
        named.insert(q.value(0).toString());
    q.finish();
    QString left;
    if (!named.contains(sha) && IsCopyName(sha)) {
        QFile copy(path(sha));
        if (copy.exists() && !copy.remove())
            left = copy.errorString();
    }
    removeUnnamed(named, since);
    transaction.commit();
    return left;
}

bool CopyStore::copyMissing(const QString &sha) const
{
    return !IsCopyName(sha) || !QFileInfo(path(sha)).isFile();
}

bool CopyStore::containsPath(const QString &resolved) const
{
    const QString library = QFileInfo(m_library).canonicalFilePath();
    return !library.isEmpty() && (resolved == library || resolved.startsWith(library + QLatin1Char('/')));
}

bool CopyStore::IsCopyName(const QString &sha)
{
    if (sha.size() != 64)
        return false;
    for (const QChar c : sha)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) || (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    return true;
}

QString CopyStore::path(const QString &sha) const
{
    if (!IsCopyName(sha))
        throw LibraryError(QStringLiteral("the catalogue names a copy \"%1\", which is no flight's hash; nothing "
                                          "was read or removed by that name. The catalogue was changed by another "
                                          "program: rebuild it (korvel-cli library rebuild)")
                               .arg(sha.left(80)));
    return m_folder + QLatin1Char('/') + sha + QStringLiteral(".txt");
}

bool CopyStore::whole(const QString &sha, qint64 size) const
{
    const QFileInfo info(path(sha));
    return info.exists() && info.size() == size;
}

bool CopyStore::sound(const QString &sha, qint64 size) const
{
    if (!whole(sha, size))
        return false;
    QFile file(path(sha));
    return file.open(QIODevice::ReadOnly) && HashOf(file) == sha;
}

bool CopyStore::write(const QString &sha, const QByteArray &bytes)
{
    if (sound(sha, bytes.size()))
        return false;
    CopyAside aside(m_folder);
    aside.write(bytes.constData(), std::size_t(bytes.size()));
    return aside.place(*this, sha, bytes.size());
}

bool CopyStore::copyChecked(const QString &source, const QString &sha, qint64 size) const
{
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return false;
    CopyAside aside(m_folder);
    Sha256 hash;
    std::vector<char> buffer(std::size_t(1) << 20);
    qint64 total = 0;
    while (true) {
        const qint64 n = file.read(buffer.data(), qint64(buffer.size()));
        if (n < 0)
            return false;
        if (n == 0)
            break;
        hash.add(buffer.data(), std::size_t(n));
        aside.write(buffer.data(), std::size_t(n));
        total += n;
    }
    if (total != size || hash.hex() != sha)
        return false;
    aside.place(*this, sha, size);
    return true;
}

bool CopyStore::keep(CatalogueBackend &, const QString &sha, qint64 size, const QString &origin,
                     const QByteArray &bytes, const QList<QByteArray> &)
{
    // A removal by another program meanwhile may have taken the copy: put back, under the lock,
    // before the row.
    if (whole(sha, size))
        return true;
    if (origin.isEmpty())
        write(sha, bytes);
    else if (!copyChecked(origin, sha, size))
        return false;
    sync({path(sha)});
    return true;
}

QByteArray CopyStore::readChecked(const QString &sha) const
{
    const QString name = path(sha);
    QFile copy(name);
    if (!copy.open(QIODevice::ReadOnly))
        throw LibraryError(QStringLiteral("cannot read the flight's copy %1: %2. Import the flight's file again to "
                                          "restore it")
                               .arg(name, copy.errorString()));
    const QByteArray bytes = copy.readAll();
    Sha256 hash;
    hash.add(bytes.constData(), std::size_t(bytes.size()));
    if (hash.hex() != sha)
        throw LibraryError(QStringLiteral("the flight's copy %1 is damaged (its bytes no longer match their "
                                          "SHA-256); nothing was written. Import the flight's original file again "
                                          "to restore the copy")
                               .arg(name));
    return bytes;
}

std::function<bool()> &CopyStore::SyncFailsForTest()
{
    static std::function<bool()> fails;
    return fails;
}

void CopyStore::sync(const QStringList &names)
{
    if (SyncFailsForTest() && SyncFailsForTest()())
        throw LibraryError(
            QStringLiteral("cannot put the flights' copies on the disk in %1: a flush failed").arg(m_folder));
    const QString failed = platform::SyncFolder(m_folder, names);
    if (!failed.isEmpty())
        throw LibraryError(
            QStringLiteral("cannot put the flights' copies on the disk in %1: %2").arg(m_folder, failed));
}

void CopyStore::settle(const QStringList &copied)
{
    QStringList names;
    for (const QString &sha : copied)
        names << path(sha);
    sync(names);
}

void CopyStore::removeLeftParts(qint64 since)
{
    const qint64 ours = QCoreApplication::applicationPid();
    const qint64 stale = QDateTime::currentMSecsSinceEpoch() - 600'000;
    const QFileInfoList parts =
        QDir(m_folder).entryInfoList({QStringLiteral("*.part")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &part : parts) {
        const qint64 written = part.lastModified().toMSecsSinceEpoch();
        const QString name = part.fileName();
        const bool own = name.startsWith(QStringLiteral("import-%1-").arg(ours));
        // Another program's part stays while that program runs (unless untouched for minutes);
        // this program's own goes once older than the work that ends now.
        if ((own && written < since) || (!own && (!WriterAlive(name) || written < stale)))
            QFile::remove(part.filePath());
    }
}

void CopyStore::removeUnnamed(const QSet<QString> &keep, qint64 since)
{
    const QFileInfoList files =
        QDir(m_folder).entryInfoList({QStringLiteral("*.txt")}, QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo &file : files) {
        const QString sha = file.completeBaseName();
        if (!IsCopyName(sha) || keep.contains(sha))
            continue;
        // One placed since is another import's, whose row is still to come.
        if (file.lastModified().toMSecsSinceEpoch() < since)
            QFile::remove(file.filePath());
    }
}

QStringList CopyStore::copies() const
{
    QStringList names;
    const QFileInfoList files =
        QDir(m_folder).entryInfoList({QStringLiteral("*.txt")}, QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo &file : files)
        if (IsCopyName(file.completeBaseName()))
            names << file.filePath();
    return names;
}

CopyAside::CopyAside(const QString &folder) : m_folder(folder)
{
    static QAtomicInteger<quint64> serial;
    m_file.setFileName(
        folder +
        QStringLiteral("/import-%1-%2.part").arg(QCoreApplication::applicationPid()).arg(serial.fetchAndAddRelaxed(1)));
    errno = 0;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered))
        fail(errno);
}

CopyAside::~CopyAside()
{
    if (!m_placed) {
        m_file.close();
        m_file.remove();
    }
}

void CopyAside::write(const char *bytes, std::size_t size)
{
    errno = 0;
    if (m_file.write(bytes, qint64(size)) != qint64(size))
        fail(errno);
}

bool CopyAside::place(const CopyStore &store, const QString &sha, qint64 size)
{
    m_file.close();
    if (m_file.error() != QFileDevice::NoError)
        fail(errno);
    if (store.sound(sha, size))
        return false;
    const QString name = store.path(sha);
    // rename() replaces a damaged or partial copy of an older program; ours is whole.
    QFile::remove(name);
    if (!m_file.rename(name)) {
        if (store.whole(sha, size)) // another file of the same bytes went in meanwhile
            return false;
        fail(0);
    }
    m_placed = true;
    return true;
}

void CopyAside::fail(int error)
{
    const QString reason = WriteFailure(m_file, error);
    m_file.close();
    m_file.remove();
    CopyFailed(m_folder, reason);
}

void CopyStore::dropAhead(CatalogueBackend &db, const QString &sha)
{
    try {
        WriteTransaction transaction(db, WriteTransaction::AtOnce);
        if (!db.value(QStringLiteral("SELECT id FROM flights WHERE sha256 = ?"), {sha}).isValid())
            QFile::remove(path(sha));
        transaction.commit();
    } catch (const LibraryError &) {
    }
}

void CopyStore::tidyAfterImport(CatalogueBackend &db, const QStringList &copied, bool fromCopies, qint64 started,
                                bool atOnce)
{
    try {
        WriteTransaction transaction(db, atOnce ? WriteTransaction::AtOnce : WriteTransaction::WaitForLock);
        QSet<QString> named;
        Rows q = db.exec(QStringLiteral("SELECT sha256 FROM flights"));
        while (q.next())
            named.insert(q.value(0).toString());
        q.finish();
        for (const QString &sha : copied)
            if (!named.contains(sha))
                QFile::remove(path(sha));
        if (!fromCopies)
            removeUnnamed(named, started);
        transaction.commit();
    } catch (const LibraryError &) {
        // They stay, whole, for the next import.
    }
    removeLeftParts(QDateTime::currentMSecsSinceEpoch());
}

} // namespace korvel::library_detail
