// "End Session": asks the operator whether to hang up the current connection, optionally resetting
// the panel. OK says goodbye to the panel (with a reset, the host hears "PANEL_RESET" first and the
// goodbye carries code 1); Cancel (also Escape and the close box) keeps the session, and an
// interactive host hears event 7 (the modal window is gone). The host's CommShutdown(false) shows it.
#pragma once

#include <QDialog>

#include <cstdint>

#include "core/GuidRegistry.h"

class QCheckBox;
class QLabel;
class QPushButton;

class frmDisconnect : public QDialog, public GuidObjectBase
{
    Q_OBJECT
public:
    explicit frmDisconnect(QWidget *parent = nullptr);
    ~frmDisconnect() override;

    QString Name() const { return QStringLiteral("frmDisconnect"); }

    // Announces the modal window to an interactive host (event 6), runs it, acts on the answer and
    // unloads. Returns 0 or the error number.
    std::int32_t Display();

    void cmdOK_Click();
    void cmdCancel_Click();
    // After Cancel in an interactive session: host event 7. Leaves the registry. Runs once.
    void Form_Unload();

    // 1 OK, 2 Cancel, 0 not answered yet.
    std::int16_t Answer() const { return m_answer; }

    QLabel *Image1 = nullptr;
    QLabel *Label1 = nullptr;
    QCheckBox *chkPanelReset = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void buildWindow();

    std::int16_t m_answer = 0;
    bool m_registered = false;
    bool m_unloaded = false;
};
