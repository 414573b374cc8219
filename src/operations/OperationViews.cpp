#include "operations/OperationViews.h"

#include "core/SessionState.h"

OperationViews &operationViews()
{
    static OperationViews views;
    return views;
}

void attachWindow(SyncCheck &check)
{
    if (!sessionState().UnattendedFlag && operationViews().syncCheck)
        operationViews().syncCheck(check);
}

void attachWindow(DataTransfer &transfer)
{
    if (!sessionState().UnattendedFlag && operationViews().dataTransfer)
        operationViews().dataTransfer(transfer);
}
