#include "gui/library/AircraftDialog.h"

#include "core/settings/Settings.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace korvel {

std::optional<QString> LastAircraft()
{
    return FlightLibrary::CheckRegistration(LastImportAircraft()).text;
}

void KeepLastAircraft(const QString &registration)
{
    SetLastImportAircraft(registration);
}

QString RegistrationRefusal(const Registration &reg)
{
    QString text = reg.reason;
    if (!text.isEmpty())
        text[0] = text[0].toUpper();
    return text.endsWith(QLatin1Char('.')) ? text : text + QLatin1Char('.');
}

AircraftDialog::AircraftDialog(QWidget *parent, const QString &title, const QString &question,
                               const QStringList &offered, const std::optional<QString> &initial)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("dlgAircraft"));
    setWindowTitle(title);
    auto *text = new QLabel(question, this);
    text->setWordWrap(true);
    m_choice = new QComboBox(this);
    m_choice->setObjectName(QStringLiteral("cboAircraftChoice"));
    m_choice->setEditable(true);
    m_choice->setInsertPolicy(QComboBox::NoInsert);
    m_choice->addItems(offered);
    m_choice->addItem(QStringLiteral("(none)"));
    m_choice->setCurrentText(initial.value_or(QStringLiteral("(none)")));
    m_choice->setMinimumContentsLength(16);
    m_reason = new QLabel(this);
    m_reason->setObjectName(QStringLiteral("lblAircraftReason"));
    m_reason->setWordWrap(true);
    auto *hint = new QLabel(QStringLiteral("A registration such as N123AB or G-ABCD; (none) for no aircraft."), this);
    hint->setEnabled(false);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &AircraftDialog::check);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(text);
    layout->addWidget(m_choice);
    layout->addWidget(hint);
    layout->addWidget(m_reason);
    layout->addWidget(buttons);
}

void AircraftDialog::check()
{
    const QString typed = m_choice->currentText().trimmed();
    if (typed.isEmpty() || typed == QLatin1String("(none)")) {
        m_aircraft.reset();
        accept();
        return;
    }
    const Registration reg = FlightLibrary::CheckRegistration(typed);
    if (!reg) {
        m_reason->setText(RegistrationRefusal(reg));
        adjustSize();
        return;
    }
    m_aircraft = reg.text;
    accept();
}

} // namespace korvel
