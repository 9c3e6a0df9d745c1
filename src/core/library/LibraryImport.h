#pragma once
// The import: files read and figured on every core ahead of the one taken (a few for a folder,
// whose copies are made as they are read; up to a batch for a database, whose parts are packed
// there and go in with the rows); the flights committed by batches in the files' order, each
// batch's copies on the disk before its rows. Whatever way it ends, no copy it made is left
// without a row, and no part it wrote is left.

#include "core/library/FlightLibrary.h"
#include "core/library/LibraryFigures.h"

#include <functional>
#include <optional>

namespace korvel::library_detail {

class CatalogueBackend;
class FlightStore;

using ImportSink = std::function<bool(const ImportResult &)>;
// Each piece of a file as it is read, by its size; called on the reading threads.
using ReadSink = std::function<void(qint64 bytes)>;

// fromCopies: the files are the library's own copies (a rebuild): each is checked against its name
// (Damaged otherwise), none is copied, and no copy goes for want of a row.
bool ImportFiles(CatalogueBackend &db, FlightStore &store, const QStringList &files,
                 const std::optional<QString> &aircraft, const ImportSink &onResult, const std::function<bool()> &stop,
                 bool fromCopies, const ReadSink &onRead = {});
ImportResult ImportBytes(CatalogueBackend &db, FlightStore &store, const QByteArray &bytes, const QString &source,
                         const std::optional<QString> &aircraft);

// The figures of a flight file read again (a copy, for the catalogue's migration); nullopt when it
// cannot be read or holds no flight.
std::optional<FlightFigures> FigureFile(const QString &path);

// Writes a flight's figures into the catalogue under its id (the caller holds the transaction).
void StoreFigures(CatalogueBackend &db, qint64 id, const FlightFigures &figures, bool replace);

// For the tests: how many threads an import may start before the system refuses one (-1: no limit).
int &ImportThreadsAllowedForTest();

} // namespace korvel::library_detail
