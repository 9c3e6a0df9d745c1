#pragma once
// Where a library on a server is: a PostgreSQL URI as libpq reads it,
// postgresql://[USER[:PASSWORD]@][HOST][:PORT][/DBNAME][?PARAM=VALUE&...] (postgres:// too), with the
// defaults libpq takes from the environment. The password is kept apart: it is handed to the
// driver and never shown (shown is the URI without it, nor the client key's passphrase).

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <optional>

namespace korvel::library_detail {

struct ServerLocation {
    QString user;     // as given; empty: libpq's default (PGUSER, else the login name)
    QString password; // as given; empty: ~/.pgpass, the service file or PGPASSWORD
    QString host;     // as given (a name, an address, or a socket folder); empty: libpq's default
    int port = 0;     // 0: libpq's default
    QString database; // empty: libpq's default (the user's name)
    QList<QPair<QString, QString>> parameters; // sslmode, connect_timeout, service, ... in order
    QString shown;                             // the URI as given, without its password
    QString given;                             // the URI as given, to be found in a text
    QStringList secretForms;                   // "user:password@", "password=...", "sslpassword=..."

    // The names a message gives (the defaults libpq would take where none is given).
    QString hostShown() const;
    int portShown() const;
    QString databaseShown() const;
    QString userShown() const;
    // A text with the URI's forms that hold a secret replaced (the URI by its shown form).
    QString scrubbed(QString text) const;
    // The driver's connect options: every parameter as libpq's keyword=value.
    QString connectOptions() const;
};

// Whether text names a server rather than a folder.
bool IsServerUri(const QString &text);
// Parses a server URI; nullopt with the reason in why when it is not one libpq would take.
std::optional<ServerLocation> ParseServerUri(const QString &text, QString *why);

} // namespace korvel::library_detail
