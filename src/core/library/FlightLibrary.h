#pragma once
// The flight library: every flight the owner downloads or loads, kept in one folder and found again
// by date. The folder holds library.sqlite (the catalogue, through Qt SQL) and flights/, a
// byte-exact copy of each flight named by the SHA-256 of its bytes, so the owner's own files may
// move or go. A flight's figures are worked out once, at import: listing and trends never reread a
// flight.
//
// Crash safety: a flight's copy is written, flushed and renamed into place before its row is
// committed, so a row always has a whole copy; a copy without a row is completed by importing
// again. Several programs may use one library: a busy library is waited for, then said so.

#include <QByteArray>
#include <QDate>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTime>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace korvel {

namespace library_detail {
struct PendingFlight;
}

// The library cannot be opened, read or written; the message says why and what to do.
class LibraryError : public std::runtime_error {
public:
    explicit LibraryError(const QString &message) : std::runtime_error(message.toStdString()), m_message(message) {}
    QString message() const { return m_message; }

private:
    QString m_message;
};

struct LibraryFlight {
    qint64 id = 0;
    QString first; // "YYYY-MM-DDTHH:MM:SS" of the first record
    QString last;
    int records = 0;
    std::optional<qint64> durationSeconds;
    std::optional<double> egtMax;
    std::optional<int> egtCylinder;
    std::optional<double> chtMax;
    std::optional<int> chtCylinder;
    std::optional<double> egtSpreadMax;
    std::optional<double> chtSpreadMax;
    int findings = 0;
    QString sha256;
    QString source;
};

struct ImportResult {
    enum Outcome { Added, Known, Skipped };
    QString file;
    Outcome outcome = Skipped;
    qint64 id = 0;
    QString reason; // why it was skipped
};

struct TrendPoint {
    qint64 id = 0;
    QString first;
    std::optional<double> value;
};

class FlightLibrary {
public:
    static constexpr int kSchemaVersion = 1;
    static constexpr int kBusyWaitMs = 5000;

    // KORVEL_LIBRARY when set, else "library" in the per-user data folder.
    static QString DefaultFolder();
    // Files named, and every regular file under a folder named (recursively), each folder's in path
    // order; the arguments' order is kept.
    static QStringList CollectFiles(const QStringList &paths);
    // The measures a trend can follow: the list's numbers, then fieldK.min/max/mean.
    static QStringList Measures();
    static bool IsMeasure(const QString &measure);

    // Opens (creating when needed) the library in folder. Throws LibraryError when the folder cannot
    // be written, library.sqlite is no library, or it was written by a newer program.
    explicit FlightLibrary(const QString &folder);
    ~FlightLibrary();
    FlightLibrary(const FlightLibrary &) = delete;
    FlightLibrary &operator=(const FlightLibrary &) = delete;

    QString folder() const { return m_folder; }

    // Adds a flight file. A file that is no flight is skipped with its reason; LibraryError when the
    // library itself cannot be written (the flight is then not in it).
    ImportResult importFile(const QString &path);
    // Adds a flight held in memory (a capture just received); source names where it came from.
    ImportResult importBytes(const QByteArray &bytes, const QString &source);
    // Adds files in order, handing each result over once it is committed. onResult returning false,
    // or stop() true before a file is taken, ends the import once what is in hand is committed.
    // False when ended early.
    bool importFiles(const QStringList &files, const std::function<bool(const ImportResult &)> &onResult,
                     const std::function<bool()> &stop = {});

    // Every flight by its first record's date and time, then id.
    std::vector<LibraryFlight> list();
    std::optional<LibraryFlight> flight(qint64 id);
    // One point per flight in list order. The measure must be one of Measures().
    std::vector<TrendPoint> trend(const QString &measure);
    // Where the flight's copy is; nullopt for an unknown id.
    std::optional<QString> copyPath(qint64 id);
    // Writes the flight's bytes to fileName. False for an unknown id; LibraryError when it cannot
    // be written.
    bool exportFlight(qint64 id, const QString &fileName);
    // Forgets the flight and its copy. False for an unknown id.
    bool remove(qint64 id);

private:
    class Database;
    struct Batch;
    void accept(Batch &batch, library_detail::PendingFlight pending);
    bool commitBatch(Batch &batch, const std::function<bool(const ImportResult &)> &onResult);
    std::optional<qint64> knownId(const QString &sha);
    // True when the copy was written now (it is on the disk only once synced).
    bool writeCopy(const QString &sha, const QByteArray &bytes);
    // The sizes of the flights kept: a file of another size is no flight already in the library.
    QSet<qint64> keptSizes();
    QString flightsFolder() const;
    QString copyFile(const QString &sha) const;

    QString m_folder;
    std::unique_ptr<Database> m_db;
};

} // namespace korvel
