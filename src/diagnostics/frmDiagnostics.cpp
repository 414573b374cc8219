#include "diagnostics/frmDiagnostics.h"

frmDiagnostics::frmDiagnostics(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmDiagnostics"));
    setWindowTitle(QStringLiteral("Diagnostics "));
}

int frmDiagnostics::Display()
{
    return 0;
}
