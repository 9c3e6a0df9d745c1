// korvel: the window program.
#include "gui/shell/Main.h"
#include "gui/common/WidgetUi.h"
#include "gui/dialogs/AppVersion.h"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstring>

namespace {

// --help and --version are answered before any window system is asked for, so they work where
// there is none (a terminal over ssh, a package's check).
bool AnsweredAtOnce(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0 || std::strcmp(argv[i], "-v") == 0) {
            std::printf("korvel %s\n", korvel::AppVersionText().toUtf8().constData());
            return true;
        }
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::printf("Usage: korvel [--help] [--version]\n"
                        "The Korvel Engine Monitor's window program: download, load, graph and analyse engine\n"
                        "data, keep flights in the flight library, and program the instrument.\n"
                        "The same work without windows: korvel-cli --help.\n\n"
                        "  -h, --help     print this and exit\n"
                        "  -v, --version  print the version and exit\n");
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (AnsweredAtOnce(argc, argv))
        return 0;
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
