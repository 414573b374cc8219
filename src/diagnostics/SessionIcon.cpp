#include "diagnostics/SessionIcon.h"

#include "core/SessionState.h"

#include <QIcon>
#include <QWidget>

namespace modGlobals {

void ApplySessionIcon(QWidget *window)
{
    const QString icon = sessionState().config.icon;
    if (window && !icon.isEmpty())
        window->setWindowIcon(QIcon(icon));
}

} // namespace modGlobals
