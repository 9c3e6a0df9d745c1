// korvel: the window program. The splash first, then the main window; the program ends with
// the last window.
#include "dialogs/frmSplash.h"
#include "shell/AppState.h"
#include "shell/MainOstrel.h"
#include "shell/WidgetUi.h"

#include <QApplication>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(korvel::AppTitle());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/shell/icons/logo.svg")));

    korvel::AppState state;
    korvel::WidgetPrompter prompter;
    korvel::WidgetFileChooser files;

    {
        korvel::frmSplash splash;
        splash.exec();
    }

    auto *window = new korvel::MainOstrel(state, prompter, files);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->show();
    return app.exec();
}
