// Installs the operations' windows for the engines that ask for them (see OperationViews.h).
#pragma once

// Puts the window makers into operationViews(); they make a window only in an application that
// can show one (a QApplication).
void installOperationWindows();
