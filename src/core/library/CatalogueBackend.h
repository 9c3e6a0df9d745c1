#pragma once
// Where the catalogue's rows live, behind one interface: the library's queries are plain SQL through
// Qt SQL, and a backend keeps what differs by database (its driver, its settings, how a write
// transaction takes its lock, which of its errors mean busy). A folder's SQLite file is one backend;
// a server's PostgreSQL database is the other.

#include "core/library/FlightLibrary.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QVariantList>

#include <functional>
#include <memory>

namespace korvel::library_detail {

// What a statement answered: its rows, read forward once, and how many rows it changed. Each
// backend reads them its own way; the library sees only this.
class Rows {
public:
    struct Source {
        virtual ~Source() = default;
        virtual bool next() = 0;
        virtual QVariant value(int column) const = 0;
        virtual int numRowsAffected() const = 0;
    };

    Rows() = default;
    explicit Rows(std::unique_ptr<Source> source) : m_source(std::move(source)) {}

    bool next() { return m_source && m_source->next(); }
    QVariant value(int column) const { return m_source ? m_source->value(column) : QVariant(); }
    int numRowsAffected() const { return m_source ? m_source->numRowsAffected() : -1; }
    // Lets the statement go before the rows are all read (an open one keeps SQLite's log growing).
    void finish() { m_source.reset(); }

private:
    std::unique_ptr<Source> m_source;
};

class CatalogueBackend {
public:
    virtual ~CatalogueBackend() = default;

    QSqlDatabase db() const { return QSqlDatabase::database(m_connection, false); }
    QStringList tables() const { return db().tables(); }

    // Reads the catalogue's header: something that is no catalogue of any kind fails here, before
    // anything is written.
    virtual void checkReadable() = 0;
    // Whether the catalogue's tables are there.
    virtual bool hasCatalogue() { return tables().contains(QStringLiteral("library_info")); }
    // Sets the catalogue up for writing (once per connection, before the first write).
    virtual void prepareForWriting() = 0;
    // Takes the write lock at once, waiting for another writer up to the busy time, so that what the
    // transaction reads is still true when it writes.
    virtual void beginWrite() = 0;
    // As beginWrite, but Busy at once should another program hold the lock: for tidying up after a
    // failure, which must not make the owner wait a second time.
    virtual void beginWriteAtOnce() { beginWrite(); }
    virtual void commit() = 0;
    virtual void rollback() = 0;
    // Keeps the backend's own log bounded after a commit.
    virtual void afterCommit() = 0;
    // Once the catalogue's tables are made (in their transaction): who else may use them.
    virtual void afterCreate() {}
    // The indexes this database's planner needs beyond the catalogue's own, where they are missing
    // (made by init; run again on an older catalogue, init adds them). Throws when this role may not.
    virtual void addIndexes() {}
    // Whether this connection may only read.
    virtual bool readOnly() const = 0;
    // Before a change is begun: throws, naming what to do, when this connection may not make it.
    virtual void checkWritable() {}

    // The most values one statement of many rows should carry: a server answers each statement
    // after a round trip, while SQLite's driver looks each value up among all of its statement's.
    virtual int valuesPerStatement() const { return 6000; }

    // A statement run to its end (a query's rows are read by the caller). Throws LibraryError. One
    // without values is run as it stands (a server prepares only queries and changes of rows).
    virtual Rows exec(const QString &sql, const QVariantList &values = {});
    // The first column of the first row, or an invalid QVariant; the statement is closed at once.
    QVariant value(const QString &sql, const QVariantList &values = {});
    [[noreturn]] void fail(const QSqlError &error);

protected:
    // A statement run through Qt SQL's driver, its values bound by the driver.
    Rows execByDriver(const QString &sql, const QVariantList &values);

    // What an error of this database means to the owner; a busy answer throws Busy.
    [[noreturn]] virtual void raise(const QSqlError &error) = 0;

    QString m_connection;
};

// The lock another connection holds (said as it is where the step is not tried again).
struct Busy : LibraryError {
    Busy();
};

// The disk holding the catalogue is full: the library is still one, and may still be read.
struct DiskFull : LibraryError {
    using LibraryError::LibraryError;
};

// The server undid the transaction for getting in another's way (a serialization failure or a
// deadlock): it is tried again from its start; said as it is once that has gone on for the busy time.
struct Conflict : LibraryError {
    using LibraryError::LibraryError;
};

// One write transaction: begun at once, rolled back unless committed, whatever leaves the scope.
class WriteTransaction {
public:
    enum Wait { WaitForLock, AtOnce };
    explicit WriteTransaction(CatalogueBackend &backend, Wait wait = WaitForLock) : m_backend(backend)
    {
        if (wait == AtOnce)
            m_backend.beginWriteAtOnce();
        else
            m_backend.beginWrite();
    }
    ~WriteTransaction()
    {
        if (!m_done)
            m_backend.rollback();
    }
    WriteTransaction(const WriteTransaction &) = delete;
    WriteTransaction &operator=(const WriteTransaction &) = delete;

    void commit()
    {
        m_backend.commit();
        m_done = true;
        m_backend.afterCommit();
    }

private:
    CatalogueBackend &m_backend;
    bool m_done = false;
};

// Runs body in a write transaction (body commits it), and again from its start each time the server
// undoes it for a Conflict, for up to the busy time. Whatever body changes outside the database
// must hold when it runs again.
void WriteRetrying(CatalogueBackend &backend, const std::function<void(WriteTransaction &)> &body);

// The catalogue of a folder library: its SQLite file. readOnly opens it for reading only (a folder
// the user may not write).
std::unique_ptr<CatalogueBackend> OpenSqliteCatalogue(const QString &file, bool readOnly);

struct ServerLocation;
// The catalogue of a library on a PostgreSQL server, signed in to at once. Throws LibraryError when
// the driver is missing, the server cannot be reached or refuses the sign-in (no password said).
std::unique_ptr<CatalogueBackend> OpenServerCatalogue(const ServerLocation &location);

} // namespace korvel::library_detail
