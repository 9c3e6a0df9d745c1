#pragma once
// Window layout is designed in twips, 1440 to the logical inch (15 to a pixel at 96 dpi). Every
// place and size goes through here once, so the windows scale with the screen's logical dpi.

#include <QGuiApplication>
#include <QMdiSubWindow>
#include <QRect>
#include <QScreen>
#include <QSize>
#include <QWidget>

#include <cmath>

namespace korvel {

inline constexpr double TwipsPerInch = 1440.0;

inline double LogicalDpi()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? screen->logicalDotsPerInch() : 96.0;
}

inline int Twips(int twips)
{
    return int(std::lround(twips * LogicalDpi() / TwipsPerInch));
}

inline QSize TwipsSize(int width, int height)
{
    return {Twips(width), Twips(height)};
}

inline QRect TwipsRect(int left, int top, int width, int height)
{
    return {Twips(left), Twips(top), Twips(width), Twips(height)};
}

// A window's outer size (frame included), as a window's load sets it: a child of the main window
// sizes the sub-window that frames it.
inline void SetOuterSize(QWidget *window, int widthTwips, int heightTwips)
{
    QWidget *outer = window;
    if (auto *frame = qobject_cast<QMdiSubWindow *>(window->parentWidget()))
        outer = frame;
    outer->resize(TwipsSize(widthTwips, heightTwips));
}

} // namespace korvel
