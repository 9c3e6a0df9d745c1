// korvel: the window program.
#include <QApplication>
#include <QMainWindow>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Korvel Engine Monitor"));
    window.show();
    return app.exec();
}
