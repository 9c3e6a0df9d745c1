#include "core/library/ImportTask.h"

#include <QFileInfo>

#include <algorithm>

namespace korvel {

ImportTask::ImportTask(QString location, QStringList paths, std::optional<QString> aircraft, QObject *parent)
    : QObject(parent), m_location(std::move(location)), m_paths(std::move(paths)), m_aircraft(std::move(aircraft))
{
}

ImportTask::~ImportTask()
{
    if (m_thread) {
        m_stop = true;
        m_thread->wait();
        delete m_thread;
    }
}

void ImportTask::start()
{
    if (m_thread)
        return;
    m_thread = QThread::create([this] { run(); });
    // The end is said on the starter's thread once the import's thread is done with the outcome.
    connect(m_thread, &QThread::finished, this, [this] {
        m_ended = true;
        emit finished();
    });
    m_thread->start(QThread::LowPriority);
}

void ImportTask::stop()
{
    m_stop = true;
}

void ImportTask::run()
{
    Outcome &out = m_outcome;
    try {
        FlightLibrary library(m_location);
        const QStringList files = FlightLibrary::CollectFiles(m_paths);
        emit progress(0, int(files.size()));
        qint64 total = 0;
        for (const QString &file : files)
            total += std::max<qint64>(QFileInfo(file).size(), 0);
        library.setReadProgress([this, total](qint64 bytes) {
            const qint64 read = m_read += bytes;
            const int hundredths = total > 0 ? int(std::min<qint64>(read * 100 / total, 100)) : 100;
            int said = m_hundredths;
            while (hundredths > said)
                if (m_hundredths.compare_exchange_weak(said, hundredths)) {
                    emit bytesRead(read, total);
                    break;
                }
        });
        int done = 0;
        library.importFiles(
            files, m_aircraft,
            [&](const ImportResult &r) {
                if (r.outcome == ImportResult::Added)
                    ++out.added;
                else if (r.outcome == ImportResult::Known)
                    ++out.known;
                else
                    out.skipped.push_back(r);
                emit progress(++done, int(files.size()));
                return true;
            },
            [this] { return bool(m_stop); });
    } catch (const LibraryError &e) {
        out.error = e.message();
    } catch (const std::exception &e) {
        out.error = QString::fromLocal8Bit(e.what());
    }
    out.stopped = m_stop;
}

} // namespace korvel
