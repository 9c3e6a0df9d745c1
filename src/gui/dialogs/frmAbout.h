#pragma once
// The About box: title, version, description, and a way to the system-information viewer.

#include "core/ui/UiInterfaces.h"

#include <QDialog>
#include <QStringList>

class QPushButton;

namespace korvel {

// The room kept between a button's caption and each of its edges.
int CaptionMargin(const QPushButton *button);

class frmAbout : public QDialog {
    Q_OBJECT
public:
    explicit frmAbout(Prompter &prompter, QWidget *owner = nullptr);

    QSize sizeHint() const override;

    void cmdSysInfo_Click();
    void cmdOK_Click();

    // The system-information tools tried, in order, where the platform has no registry entry for
    // one. A test sets its own list.
    void setSystemInfoTools(const QStringList &programs) { m_systemInfoTools = programs; }

protected:
    void showEvent(QShowEvent *event) override;

private:
    bool startSystemInfo();

    Prompter &m_prompter;
    QStringList m_systemInfoTools;
};

} // namespace korvel
