#pragma once
// Where this PC's flight library is: a folder on this PC, or a library on a PostgreSQL server
// shared by a fleet, named by its URI. Test connects and says what it found before anything is
// kept; OK keeps the location without its password (that belongs in ~/.pgpass or the service
// file), Cancel keeps what was there.

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

namespace korvel {

// A library's name as the window's caption gives it: the folder, or "server HOST:PORT/DBNAME".
// Never a password.
QString LibraryCaptionName(const QString &location);

class LibraryLocationDialog : public QDialog {
    Q_OBJECT
public:
    // current: the location in use (a folder or a URI without its password).
    explicit LibraryLocationDialog(const QString &current, QWidget *parent = nullptr);

    // What was chosen: a folder made absolute, or a URI as typed (its password still in it: the
    // caller keeps it without). Empty: the default folder.
    QString location() const;
    // Looks at the location typed, away from the window's thread; tested() tells what it found.
    void test();
    bool testing() const { return m_busy; }

signals:
    void tested(const QString &result);

public slots:
    void accept() override;

private:
    void browse();
    void typed();
    void showResult(const QString &result);
    void fitHeight();

    QLineEdit *m_edit = nullptr;
    QPushButton *m_test = nullptr;
    QLabel *m_result = nullptr;
    QLabel *m_passwordNote = nullptr;
    bool m_busy = false;
    QString m_testedText;
};

} // namespace korvel
