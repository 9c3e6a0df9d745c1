#include "capture/FrmCapture.h"

namespace korvel {

FrmCapture::FrmCapture(WindowContext context, QWidget *parent) : ChildWindow(parent)
{
    Q_UNUSED(context);
    setObjectName(QStringLiteral("FrmCapture"));
    setWindowTitle(QStringLiteral("Korvel Data Capture"));
}

} // namespace korvel
