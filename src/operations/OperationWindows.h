// The windows the operation engines ask for: the "Panel Sync" window of a synchronisation check
// and the transfer window of a data transfer. The operations' views library puts its entries in
// (installOperationViews, when the application can show windows); without them the engines run
// alone, as they always do in an unattended session.
#pragma once

#include <functional>

class DataTransfer;
class SyncCheck;

struct OperationWindows
{
    // Each makes the window of the engine; the window goes with the engine.
    std::function<void(SyncCheck &check)> syncCheck;
    std::function<void(DataTransfer &transfer)> dataTransfer;
};

// The entries in use (empty until installed).
OperationWindows &operationWindows();

// Gives the engine its window, unless the session is unattended or no window is installed.
void attachWindow(SyncCheck &check);
void attachWindow(DataTransfer &transfer);
