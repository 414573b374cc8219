#include "operations/OperationViews.h"

#include "operations/OperationWindows.h"
#include "operations/frmPanelSyncro.h"
#include "operations/frmWorkInProgress.h"

#include <QApplication>

namespace {

bool windowsPossible()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance()) != nullptr;
}

} // namespace

void installOperationViews()
{
    OperationWindows &views = operationWindows();
    // Top-level windows: each deletes itself when its engine unloads or goes.
    views.syncCheck = [](SyncCheck &check) {
        if (windowsPossible())
            new frmPanelSyncro(&check);
    };
    views.dataTransfer = [](DataTransfer &transfer) {
        if (windowsPossible())
            new frmWorkInProgress(&transfer);
    };
}
