// "Inactivity Disconnection": the window of the inactivity prompt (InactivityCountdown). It shows
// the count-down on a progress bar, stays on top and pulls itself to the front at every tick;
// Cancel keeps the session, Disconnect Now ends it. The window hides when the count-down ends;
// closing it ends the count-down without an answer.
#pragma once

#include <QDialog>
#include <QPointer>

#include <cstdint>

#include "supervision/InactivityCountdown.h"

class QLabel;
class QProgressBar;
class QPushButton;

class frmInactivityDisconnect : public QDialog
{
    Q_OBJECT
public:
    // Shows `prompt`'s count-down as it stands and follows it; with no prompt the window only
    // shows itself (its buttons hide it).
    explicit frmInactivityDisconnect(InactivityCountdown *prompt, QWidget *parent = nullptr);
    ~frmInactivityDisconnect() override;

    QString Name() const { return QStringLiteral("frmInactivityDisconnect"); }
    InactivityCountdown *prompt() const { return m_prompt; }

    void cmdCancel_Click();
    void cmdDisconnectNow_Click();

    QLabel *lblMessage = nullptr;
    QProgressBar *pbCountDown = nullptr;
    QLabel *lblMinSec = nullptr;
    QLabel *lblMaxSec = nullptr;
    QPushButton *cmdDisconnectNow = nullptr;
    QPushButton *cmdCancel = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void showLength(int seconds);
    void showRemaining(int seconds);

    QPointer<InactivityCountdown> m_prompt;
};
