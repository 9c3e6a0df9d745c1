#pragma once
// Where a library keeps the flights' bytes, behind one interface: a folder's files, or a server
// database's parts committed with the flight's row.
//
// A folder library keeps them in flights/, a byte-exact copy of each flight named
// by the SHA-256 of its bytes. A copy is written aside (a .part named after the program writing it)
// and renamed into place only once whole, so a copy under its final name is always complete.

#include <QByteArray>
#include <QFile>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

namespace korvel::library_detail {

class CatalogueBackend;

// What a store makes of one file's bytes while an import reads it, on the reading threads: a
// folder copies them as they come; a database packs them into the parts its row goes in with.
class KeptAsRead {
public:
    // What was made of them once the file proved a new flight.
    struct Outcome {
        bool copied = false;      // a copy written now: on the disk only once settled
        bool checked = false;     // the kept bytes found sound, or written again, as the file was read
        bool changed = false;     // the file no longer hashes to its name: it changed while it was read
        QList<QByteArray> packed; // the bytes as the store keeps them, when packed ahead
    };

    virtual ~KeptAsRead() = default;
    // A piece of the file, as it is read.
    virtual void add(const char *bytes, std::size_t size) = 0;
    // The file looks like no flight so far: nothing more of it is kept as it goes (a large one could
    // fill the disk), only afterwards should it prove one.
    virtual void drop() {}
    // The file at path, read whole, proved a new flight hashing to sha.
    virtual Outcome finish(const QString &path, const QString &sha, qint64 size) = 0;
};

// How an import paces its reading against its commits.
struct ImportPace {
    // A batch is committed once its flights hold that many bytes.
    qint64 batchBytes = 0;
    // Bytes packed ahead wait in memory until their batch goes in: at most that many (0: none are
    // packed, so the reading threads need no limit).
    qint64 heldBytes = 0;
};

class FlightStore {
public:
    virtual ~FlightStore() = default;
    // The tables it needs beside the catalogue's, made with them.
    virtual void createTables(CatalogueBackend &) {}
    // In the write transaction, before the flight's row: makes sure its bytes are kept, from the file
    // origin (read again) or, when origin is empty, from bytes. False when the file no longer hashes
    // to sha (it changed since it was read).
    // packed: what keepAsRead made of the bytes as they were read, when it made anything.
    virtual bool keep(CatalogueBackend &db, const QString &sha, qint64 size, const QString &origin,
                      const QByteArray &bytes, const QList<QByteArray> &packed = {}) = 0;
    // What is made of a file's bytes as an import reads it (size bytes long; likelyKept: a flight of
    // that size is kept already, so it is most likely that one again; fromCopies: it is the store's
    // own copy, read by a rebuild). Asked on several threads at once. Throws LibraryError when
    // nothing can be written.
    virtual std::unique_ptr<KeptAsRead> keepAsRead(qint64 size, bool likelyKept, bool fromCopies) const = 0;
    // How big its imports' batches are, and what they hold ahead.
    virtual ImportPace importPace() const = 0;
    // Whether the flight's bytes are kept, all of them, hashing to its name.
    virtual bool holdsWhole(CatalogueBackend &db, const QString &sha, qint64 size) = 0;
    // The flight's bytes, checked against its name: throws LibraryError naming the damage otherwise.
    virtual QByteArray read(CatalogueBackend &db, const QString &sha) = 0;
    // As read, handed to out piece by piece as they come (out false: no more wanted); the damage
    // is found once the last piece has been handed over.
    virtual void writeTo(CatalogueBackend &db, const QString &sha, const std::function<bool(const QByteArray &)> &out)
    {
        out(read(db, sha));
    }
    // A file holding the flight's bytes, for a loader that reads files.
    virtual QString localFile(CatalogueBackend &db, const QString &sha) = 0;
    // In the removal's transaction, with the flight's row: what it keeps of the flight goes too
    // (a folder's copy goes once the row is gone: see dropCopy).
    virtual void forget(CatalogueBackend &, const QString &) {}
    // The folder that keeps what a removal must delete, when it is read-only (what could not be
    // deleted would stay for ever); empty when nothing stands in the way.
    virtual QString readOnlyFolder() const { return {}; }
    // Once the removal's row is gone (its transaction begun at since, a msecs-since-epoch time):
    // the flight's copy goes, under the lock, unless an import of the same bytes has added it again
    // meanwhile; so do the copies no row names left by a removal or an import that was killed.
    // Why the flight's copy could not be deleted; empty when it went, or when bytes kept with their
    // rows went with them.
    virtual QString dropCopy(CatalogueBackend &, const QString & /*sha*/, qint64 /*since*/) { return {}; }

    // What a rebuild of the catalogue reads: every copy kept apart from the rows, by file; none
    // where the bytes are kept with their rows, so that there is nothing to rebuild from.
    virtual std::optional<QStringList> rebuildSources() const { return std::nullopt; }
    // The flight's copy is not there (a flight listed without one can no longer be exported).
    virtual bool copyMissing(const QString & /*sha*/) const { return false; }
    // The file at path (resolved, no link left in it) lies where only the library itself may
    // write: its own folder, catalogue and copies.
    virtual bool containsPath(const QString & /*resolved*/) const { return false; }

    // A flight held in memory, before its row is written: kept ahead where the store keeps bytes
    // apart from the rows (a folder's copy, written and checked now; copied: whether this copy went
    // in now). False where the bytes go in with the row.
    virtual bool keepAhead(const QString & /*sha*/, const QByteArray & /*bytes*/, bool & /*copied*/)
    {
        return false;
    }
    // Before the rows of flights whose bytes were kept ahead (copied: their names) are committed:
    // those bytes are put on the disk.
    virtual void settle(const QStringList & /*copied*/) {}
    // Should that row not have gone in: the copy made for it goes, unless its flight is in by now.
    virtual void dropAhead(CatalogueBackend &, const QString & /*sha*/) {}

    // Before an import (begun at started, a msecs-since-epoch time) reads its first file: what
    // earlier ones left behind goes.
    virtual void beforeImport(qint64 /*started*/) {}
    // However an import ends (stopped, failed or done): what it kept of flights whose rows are not
    // in (copied: their names) goes, unless their flight is in by now; so does what no row names
    // that was there before it began, unless it reads the store's own copies (fromCopies). atOnce:
    // after a failure the lock is not waited for again, and what is left stays for the next import.
    // Bytes kept with their rows went with them or not at all: nothing to do.
    virtual void tidyAfterImport(CatalogueBackend &, const QStringList & /*copied*/, bool /*fromCopies*/,
                                 qint64 /*started*/, bool /*atOnce*/)
    {
    }
};

// The database's own: the flight's bytes in parts of at most 8 MiB in the table flight_parts.
std::unique_ptr<FlightStore> MakeDatabaseStore();

class CopyStore final : public FlightStore {
public:
    // folder: the copies' own, inside library (the library's folder, its catalogue beside them).
    CopyStore(const QString &library, const QString &folder) : m_library(library), m_folder(folder) {}

    std::unique_ptr<KeptAsRead> keepAsRead(qint64 size, bool likelyKept, bool fromCopies) const override;
    // A batch waits for one flush of the disk: the larger the fewer.
    ImportPace importPace() const override { return {qint64(32) << 20, 0}; }
    QString readOnlyFolder() const override;
    QString dropCopy(CatalogueBackend &db, const QString &sha, qint64 since) override;
    std::optional<QStringList> rebuildSources() const override { return copies(); }
    bool copyMissing(const QString &sha) const override;
    bool containsPath(const QString &resolved) const override;
    bool keepAhead(const QString &sha, const QByteArray &bytes, bool &copied) override
    {
        copied = write(sha, bytes);
        return true;
    }
    void dropAhead(CatalogueBackend &db, const QString &sha) override;
    void settle(const QStringList &copied) override;
    void beforeImport(qint64 started) override { removeLeftParts(started - 600'000); }
    void tidyAfterImport(CatalogueBackend &db, const QStringList &copied, bool fromCopies, qint64 started,
                         bool atOnce) override;
    bool keep(CatalogueBackend &db, const QString &sha, qint64 size, const QString &origin, const QByteArray &bytes,
              const QList<QByteArray> &packed = {}) override;
    bool holdsWhole(CatalogueBackend &, const QString &sha, qint64 size) override { return sound(sha, size); }
    QByteArray read(CatalogueBackend &, const QString &sha) override { return readChecked(sha); }
    QString localFile(CatalogueBackend &, const QString &sha) override { return path(sha); }

    QString folder() const { return m_folder; }
    // Only 64 lowercase hexadecimal digits name a copy: a catalogue's text is never taken as a path
    // otherwise.
    static bool IsCopyName(const QString &sha);
    // The copy's file; throws LibraryError for a name that is no copy's.
    QString path(const QString &sha) const;
    // A copy of that size is in place (an earlier import's, or another file's with the same bytes).
    bool whole(const QString &sha, qint64 size) const;
    // In place, of that size, and its bytes hash to its name.
    bool sound(const QString &sha, qint64 size) const;
    // Writes bytes held in memory; true when this copy went in now.
    bool write(const QString &sha, const QByteArray &bytes);
    // Copies a file when its bytes still hash to sha; false when it changed since it was read.
    bool copyChecked(const QString &path, const QString &sha, qint64 size) const;
    // Puts the copies written so far on the disk.
    void sync(const QStringList &names);
    // The copy's bytes, checked against its name: throws LibraryError naming the damage otherwise.
    QByteArray readChecked(const QString &sha) const;

    // Parts no running program writes any more, and this program's own older than since (a
    // msecs-since-epoch time), go.
    void removeLeftParts(qint64 since);
    // Copies no row names (keep: the names the catalogue holds) last written before since go.
    void removeUnnamed(const QSet<QString> &keep, qint64 since);
    // Every copy's file in the folder, by name.
    QStringList copies() const;

    // For the tests: a flush that fails, to prove the rows wait for it.
    static std::function<bool()> &SyncFailsForTest();

private:
    QString m_library;
    QString m_folder;
};

// A flight's copy on its way: written aside under a name of its own and renamed into place only
// once complete. Gone if never placed.
class CopyAside {
public:
    explicit CopyAside(const QString &folder);
    ~CopyAside();
    CopyAside(const CopyAside &) = delete;
    CopyAside &operator=(const CopyAside &) = delete;

    void write(const char *bytes, std::size_t size);
    // Puts the copy in place under the flight's name, unless a sound one is there already. True when
    // this copy went in.
    bool place(const CopyStore &store, const QString &sha, qint64 size);

private:
    [[noreturn]] void fail(int error);

    QString m_folder;
    QFile m_file;
    bool m_placed = false;
};

} // namespace korvel::library_detail
