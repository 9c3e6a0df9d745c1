#pragma once
// Small pieces the windows build their controls and requests from.

#include "core/ui/UiInterfaces.h"

#include <QRect>
#include <QString>

class QLabel;
class QWidget;

namespace korvel {

// A plain-text label named and placed as designed.
QLabel *AddLabel(QWidget *parent, const QString &name, const QString &text, const QRect &place);

// A save dialog for a file the program writes (it asks before replacing one).
FileDialogRequest SaveFileRequest(const QString &title, const QString &filter, const QString &defaultExtension,
                                  const QString &initialFileName);

} // namespace korvel
