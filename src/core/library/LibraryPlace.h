#pragma once
// Where a flight library is, read once from what the owner typed or the settings keep: a folder on
// this PC, or a library on a PostgreSQL server, with the names a window gives it. The windows ask
// this rather than reading the text themselves.

#include "core/library/ServerLocation.h"

#include <QString>

#include <optional>

namespace korvel {

class LibraryPlace {
public:
    explicit LibraryPlace(const QString &text);

    // A server's URI (postgresql:// or postgres://) rather than a folder.
    bool isServer() const { return m_server; }
    // A folder, or a server's URI libpq would take; problem() says why not.
    bool parses() const { return !m_server || m_parsed.has_value(); }
    QString problem() const { return m_problem; }
    // The text as given.
    const QString &text() const { return m_text; }
    // As it may be shown or kept: a URI without its password.
    QString shown() const;
    // As a window's caption names it: the folder's full path, or "server HOST:PORT/DBNAME".
    QString caption() const;
    // "HOST:PORT" of a server's URI that parses; empty otherwise.
    QString server() const;
    // Whether the URI itself carries a password.
    bool holdsPassword() const { return m_parsed && !m_parsed->password.isEmpty(); }

private:
    QString m_text;
    bool m_server = false;
    std::optional<library_detail::ServerLocation> m_parsed;
    QString m_problem;
};

} // namespace korvel
