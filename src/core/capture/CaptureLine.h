#pragma once
// The download road as the capture window and korvel-cli both drive it: the line set-up at load,
// the capture file's choice, every arrival through the capture protocol, and the unload.

#include "core/capture/CaptureSession.h"
#include "core/library/FlightLibrary.h"
#include "core/serial/SerialLine.h"
#include "core/ui/UiInterfaces.h"

#include <QDate>
#include <QObject>

#include <functional>
#include <optional>

namespace korvel {

class CaptureLine : public QObject {
    Q_OBJECT
public:
    CaptureLine(SerialLine &line, StatusLine &status, Prompter &prompter, QObject *parent = nullptr);
    ~CaptureLine() override;

    // The load: idle, the port ("COMMPORT" + 1 unless a device is given) opened at 19200,n,8,1,
    // "Connected ". A port that cannot be opened is reported in a message naming the device and
    // the reason, and the status reads "NOT Connected ". False then.
    bool load(const QString &device = QString());

    // Save As: asks for the capture file; a cancel changes nothing.
    void saveAs(FileChooser &files);
    // The capture file chosen: the capture is armed for it.
    void arm(const QString &fileName);

    // The receive handler: takes what arrived, shows it, and passes it to the protocol.
    void receive();

    // The unload: the capture file is closed and the line with it; "NOT Connected ".
    void unload();
    // Ends without the unload's status text (korvel-cli's last word after a complete record is
    // "Done").
    void closeQuietly();

    const CaptureSession &session() const { return m_session; }
    SerialLine &line() { return m_line; }

    // Where every flight the line carries is kept (the flight library's folder); empty keeps none.
    // A flight is kept whether or not a capture file was chosen, so none received is ever lost.
    void setLibraryFolder(const QString &folder) { m_libraryFolder = folder; }
    QString libraryFolder() const { return m_libraryFolder; }

    // A flight to file in the library.
    struct Filing {
        QString library; // the folder or server
        QByteArray bytes;
        QString source;
        std::optional<QString> aircraft; // this PC's
    };
    // Files a flight and tells filed() or filingFailed() how it went. Without one the flight is
    // filed at once on this thread (korvel-cli); the window hands it to the library's own thread,
    // so a library server that does not answer never holds the line.
    using Filer = std::function<void(const Filing &)>;
    void setFiler(Filer filer) { m_filer = std::move(filer); }
    // How a filing ended: the flight kept (or there already) is said with flightKept; a flight
    // skipped by the library is not.
    void filed(const ImportResult &result);
    void filingFailed(const QString &reason);

    // "Ostrel MM-DD-YYYY.txt" for the day the dialog opens.
    static QString SuggestedFileName(const QDate &day);

signals:
    // A chunk as it arrived, for the terminal area.
    void shown(const QByteArray &chunk);
    // A word of the program's own for the terminal area: a failed write, a lost line.
    void note(const QString &text);
    // The record ended ("Done").
    void recordDone();
    void lineLost(const QString &reason);
    // A flight was kept in the library (or was there already).
    void flightKept(qint64 id);

private:
    void keep(const QByteArray &chunk);
    void addToLibrary(const QByteArray &bytes, const QString &source);

    SerialLine &m_line;
    StatusLine &m_status;
    Prompter &m_prompter;
    CaptureSession m_session;
    bool m_unloaded = false;
    bool m_saidNotConnected = false; // "NOT Connected " is the status now

    // The flight keeper: the protocol's own rules for a FLIGHT record, always armed, beside the
    // capture file's session.
    QString m_libraryFolder;
    Filer m_filer;
    QString m_captureFile;
    bool m_keeping = false;
    QByteArray m_kept;
    QByteArray m_lastKept;
};

} // namespace korvel
