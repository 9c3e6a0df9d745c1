// korvel: the window program.
#include "gui/common/WidgetUi.h"
#include "gui/shell/Main.h"

#include <QApplication>
#include <QIcon>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(korvel::AppTitle());
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/shell/icons/logo.svg")));
    // Ties the window to its menu entry (korvel.desktop), so the desktop shows the entry's name and icon.
    QApplication::setDesktopFileName(QStringLiteral("korvel"));

    korvel::AppState state;
    korvel::WidgetPrompter prompter;
    korvel::WidgetFileChooser files;
    korvel::Main(state, prompter, files);
    return app.exec();
}
