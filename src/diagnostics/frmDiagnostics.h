// The diagnostics window of DiagStartup. It has no content of its own: displaying it shows nothing,
// so the host's diagnostics call only proves that the component answers.
#pragma once

#include <QWidget>

class frmDiagnostics : public QWidget
{
    Q_OBJECT
public:
    explicit frmDiagnostics(QWidget *parent = nullptr);
    // Shows nothing; returns 0.
    int Display();
};
