#include "gui/library/DateRangeFilter.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QTimer>

namespace korvel {

namespace {

// A click into a date takes the whole year, month or day it hit, so that the digits typed next
// replace it: a full section takes no more digits, and a year could not be typed over.
class SectionOnClick : public QObject {
public:
    explicit SectionOnClick(QDateEdit *edit) : QObject(edit), m_edit(edit) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::MouseButtonRelease)
            QTimer::singleShot(0, m_edit, [edit = m_edit] { edit->setSelectedSection(edit->currentSection()); });
        return false;
    }

private:
    QDateEdit *m_edit;
};

} // namespace

DateRangeFilter::DateRangeFilter(QWidget *parent) : QWidget(parent)
{
    m_on = new QCheckBox(QStringLiteral("Flights from"), this);
    m_on->setObjectName(QStringLiteral("chkDateFilter"));
    m_from = new QDateEdit(QDate::currentDate().addYears(-1), this);
    m_from->setObjectName(QStringLiteral("dtFrom"));
    m_to = new QDateEdit(QDate::currentDate(), this);
    m_to->setObjectName(QStringLiteral("dtTo"));
    for (QDateEdit *edit : {m_from, m_to}) {
        edit->setCalendarPopup(true);
        edit->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        // A year typed digit by digit filters once it is whole, not at "2", "20" and "202".
        edit->setKeyboardTracking(false);
        edit->setDateRange(QDate(1900, 1, 1), QDate(9999, 12, 31));
        if (QLineEdit *line = edit->findChild<QLineEdit *>())
            line->installEventFilter(new SectionOnClick(edit));
        connect(edit, &QDateEdit::dateChanged, this, &DateRangeFilter::dateChosen);
    }
    connect(m_on, &QCheckBox::toggled, this, &DateRangeFilter::changed);
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_on);
    layout->addWidget(m_from);
    layout->addWidget(new QLabel(QStringLiteral("to"), this));
    layout->addWidget(m_to);
}

std::optional<std::pair<QDate, QDate>> DateRangeFilter::range() const
{
    return m_on->isChecked() ? std::optional(std::pair(m_from->date(), m_to->date())) : std::nullopt;
}

void DateRangeFilter::spanWhileOff(const QDate &first, const QDate &last)
{
    if (m_on->isChecked())
        return;
    const QSignalBlocker quietFrom(m_from), quietTo(m_to);
    m_from->setDate(first);
    m_to->setDate(last);
}

void DateRangeFilter::dateChosen()
{
    // Choosing a day means filtering by it.
    if (!m_on->isChecked())
        m_on->setChecked(true); // says changed
    else
        emit changed();
}

} // namespace korvel
