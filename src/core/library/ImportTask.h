#pragma once
// An import run on a thread of its own with a connection of its own to the library, so that the
// window which started it stays usable through a large folder. It says how far it is as it goes and
// that it has ended once; asked to stop, it ends after the flight in hand is committed. The window
// only starts it and shows its events.

#include "core/library/FlightLibrary.h"

#include <QObject>
#include <QThread>

#include <atomic>
#include <optional>

namespace korvel {

class ImportTask : public QObject {
    Q_OBJECT
public:
    // What the import did, read once finished() has come.
    struct Outcome {
        int added = 0;
        int known = 0;
        std::vector<ImportResult> skipped; // each with its reason
        QString error;                     // why it ended early, when the library failed
        bool stopped = false;              // stop() ended it
    };

    // Imports the files named, and every file under the folders named, into the library at
    // location; the flights it adds belong to aircraft (a checked registration) when one is given.
    ImportTask(QString location, QStringList paths, std::optional<QString> aircraft, QObject *parent = nullptr);
    // Stops the import and waits for it: the library is left whole.
    ~ImportTask() override;

    void start();
    void stop();
    bool running() const { return m_thread && !m_ended; }
    const Outcome &outcome() const { return m_outcome; }

signals:
    // Files taken so far of all the files found.
    void progress(int done, int total);
    // Bytes read so far of all the files' bytes, said at every hundredth of them (a single large
    // file is not "0 of 1" until it is in).
    void bytesRead(qint64 read, qint64 total);
    void finished();

private:
    void run();

    QString m_location;
    QStringList m_paths;
    std::optional<QString> m_aircraft;
    QThread *m_thread = nullptr;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_ended{false};
    std::atomic<qint64> m_read{0};
    std::atomic<int> m_hundredths{0}; // of the bytes read, as last said
    Outcome m_outcome; // written by the import's thread until it has ended
};

} // namespace korvel
