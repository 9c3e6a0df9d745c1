#include "core/library/LibraryPlace.h"

#include <QDir>

namespace korvel {

LibraryPlace::LibraryPlace(const QString &text) : m_text(text), m_server(library_detail::IsServerUri(text))
{
    if (m_server)
        m_parsed = library_detail::ParseServerUri(text, &m_problem);
}

QString LibraryPlace::shown() const
{
    if (!m_server)
        return m_text;
    if (m_parsed)
        return m_parsed->shown;
    // Not one to parse: nothing after the scheme is shown, as it may hold a password.
    return m_text.left(m_text.indexOf(QStringLiteral("://")) + 3) + QStringLiteral("...");
}

QString LibraryPlace::caption() const
{
    if (!m_server)
        return QDir::toNativeSeparators(QDir(m_text).absolutePath());
    if (!m_parsed)
        return shown();
    return QStringLiteral("server %1:%2/%3")
        .arg(m_parsed->hostShown())
        .arg(m_parsed->portShown())
        .arg(m_parsed->databaseShown());
}

QString LibraryPlace::server() const
{
    return m_parsed ? QStringLiteral("%1:%2").arg(m_parsed->hostShown()).arg(m_parsed->portShown()) : QString();
}

} // namespace korvel
