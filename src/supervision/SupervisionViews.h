// The supervision windows (frmInactivityDisconnect, frmPanelEventWarning, frmDisconnect) in the
// engines' window entries (SupervisionWindows) and the system beep. Each window runs modally while
// its engine runs and is kept in SessionState meanwhile; in a process without a widget
// application the entries show nothing and the engines run alone.
#pragma once

void installSupervisionViews();
