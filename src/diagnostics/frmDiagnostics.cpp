#include "diagnostics/frmDiagnostics.h"

frmDiagnostics::frmDiagnostics(QWidget *parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("frmDiagnostics"));
}

int frmDiagnostics::Display()
{
    return 0;
}
