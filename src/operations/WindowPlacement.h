// Placement of the operation windows: centred on the screen when loaded, and shown on top of the
// host's windows without blocking it.
#pragma once

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace operations {

inline void centreOnScreen(QWidget *window)
{
    window->adjustSize();
    if (const QScreen *screen = QGuiApplication::primaryScreen())
        window->move(screen->availableGeometry().center() - window->rect().center());
}

// Shows the window (not modal), keeps it above other windows and brings it to the front.
inline void showOnTop(QWidget *window)
{
    window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    window->show();
    window->raise();
    window->activateWindow();
}

} // namespace operations
