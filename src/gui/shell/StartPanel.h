#pragma once
// What the empty work area shows: where to start. The four roads as buttons, each running the main
// window's own command for it, and the library's last flight with a button to open it. It lies
// beneath the child windows and is shown only while none is open.

#include <QScrollArea>
#include <QString>

#include <optional>

class QAction;
class QFrame;
class QLabel;
class QPushButton;
class QThread;

namespace korvel {

class StartPanel : public QScrollArea {
    Q_OBJECT
public:
    struct Roads {
        QAction *download = nullptr;
        QAction *openFile = nullptr;
        QAction *library = nullptr;
        QAction *program = nullptr;
    };
    // libraryFolder: the library the last flight is read from (a folder or a server's URI).
    StartPanel(const Roads &roads, const QString &libraryFolder, QWidget *parent = nullptr);
    ~StartPanel() override;

    // The library's latest flight, as last read: its copy and when it began.
    struct LastFlight {
        qint64 id = 0;
        QString copy;   // empty for a library on a server: fetched by id when opened
        QString source; // the file it was imported from
        std::optional<QString> aircraft;
        QString text; // what the panel says of it
    };
    const std::optional<LastFlight> &lastFlight() const { return m_last; }
    // The library the last flight is read from: a folder or a server's URI.
    QString libraryFolder() const { return m_folder; }
    void setLibraryFolder(const QString &folder) { m_folder = folder; }

    // Reads the library again once the panel has been painted (so the work area is on the screen
    // before the catalogue is opened), away from the window's thread. The panel's buttons are
    // there from the turn of the event loop after the work area's first paint.
    void readLibraryLater();

    // The text for a flight: its date and time of day, its length and the file it came from.
    static QString FlightText(const QString &first, std::optional<qint64> durationSeconds, const QString &source);

signals:
    // The last flight's button: open this flight's copy.
    void lastFlightChosen(const korvel::StartPanel::LastFlight &flight);
    // A reading of the library has ended (with or without a flight).
    void libraryRead();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool viewportEvent(QEvent *event) override;

private:
    void build();
    void startReading();
    void showLast(const std::optional<LastFlight> &last);

    Roads m_roads;
    QString m_folder;
    bool m_built = false;
    QFrame *m_card = nullptr;
    QFrame *m_lastBox = nullptr;
    QLabel *m_lastText = nullptr;
    QPushButton *m_openLast = nullptr;
    std::optional<LastFlight> m_last;
    bool m_readWanted = true;
    bool m_readAgain = false;
    QThread *m_reader = nullptr;
};

} // namespace korvel
