#include "supervision/SupervisionViews.h"

#include "core/SessionState.h"
#include "supervision/EventWarning.h"
#include "supervision/InactivityCountdown.h"
#include "supervision/SessionClosing.h"
#include "supervision/SupervisionWindows.h"
#include "supervision/frmDisconnect.h"
#include "supervision/frmInactivityDisconnect.h"
#include "supervision/frmPanelEventWarning.h"

#include <QApplication>
#include <QPointer>

namespace {

bool windowsPossible()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

bool runInactivityWindow(InactivityCountdown &prompt)
{
    if (!windowsPossible())
        return false;
    QPointer<frmInactivityDisconnect> window = new frmInactivityDisconnect(&prompt);
    sessionState().inactivityWindow = window.data();
    window->exec();
    // The window may have gone with the session meanwhile.
    if (window) {
        if (sessionState().inactivityWindow.data() == window)
            sessionState().inactivityWindow = nullptr;
        window->deleteLater();
    }
    return true;
}

bool runEventWarningWindow(EventWarning &warning)
{
    if (!windowsPossible())
        return false;
    QPointer<frmPanelEventWarning> window = new frmPanelEventWarning(&warning);
    sessionState().eventWarningWindow = window.data();
    // The synchronisation and transfer windows stay on top of everything: out of sight while the
    // warning is up. They are minimised rather than hidden, so that one that unloads itself
    // meanwhile (it hides itself) is not brought back afterwards.
    QList<QPointer<QWidget>> hidden;
    for (QWidget *other : frmPanelEventWarning::windowsToHideUnderWarning()) {
        hidden << QPointer<QWidget>(other);
        other->setWindowState(other->windowState() | Qt::WindowMinimized);
    }
    window->exec();
    for (const QPointer<QWidget> &other : hidden) {
        if (other && other->isVisible() && other->isMinimized())
            other->setWindowState(other->windowState() & ~Qt::WindowMinimized);
    }
    if (window) {
        if (sessionState().eventWarningWindow.data() == window)
            sessionState().eventWarningWindow = nullptr;
        window->deleteLater();
    }
    return true;
}

bool runEndSessionWindow(SessionClosing &closing)
{
    if (!windowsPossible())
        return false;
    frmDisconnect window(&closing);
    window.exec();
    return true;
}

} // namespace

void installSupervisionViews()
{
    SupervisionWindows &windows = supervisionWindows();
    windows.inactivityPrompt = runInactivityWindow;
    windows.eventWarning = runEventWarningWindow;
    windows.endSession = runEndSessionWindow;
    windows.beep = [] {
        if (windowsPossible())
            QApplication::beep();
    };
}
