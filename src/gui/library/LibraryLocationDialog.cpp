#include "gui/library/LibraryLocationDialog.h"

#include "core/library/FlightLibrary.h"
#include "core/library/LibraryPlace.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>

namespace korvel {

namespace {

QString AsSentence(QString text)
{
    text = text.trimmed();
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

// What a test of the location found, in words: the library's version and flights, or why not.
QString TestResult(const QString &location)
{
    if (!LibraryPlace(location).isServer() && !FlightLibrary::Exists(location))
        return QStringLiteral("There is no flight library in %1 yet; OK makes one there.")
            .arg(QDir::toNativeSeparators(location));
    const QString found = FlightLibrary::Describe(location);
    if (found.startsWith(QLatin1String("a flight library")))
        return AsSentence(QStringLiteral("Found ") + found);
    return AsSentence(found);
}

} // namespace

QString LibraryCaptionName(const QString &location)
{
    return LibraryPlace(location).caption();
}

LibraryLocationDialog::LibraryLocationDialog(const QString &current, QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("libraryLocationDialog"));
    setWindowTitle(QStringLiteral("Flight Library Location"));

    auto *question = new QLabel(QStringLiteral("Where is the flight library this PC uses? A folder on this PC, or "
                                               "a library on a PostgreSQL server that a fleet shares:"),
                                this);
    question->setWordWrap(true);
    m_edit = new QLineEdit(LibraryPlace(current).isServer() ? current : QDir::toNativeSeparators(current), this);
    m_edit->setObjectName(QStringLiteral("libraryLocationEdit"));
    m_edit->setPlaceholderText(QDir::toNativeSeparators(FlightLibrary::DefaultFolder()));
    m_edit->setMinimumWidth(420);
    auto *browse = new QPushButton(QStringLiteral("Browse..."), this);
    browse->setObjectName(QStringLiteral("browseLibraryButton"));
    browse->setToolTip(QStringLiteral("Choose a folder on this PC"));
    auto *hint = new QLabel(QStringLiteral("A server as postgresql://USER@HOST:PORT/DBNAME, with libpq's parameters "
                                           "after \"?\" if needed (sslmode=verify-full, connect_timeout=10, ...)."),
                            this);
    hint->setWordWrap(true);
    hint->setEnabled(false);
    m_passwordNote = new QLabel(QStringLiteral("The password is not kept: the library is opened without it, so keep "
                                               "it in ~/.pgpass or the service file."),
                                this);
    m_passwordNote->setObjectName(QStringLiteral("libraryPasswordNote"));
    m_passwordNote->setWordWrap(true);
    m_passwordNote->setVisible(false);
    m_test = new QPushButton(QStringLiteral("Test"), this);
    m_test->setObjectName(QStringLiteral("testLibraryButton"));
    m_test->setToolTip(QStringLiteral("Look at the library there and say what it holds; nothing is changed"));
    m_result = new QLabel(this);
    m_result->setObjectName(QStringLiteral("libraryTestResult"));
    m_result->setWordWrap(true);
    m_result->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_result->setTextFormat(Qt::PlainText);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);

    auto *where = new QHBoxLayout;
    where->addWidget(m_edit, 1);
    where->addWidget(browse);
    auto *testRow = new QHBoxLayout;
    testRow->addWidget(m_test, 0, Qt::AlignTop);
    testRow->addWidget(m_result, 1);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(question);
    layout->addLayout(where);
    layout->addWidget(hint);
    layout->addWidget(m_passwordNote);
    layout->addLayout(testRow);
    layout->addStretch();
    layout->addWidget(buttons);
    setMinimumWidth(600);
    resize(640, 0);

    connect(browse, &QPushButton::clicked, this, &LibraryLocationDialog::browse);
    connect(m_test, &QPushButton::clicked, this, &LibraryLocationDialog::test);
    connect(m_edit, &QLineEdit::textChanged, this, &LibraryLocationDialog::typed);
    connect(buttons, &QDialogButtonBox::accepted, this, &LibraryLocationDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    typed();
    fitHeight();
}

void LibraryLocationDialog::fitHeight()
{
    // The wrapped lines decide the height: the dialog grows with what a test says, never cutting
    // a reason off.
    QTimer::singleShot(0, this, [this] {
        const int needed = layout()->totalHeightForWidth(width());
        if (needed > height())
            resize(width(), needed);
    });
}

QString LibraryLocationDialog::location() const
{
    const QString text = m_edit->text().trimmed();
    if (text.isEmpty() || LibraryPlace(text).isServer())
        return text;
    return QDir(QDir::fromNativeSeparators(text)).absolutePath();
}

void LibraryLocationDialog::browse()
{
    const QString now = location();
    const QString start = now.isEmpty() || LibraryPlace(now).isServer() ? QDir::homePath() : now;
    const QString folder =
        QFileDialog::getExistingDirectory(this, QStringLiteral("The Flight Library's Folder"), start);
    if (folder.isEmpty())
        return;
    m_edit->setText(QDir::toNativeSeparators(folder));
}

void LibraryLocationDialog::typed()
{
    // What was found belongs to the text it was found for.
    if (!testing())
        m_result->clear();
    m_passwordNote->setVisible(LibraryPlace(m_edit->text().trimmed()).holdsPassword());
    fitHeight();
}

void LibraryLocationDialog::test()
{
    if (testing())
        return;
    const QString where = location().isEmpty() ? FlightLibrary::DefaultFolder() : location();
    m_test->setEnabled(false);
    m_result->setText(LibraryPlace(where).isServer()
                          ? QStringLiteral("Connecting to %1...").arg(LibraryCaptionName(where))
                          : QStringLiteral("Looking in %1...").arg(QDir::toNativeSeparators(where)));
    // A server that does not answer keeps the thread waiting (up to the URI's connect_timeout),
    // never the dialog; a dialog closed meanwhile is told nothing, and the thread goes as it ends.
    m_busy = true;
    m_testedText = m_edit->text();
    QPointer<LibraryLocationDialog> self(this);
    QThread *tester = QThread::create([self, where] {
        const QString result = TestResult(where);
        QMetaObject::invokeMethod(
            qApp,
            [self, result] {
                if (self)
                    self->showResult(result);
            },
            Qt::QueuedConnection);
    });
    connect(tester, &QThread::finished, tester, &QObject::deleteLater);
    tester->start();
}

void LibraryLocationDialog::showResult(const QString &result)
{
    m_busy = false;
    m_test->setEnabled(true);
    // Found for a location no longer typed: it would name the wrong library.
    m_result->setText(m_edit->text() == m_testedText ? result : QString());
    fitHeight();
    emit tested(result);
}

void LibraryLocationDialog::accept()
{
    const LibraryPlace chosen(location());
    if (!chosen.parses()) {
        m_result->setText(AsSentence(QStringLiteral("%1 is no PostgreSQL URI libpq would take (%2); write it as "
                                                    "postgresql://USER@HOST:PORT/DBNAME")
                                         .arg(chosen.shown(), chosen.problem())));
        fitHeight();
        return;
    }
    QDialog::accept();
}

} // namespace korvel
