#include "gui/shell/Main.h"

#include "gui/dialogs/frmSplash.h"
#include "gui/shell/MainOstrel.h"

#include <QEventLoop>

namespace korvel {

MainOstrel *Main(AppState &state, Prompter &prompter, FileChooser &files, int splashMs)
{
    {
        // Not exec(): showing a window runs events, so the splash can already be gone (its time up,
        // a key pressed early) when show() returns, and exec() would then wait for ever on a
        // window nobody can see.
        frmSplash splash(splashMs);
        QEventLoop wait;
        QObject::connect(&splash, &QDialog::finished, &wait, &QEventLoop::quit);
        splash.setWindowModality(Qt::ApplicationModal);
        splash.show();
        if (splash.isVisible())
            wait.exec(QEventLoop::DialogExec);
    }
    // A library server that does not answer holds a window at most this long, unless the
    // library's URI or the owner's environment says otherwise (the system's own wait for a
    // connection can run to minutes).
    if (!qEnvironmentVariableIsSet("PGCONNECT_TIMEOUT"))
        qputenv("PGCONNECT_TIMEOUT", "10");
    auto *window = new MainOstrel(state, prompter, files);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return window;
}

} // namespace korvel
