#pragma once
// The window program's message boxes and file dialog.

#include "core/ui/UiInterfaces.h"

class QWidget;

namespace korvel {

class WidgetPrompter : public Prompter {
public:
    MessageAnswer showMessage(const QString &caption, const QString &text, MessageIcon icon,
                              MessageButtons buttons) override;
    MessageAnswer showMessage(const QString &caption, const QString &text, MessageIcon icon, MessageButtons buttons,
                              MessageAnswer defaultAnswer) override;
};

// An open dialog that also takes the name of a file that does not exist yet (a capture file is
// named before it is written). A typed name without an extension gets the default one.
class WidgetFileChooser : public FileChooser {
public:
    std::optional<QString> chooseFile(const FileDialogRequest &request) override;
};

} // namespace korvel
