#include "operations/OperationWindows.h"

#include "core/SessionState.h"

OperationWindows &operationWindows()
{
    static OperationWindows views;
    return views;
}

void attachWindow(SyncCheck &check)
{
    if (!sessionState().UnattendedFlag && operationWindows().syncCheck)
        operationWindows().syncCheck(check);
}

void attachWindow(DataTransfer &transfer)
{
    if (!sessionState().UnattendedFlag && operationWindows().dataTransfer)
        operationWindows().dataTransfer(transfer);
}
