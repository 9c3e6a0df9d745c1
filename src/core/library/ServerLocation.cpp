#include "core/library/ServerLocation.h"

#include "core/platform/Processes.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QUrl>


namespace korvel::library_detail {

namespace {

QString Decoded(const QString &text)
{
    return QUrl::fromPercentEncoding(text.toUtf8());
}

QString Environment(const char *name)
{
    return qEnvironmentVariable(name);
}

QString ParameterValue(const ServerLocation &l, const QString &name)
{
    for (const auto &[key, value] : l.parameters)
        if (key == name)
            return value;
    return {};
}

// libpq's keyword='value', quoted as its connection strings are.
QString Quoted(QString value)
{
    value.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    value.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + value + QLatin1Char('\'');
}

} // namespace

bool IsServerUri(const QString &text)
{
    return text.startsWith(QStringLiteral("postgresql://"), Qt::CaseInsensitive) ||
           text.startsWith(QStringLiteral("postgres://"), Qt::CaseInsensitive);
}

std::optional<ServerLocation> ParseServerUri(const QString &text, QString *why)
{
    const auto refuse = [&](const QString &reason) {
        if (why)
            *why = reason;
        return std::nullopt;
    };
    if (!IsServerUri(text))
        return refuse(QStringLiteral("it does not begin with postgresql:// or postgres://"));
    ServerLocation l;
    l.given = text;
    const qsizetype schemeEnd = text.indexOf(QStringLiteral("://")) + 3;
    QString rest = text.mid(schemeEnd);
    // The user part ends at an '@' before the first '/': libpq takes the first, this the last, so
    // whatever either takes for a password is left out of the shown form (a '?' or a second '@' in
    // an unencoded password included).
    QString shownUser;
    const qsizetype slash = rest.indexOf(QLatin1Char('/'));
    if (const qsizetype at = (slash >= 0 ? rest.left(slash) : rest).lastIndexOf(QLatin1Char('@')); at >= 0) {
        const QString userinfo = rest.left(at);
        const qsizetype colon = userinfo.indexOf(QLatin1Char(':'));
        l.user = Decoded(colon >= 0 ? userinfo.left(colon) : userinfo);
        if (colon >= 0) {
            l.password = Decoded(userinfo.mid(colon + 1));
            l.secretForms << userinfo + QLatin1Char('@');
        }
        shownUser = (colon >= 0 ? userinfo.left(colon) : userinfo) + QLatin1Char('@');
        rest = rest.mid(at + 1);
    }
    QString query;
    if (const qsizetype q = rest.indexOf(QLatin1Char('?')); q >= 0) {
        query = rest.mid(q + 1);
        rest.truncate(q);
    }
    QString path;
    if (const qsizetype pathStart = rest.indexOf(QLatin1Char('/')); pathStart >= 0) {
        path = rest.mid(pathStart + 1);
        rest.truncate(pathStart);
    }
    // libpq would take it as the database's name, but it is most likely a password holding a '/'
    // ("user:pass/word@host"): refused rather than shown.
    if (path.contains(QLatin1Char('@')))
        return refuse(QStringLiteral("an \"@\" follows the \"/\" before the database's name; write a password's "
                                     "\"/\" as %2F, a database name's \"@\" as %40"));
    const QString shownAuthority = shownUser + rest;
    // HOST[:PORT], HOST an [IPv6] address too; several hosts are handed to libpq as they stand.
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return refuse(QStringLiteral("its IPv6 address lacks its closing \"]\""));
        l.host = rest.mid(1, close - 1);
        rest = rest.mid(close + 1);
        if (!rest.isEmpty() && !rest.startsWith(QLatin1Char(':')))
            return refuse(QStringLiteral("something follows its IPv6 address other than \":PORT\""));
        rest = rest.mid(1);
    } else if (!rest.contains(QLatin1Char(','))) {
        const qsizetype colon = rest.lastIndexOf(QLatin1Char(':'));
        l.host = Decoded(colon >= 0 ? rest.left(colon) : rest);
        rest = colon >= 0 ? rest.mid(colon + 1) : QString();
    } else {
        l.host = Decoded(rest);
        rest.clear();
    }
    if (!rest.isEmpty()) {
        bool ok = false;
        l.port = rest.toInt(&ok);
        if (!ok || l.port < 1 || l.port > 65535)
            return refuse(QStringLiteral("its port is no number from 1 to 65535"));
    }
    l.database = Decoded(path);
    QStringList shownQuery;
    if (!query.isEmpty()) {
        for (const QString &pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
            const qsizetype eq = pair.indexOf(QLatin1Char('='));
            if (eq <= 0)
                return refuse(QStringLiteral("a parameter has no value (write NAME=VALUE)"));
            const QString key = Decoded(pair.left(eq));
            const QString value = Decoded(pair.mid(eq + 1));
            if (!QRegularExpression(QStringLiteral("^[a-z_]+$")).match(key).hasMatch())
                return refuse(QStringLiteral("a parameter's name holds more than the letters a to z and \"_\""));
            // As libpq: these parameters stand for the URI's own parts.
            if (key == QLatin1String("password")) {
                l.password = value;
                l.secretForms << pair;
                continue;
            }
            // The client key's passphrase goes to the driver, never into the shown form.
            if (key == QLatin1String("sslpassword")) {
                l.parameters.append({key, value});
                l.secretForms << pair;
                continue;
            }
            shownQuery << pair;
            if (key == QLatin1String("user"))
                l.user = value;
            else if (key == QLatin1String("host"))
                l.host = value;
            else if (key == QLatin1String("dbname"))
                l.database = value;
            else if (key == QLatin1String("port")) {
                bool ok = false;
                l.port = value.toInt(&ok);
                if (!ok || l.port < 1 || l.port > 65535)
                    return refuse(QStringLiteral("its port is no number from 1 to 65535"));
            } else
                l.parameters.append({key, value});
        }
    }
    l.shown = text.left(schemeEnd) + shownAuthority + (path.isEmpty() ? QString() : QLatin1Char('/') + path) +
              (shownQuery.isEmpty() ? QString() : QLatin1Char('?') + shownQuery.join(QLatin1Char('&')));
    return l;
}

QString ServerLocation::hostShown() const
{
    if (!host.isEmpty())
        return host;
    if (const QString env = Environment("PGHOST"); !env.isEmpty())
        return env;
    if (const QString service = ParameterValue(*this, QStringLiteral("service")); !service.isEmpty())
        return QStringLiteral("the service ") + service;
    return QStringLiteral("localhost");
}

int ServerLocation::portShown() const
{
    if (port > 0)
        return port;
    bool ok = false;
    const int env = Environment("PGPORT").toInt(&ok);
    return ok && env > 0 ? env : 5432;
}

QString ServerLocation::userShown() const
{
    if (!user.isEmpty())
        return user;
    if (const QString env = Environment("PGUSER"); !env.isEmpty())
        return env;
    if (const QString login = platform::LoginName(); !login.isEmpty())
        return login;
    return Environment("USERNAME");
}

QString ServerLocation::databaseShown() const
{
    if (!database.isEmpty())
        return database;
    if (const QString env = Environment("PGDATABASE"); !env.isEmpty())
        return env;
    return userShown();
}

QString ServerLocation::scrubbed(QString text) const
{
    // Only the URI's own forms: a password's text alone may be any word of a message.
    if (!given.isEmpty())
        text.replace(given, shown);
    for (const QString &form : secretForms)
        text.replace(form, QStringLiteral("..."));
    return text;
}

QString ServerLocation::connectOptions() const
{
    // The driver reads ';' as the separator of its options: a value holds none.
    QStringList options;
    for (const auto &[key, value] : parameters)
        options << key + QLatin1Char('=') + Quoted(QString(value).replace(QLatin1Char(';'), QLatin1Char(',')));
    return options.join(QLatin1Char(';'));
}

} // namespace korvel::library_detail
