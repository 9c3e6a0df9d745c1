#pragma once
// The library window's day filter: "Flights from" one day to another. Choosing a day turns it on;
// until then it spans every flight kept, as the window tells it.

#include <QDate>
#include <QWidget>

#include <optional>
#include <utility>

class QCheckBox;
class QDateEdit;

namespace korvel {

class DateRangeFilter : public QWidget {
    Q_OBJECT
public:
    explicit DateRangeFilter(QWidget *parent = nullptr);

    // The days chosen, when the filter is on.
    std::optional<std::pair<QDate, QDate>> range() const;
    // Shows these days while the filter is off (it spans the flights kept), without turning it on.
    void spanWhileOff(const QDate &first, const QDate &last);

signals:
    void changed();

private:
    void dateChosen();

    QCheckBox *m_on = nullptr;
    QDateEdit *m_from = nullptr;
    QDateEdit *m_to = nullptr;
};

} // namespace korvel
