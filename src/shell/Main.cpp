#include "shell/Main.h"

#include "dialogs/frmSplash.h"
#include "shell/MainOstrel.h"

namespace korvel {

MainOstrel *Main(AppState &state, Prompter &prompter, FileChooser &files, int splashMs)
{
    {
        frmSplash splash(splashMs);
        splash.exec();
    }
    auto *window = new MainOstrel(state, prompter, files);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

} // namespace korvel
