// "Inactivity Disconnection": asked when a session has been idle for the configured time. It beeps,
// counts down "InactivityDisconnectTimeout" seconds on a progress bar (one step and one beep per
// second) and answers: 6 keep the session (Cancel, and the starting answer), 3 disconnect now, 7 the
// count-down ran out (the host then hears "PANEL_INACTIVITY"). The queue acts on the answer.
//
// The window is modal, stays on top and pulls itself to the front at every tick. A new panel event
// abandons it (DisplayPanelEventForm closes it): Display then returns 6 and the session goes on.
// The caller owns the window; Display unloads it but does not delete it.
#pragma once

#include <QDialog>

#include <cstdint>

#include "core/GuidRegistry.h"

class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

class frmInactivityDisconnect : public QDialog, public GuidObjectBase
{
    Q_OBJECT
public:
    explicit frmInactivityDisconnect(QWidget *parent = nullptr);
    ~frmInactivityDisconnect() override;

    QString Name() const { return QStringLiteral("frmInactivityDisconnect"); }

    // Beeps, counts down and runs the window modally; returns the answer (also in `answer`).
    std::int16_t Display(std::int16_t &answer);

    void cmdCancel_Click();
    void cmdDisconnectNow_Click();
    void tmrCountDown_Timer();
    // Stops the count-down, clears InactivityPromptShown and leaves the registry; runs once.
    void Form_Unload();

    std::int16_t Answer() const { return m_answer; }
    bool isUnloaded() const { return m_unloaded; }

    QLabel *lblMessage = nullptr;
    QProgressBar *pbCountDown = nullptr;
    QLabel *lblMinSec = nullptr;
    QLabel *lblMaxSec = nullptr;
    QPushButton *cmdDisconnectNow = nullptr;
    QPushButton *cmdCancel = nullptr;
    QTimer *tmrCountDown = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();

    std::int16_t m_answer = 6;
    std::int16_t m_tick = 0;
    bool m_registered = false;
    bool m_unloaded = false;
};
