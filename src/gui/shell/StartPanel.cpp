#include "gui/shell/StartPanel.h"

#include "core/flight/TimeText.h"
#include "core/library/FlightLibrary.h"
#include "core/library/LibraryPlace.h"

#include <QAction>
#include <QDateTime>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace korvel {

namespace {

// The latest flight of the library in folder (or on a server); none when there is no library there,
// it is empty or it cannot be read (the library window says why when it is opened). Only a library
// that is there is opened: opening one where there is none would make one. A server's flight is
// fetched only when it is opened, not each time the panel shows.
std::optional<StartPanel::LastFlight> ReadLastFlight(const QString &folder)
{
    const bool server = LibraryPlace(folder).isServer();
    const QFileInfo catalogue(QDir(folder).filePath(QStringLiteral("library.sqlite")));
    if (!server && (!catalogue.isFile() || catalogue.size() == 0))
        return std::nullopt;
    try {
        FlightLibrary library(folder, FlightLibrary::Opening::Existing);
        const std::vector<LibraryFlight> flights = library.list();
        if (flights.empty())
            return std::nullopt;
        const LibraryFlight &last = flights.back();
        const std::optional<QString> copy = server ? std::optional(QString()) : library.copyPath(last.id);
        if (!copy)
            return std::nullopt;
        return StartPanel::LastFlight{last.id, *copy, last.source, last.aircraft,
                                      StartPanel::FlightText(last.first, last.durationSeconds, last.source)};
    } catch (...) {
        return std::nullopt;
    }
}

QLabel *Note(const QString &text, QWidget *parent)
{
    auto *label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    // Quieter than the buttons beside it: the text's colour a third of the way to the card's.
    QPalette palette = label->palette();
    const QColor ink = palette.color(QPalette::WindowText), card = palette.color(QPalette::Base);
    palette.setColor(QPalette::WindowText,
                     QColor((ink.red() * 2 + card.red()) / 3, (ink.green() * 2 + card.green()) / 3,
                            (ink.blue() * 2 + card.blue()) / 3));
    label->setPalette(palette);
    return label;
}

} // namespace

QString StartPanel::FlightText(const QString &first, std::optional<qint64> durationSeconds, const QString &source)
{
    // A narrow panel wraps between the parts, never inside a date or a length.
    const QChar glue(0x00A0);
    const QDateTime start = QDateTime::fromString(first, Qt::ISODate);
    QString text = first;
    if (start.isValid())
        text = QLocale::c().toString(start.date(), QStringLiteral("dddd d MMMM yyyy")).replace(QLatin1Char(' '), glue) +
               QStringLiteral(", ") + start.time().toString(QStringLiteral("HH:mm"));
    if (durationSeconds && *durationSeconds >= 0)
        text += QStringLiteral(", ") + DurationText(*durationSeconds);
    const QString name = QFileInfo(source).fileName();
    if (!name.isEmpty())
        text += QStringLiteral("\n") + name;
    return text;
}

StartPanel::StartPanel(const Roads &roads, const QString &libraryFolder, QWidget *parent)
    : QScrollArea(parent), m_roads(roads), m_folder(libraryFolder)
{
    setObjectName(QStringLiteral("startPanel"));
    // The work area's own background shows around the card.
    setFrameShape(QFrame::NoFrame);
    setWidgetResizable(true);
    viewport()->setAutoFillBackground(false);
}

// The card is made once the empty work area has been painted: the main window is on the screen
// as soon as it was without the panel, and the card follows a moment later.
bool StartPanel::viewportEvent(QEvent *event)
{
    if (event->type() == QEvent::Paint && !m_built) {
        m_built = true;
        QTimer::singleShot(0, this, &StartPanel::build);
    }
    return QScrollArea::viewportEvent(event);
}

void StartPanel::build()
{
    const Roads &roads = m_roads;
    auto *page = new QWidget;

    m_card = new QFrame(page);
    m_card->setObjectName(QStringLiteral("startCard"));
    m_card->setFrameShape(QFrame::StyledPanel);
    m_card->setAutoFillBackground(true);
    m_card->setBackgroundRole(QPalette::Base);
    m_card->setMaximumWidth(640);
    m_card->installEventFilter(this);

    auto *heading = new QLabel(QStringLiteral("Where to start"), m_card);
    heading->setObjectName(QStringLiteral("startHeading"));
    QFont big = heading->font();
    big.setPointSizeF(big.pointSizeF() * 1.4);
    big.setBold(true);
    heading->setFont(big);

    struct Road {
        const char *name;
        QString text;
        const char *icon;
        QString what;
        QAction *action;
    };
    const Road list[] = {
        {"startDownload", QStringLiteral("Download a flight"), "plane-download",
         QStringLiteral("Receive a recorded flight from the instrument over the serial line."), roads.download},
        {"startOpenFile", QStringLiteral("Open a flight file"), "disk-load",
         QStringLiteral("Load a flight saved before, then look at it under Graph Data or in the Analysis View."),
         roads.openFile},
        {"startLibrary", QStringLiteral("Flight Library"), "library",
         QStringLiteral("Every flight kept so far: find one by date, follow a figure from flight to flight."),
         roads.library},
        {"startProgram", QStringLiteral("Program the instrument"), "program-os",
         QStringLiteral("Send new firmware to the instrument."), roads.program},
    };
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(16);
    grid->setVerticalSpacing(10);
    grid->setColumnStretch(1, 1);
    int row = 0;
    for (const Road &road : list) {
        auto *button = new QPushButton(QIcon(QStringLiteral(":/shell/icons/%1.svg").arg(QLatin1String(road.icon))),
                                       road.text, m_card);
        button->setObjectName(QLatin1String(road.name));
        button->setIconSize(QSize(24, 24));
        button->setMinimumHeight(36);
        button->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
        // The menu's own command, so the button does exactly what the menu item does.
        if (QAction *action = road.action)
            connect(button, &QPushButton::clicked, action, &QAction::trigger);
        grid->addWidget(button, row, 0);
        grid->addWidget(Note(road.what, m_card), row, 1);
        ++row;
    }

    m_lastBox = new QFrame(m_card);
    m_lastBox->setObjectName(QStringLiteral("startLastBox"));
    m_lastBox->setFrameShape(QFrame::NoFrame);
    auto *lastHeading = new QLabel(QStringLiteral("Last flight in the library"), m_lastBox);
    QFont bold = lastHeading->font();
    bold.setBold(true);
    lastHeading->setFont(bold);
    m_lastText = new QLabel(m_lastBox);
    m_lastText->setObjectName(QStringLiteral("startLastFlight"));
    m_lastText->setTextFormat(Qt::PlainText);
    m_lastText->setWordWrap(true);
    m_openLast = new QPushButton(QStringLiteral("Open in the Analysis View"), m_lastBox);
    m_openLast->setObjectName(QStringLiteral("startOpenLast"));
    m_openLast->setMinimumHeight(36);
    connect(m_openLast, &QPushButton::clicked, this, [this] {
        if (m_last)
            emit lastFlightChosen(*m_last);
    });
    auto *rule = new QFrame(m_lastBox);
    rule->setFrameShape(QFrame::HLine);
    rule->setFrameShadow(QFrame::Sunken);
    auto *lastLayout = new QGridLayout(m_lastBox);
    lastLayout->setContentsMargins(0, 4, 0, 0);
    lastLayout->setHorizontalSpacing(16);
    lastLayout->addWidget(rule, 0, 0, 1, 2);
    lastLayout->addWidget(lastHeading, 1, 0, 1, 2);
    lastLayout->addWidget(m_lastText, 2, 0);
    lastLayout->addWidget(m_openLast, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
    lastLayout->setColumnStretch(0, 1);
    m_lastBox->hide();

    auto *cardLayout = new QVBoxLayout(m_card);
    cardLayout->setContentsMargins(24, 20, 24, 20);
    cardLayout->setSpacing(14);
    cardLayout->addWidget(heading);
    cardLayout->addLayout(grid);
    cardLayout->addWidget(m_lastBox);

    // The card in the middle of the work area; scrolled when the work area is smaller.
    auto *across = new QHBoxLayout;
    across->addStretch(1);
    across->addWidget(m_card, 6);
    across->addStretch(1);
    auto *down = new QVBoxLayout(page);
    down->setContentsMargins(12, 12, 12, 12);
    down->addStretch(1);
    down->addLayout(across);
    down->addStretch(2);
    setWidget(page);
    // The scroll area makes its page opaque; the work area's own background is to show through.
    page->setAutoFillBackground(false);
}

StartPanel::~StartPanel()
{
    if (m_reader) {
        m_reader->wait();
        delete m_reader;
    }
}

void StartPanel::readLibraryLater()
{
    m_readWanted = true;
    if (m_card)
        m_card->update();
}

void StartPanel::showEvent(QShowEvent *event)
{
    // Back after the last child window closed: the library may have changed meanwhile.
    m_readWanted = true;
    QScrollArea::showEvent(event);
}

bool StartPanel::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_card && event->type() == QEvent::Paint && m_readWanted) {
        m_readWanted = false;
        QTimer::singleShot(0, this, &StartPanel::startReading);
    }
    return QScrollArea::eventFilter(watched, event);
}

// The catalogue is opened on a thread of its own: a library busy with another program's import
// may keep it waiting, and the window must not wait with it.
void StartPanel::startReading()
{
    if (m_reader) {
        m_readAgain = true;
        return;
    }
    m_reader = QThread::create([this, folder = m_folder] {
        std::optional<LastFlight> last = ReadLastFlight(folder);
        QMetaObject::invokeMethod(
            this, [this, last] { showLast(last); }, Qt::QueuedConnection);
    });
    m_reader->start();
}

void StartPanel::showLast(const std::optional<LastFlight> &last)
{
    if (m_reader) {
        m_reader->wait();
        delete m_reader;
        m_reader = nullptr;
    }
    m_last = last;
    m_lastBox->setVisible(bool(last));
    m_lastText->setText(last ? last->text : QString());
    emit libraryRead();
    if (m_readAgain) {
        m_readAgain = false;
        startReading();
    }
}

} // namespace korvel
