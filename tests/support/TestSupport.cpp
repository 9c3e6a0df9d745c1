#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>

namespace korvel::test {

IsolatedSettings::IsolatedSettings()
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_dir.path()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, m_dir.path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_dir.path());
}

MessageAnswer RecordingUi::showMessage(const QString &caption, const QString &text, MessageIcon icon,
                                       MessageButtons buttons)
{
    messages.append({caption, text, icon, buttons});
    MessageAnswer answer = MessageAnswer::Ok;
    if (buttons == MessageButtons::OkCancel)
        answer = answers.isEmpty() ? MessageAnswer::Cancel : answers.takeFirst();
    events << QStringLiteral("message: %1: %2 -> %3")
                  .arg(caption, text, answer == MessageAnswer::Ok ? QStringLiteral("OK") : QStringLiteral("Cancel"));
    return answer;
}

QString WriteFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        qFatal("cannot write %s", qPrintable(path));
    file.write(bytes);
    return path;
}

QString BinDir()
{
    const QByteArray env = qgetenv("KORVEL_BIN_DIR");
    if (!env.isEmpty())
        return QString::fromLocal8Bit(env);
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("../bin"));
}

CliRun RunCli(const QStringList &args)
{
    QProcess p;
    p.start(BinDir() + QStringLiteral("/korvel-cli"), args);
    if (!p.waitForFinished(30000))
        qFatal("korvel-cli did not finish");
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

QString SourceDir() { return QString::fromLocal8Bit(qgetenv("KORVEL_SOURCE_DIR")); }

} // namespace korvel::test
