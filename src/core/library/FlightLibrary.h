#pragma once
// The flight library: every flight the owner downloads or loads, kept in one place and found again
// by date. A folder's library holds library.sqlite (the catalogue, through Qt SQL) and flights/, a
// byte-exact copy of each flight named by the SHA-256 of its bytes, so the owner's own files may
// move or go; a server's keeps the catalogue and the flights' bytes in one PostgreSQL database.
// A flight's figures are worked out once, at import: listing and trends never reread a flight.
//
// Crash safety: a flight's bytes are kept whole before its row is committed (a folder's copy
// written, flushed and renamed into place; a server's parts in the row's transaction); a copy
// without a row is completed by importing again. Several programs may use one library: a busy
// library is waited for, then said so.

#include <QByteArray>
#include <QDate>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QTime>
#include <QVariantList>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

namespace korvel {

namespace library_detail {
class CatalogueBackend;
class FlightStore;
} // namespace library_detail

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
    std::optional<QString> aircraft; // its registration; none until the owner gives one
};

// One aircraft of the library (or, with no registration, the flights that have none).
struct AircraftSummary {
    std::optional<QString> aircraft;
    int flights = 0;
    QString first; // the first record of its earliest flight
    QString last;  // the last record of its latest flight
};

// A registration as given by the owner, checked: the normalised text, or why it is refused.
struct Registration {
    std::optional<QString> text;
    QString reason;
    explicit operator bool() const { return text.has_value(); }
};

struct ImportResult {
    // Repaired: a flight kept already whose copy (or parts) was damaged or missing, written again
    // under its id. Damaged: a rebuild's copy whose bytes do not match its name (never added).
    // Missing: a rebuild's listed flight without its copy (no file).
    enum Outcome { Added, Known, Skipped, Repaired, Damaged, Missing };
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
    static constexpr int kSchemaVersion = 3;
    static constexpr int kBusyWaitMs = 5000;

    // KORVEL_LIBRARY when set, else "library" in the per-user data folder.
    static QString DefaultFolder();
    // Files named, and every regular file under a folder named (recursively), each folder's in path
    // order; the arguments' order is kept.
    static QStringList CollectFiles(const QStringList &paths);
    // The measures a trend can follow: the list's numbers, then fieldK.min/max/mean.
    static QStringList Measures();
    static bool IsMeasure(const QString &measure);
    // A text of the user's as a message may echo it: cut to 40 characters, control characters
    // escaped.
    static QString Echoed(const QString &text);
    // An aircraft's registration: trimmed, a to z upper-cased, 1 to 16 of A-Z, 0-9 and '-'.
    static Registration CheckRegistration(const QString &text);
    // Whether folder holds a library already (the read commands create none).
    static bool Exists(const QString &folder);
    // Whether a library's location (LIB) is a server's URI (postgresql:// or postgres://) rather
    // than a folder.
    static bool IsServer(const QString &location);
    // The location as it may be shown or kept in the settings: a URI without its password.
    static QString Shown(const QString &location);
    // What a location holds, as a window's test of it says: the library's version and how many
    // flights it keeps, or why it cannot be opened. Nothing is created or changed.
    static QString Describe(const QString &location);

    // How a library is opened: made when missing (import, the window, a capture); only when it is
    // there (the commands that read); or to be rebuilt from its copies when its catalogue is lost;
    // or made by its administrator (init: the only way a library on a server is made).
    enum class Opening { Create, Existing, Rebuild, Init };

    // Opens (creating when needed) the library in folder. Throws LibraryError when the folder cannot
    // be written, library.sqlite is no library, or it was written by a newer program.
    explicit FlightLibrary(const QString &folder);
    // As above, but Existing throws LibraryError, creating nothing, when the folder holds no library;
    // a library the user may not write is then opened for reading.
    FlightLibrary(const QString &folder, Opening opening);
    ~FlightLibrary();
    FlightLibrary(const FlightLibrary &) = delete;
    FlightLibrary &operator=(const FlightLibrary &) = delete;

    // The folder, or the server's URI without its password.
    QString folder() const { return m_folder; }
    // The version of its catalogue.
    int version() const { return m_version; }
    // Whether the library can only be read here (a read-only folder).
    bool readOnly() const;
    // Whether this opening made the library (it was not there before).
    bool created() const { return m_created; }

    // Adds a flight file. A file that is no flight is skipped with its reason; LibraryError when the
    // library itself cannot be written (the flight is then not in it).
    ImportResult importFile(const QString &path);
    // Adds a flight held in memory (a capture just received); source names where it came from.
    ImportResult importBytes(const QByteArray &bytes, const QString &source);
    // As above, the flight added belonging to aircraft (a normalised registration); a flight already
    // kept keeps its own.
    ImportResult importBytes(const QByteArray &bytes, const QString &source, const std::optional<QString> &aircraft);
    // Adds files in order, handing each result over once it is committed. onResult returning false,
    // or stop() true before a file is taken, ends the import once what is in hand is committed.
    // False when ended early.
    bool importFiles(const QStringList &files, const std::function<bool(const ImportResult &)> &onResult,
                     const std::function<bool()> &stop = {});
    bool importFiles(const QStringList &files, const std::optional<QString> &aircraft,
                     const std::function<bool(const ImportResult &)> &onResult, const std::function<bool()> &stop = {});
    // Said as the files of an import are read, piece by piece (each piece's size), so that a large
    // file shows how far it is; called on the import's reading threads.
    void setReadProgress(std::function<void(qint64 bytes)> onRead) { m_readProgress = std::move(onRead); }

    // Every flight by its first record's date and time, then id.
    std::vector<LibraryFlight> list();
    // The flights of one aircraft (a normalised registration).
    std::vector<LibraryFlight> list(const QString &aircraft);
    std::optional<LibraryFlight> flight(qint64 id);
    // The last flight of the list (the start panel's), without reading the list.
    std::optional<LibraryFlight> latest();
    // One point per flight in list order. The measure must be one of Measures().
    std::vector<TrendPoint> trend(const QString &measure);
    std::vector<TrendPoint> trend(const QString &measure, const QString &aircraft);
    // A line per aircraft by registration, then the flights with none (if any).
    std::vector<AircraftSummary> aircraft();
    // The registrations in the library, in order.
    QStringList registrations();
    // Gives the flights to aircraft (a normalised registration), or takes theirs away (nullopt).
    // The ids not in the library are left out of the count returned.
    int assign(const QList<qint64> &ids, const std::optional<QString> &aircraft);
    // Where the flight's copy is; nullopt for an unknown id.
    std::optional<QString> copyPath(qint64 id);
    // Writes the flight's bytes to fileName. False for an unknown id; LibraryError when it cannot
    // be written.
    bool exportFlight(qint64 id, const QString &fileName);
    // Forgets the flight and its copy. False for an unknown id.
    bool remove(qint64 id);
    // Imports every copy in flights/ again (their sources then read as the copies' paths): a library
    // whose catalogue was lost or emptied. A copy whose bytes do not match its name is said damaged
    // and left out; then each listed flight without its copy is said missing.
    bool rebuild(const std::function<bool(const ImportResult &)> &onResult);

private:
    QString flightsFolder() const;
    std::vector<LibraryFlight> flights(const QString &where, const QVariantList &values);
    std::vector<TrendPoint> trendOf(const QString &measure, const std::optional<QString> &aircraft);
    void open(Opening opening);
    void openServer(const QString &location, Opening opening);
    void createCatalogue();
    // The catalogue's version, refused unless one row holds a known one; name and advice for the
    // message.
    int checkVersion(const QString &name, const QString &advice);
    void bringUpToDate(const QString &name, const QString &advice);
    bool migrate(int from);
    void figureAgain();

    QString m_folder;
    bool m_created = false;
    int m_version = kSchemaVersion;
    std::unique_ptr<library_detail::CatalogueBackend> m_db;
    std::unique_ptr<library_detail::FlightStore> m_store;
    std::function<void(qint64)> m_readProgress;
};

} // namespace korvel
