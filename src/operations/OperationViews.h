// Installs the operations' windows for the engines that ask for them (see OperationWindows.h).
#pragma once

// Puts the window makers into operationWindows(); they make a window only in an application that
// can show one (a QApplication).
void installOperationViews();
