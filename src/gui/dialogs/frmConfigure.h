#pragma once
// The configuration dialog "Configure": the serial port, the bootstrap-loader speed and the
// external text editor.

#include "gui/common/ChildWindow.h"
#include "gui/common/WindowContext.h"

class QLabel;
class QPushButton;
class QRadioButton;

namespace korvel {

class frmConfigure : public ChildWindow {
    Q_OBJECT
public:
    frmConfigure(WindowContext context, QWidget *parent = nullptr);

    QSize sizeHint() const override;

    void cmdOk_Click();
    void Command1_Click();
    void cmdSetFileName_Click();

private:
    WindowContext m_context;
    QRadioButton *m_opComm[6] = {};
    QRadioButton *m_opComRate[3] = {};
    QLabel *m_lblDefault = nullptr;
    int m_extraHeight = 0; // what the frames' titles add to the designed height
};

} // namespace korvel
