// "WARNING: A Panel Event has occurred!": opened when a keep-alive answer reports a new panel event
// value. It beeps, counts down "EventWarningTimeout" seconds and offers three choices: continue and
// show the new events (answer 0), continue and ignore further new events (2), hang up now (1). No
// answer in time, the close box and Escape hang up. While it is up, a newer value only refreshes
// the (hidden) level boxes. The synchronisation and transfer windows, when showing, are hidden while
// the warning is up (minimised) and shown again after it, unless they unloaded meanwhile.
//
// The caller owns the window; Display unloads it but does not delete it.
#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>

#include <cstdint>

#include "core/GuidRegistry.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QToolButton;
class QTimer;

class frmPanelEventWarning : public QDialog, public GuidObjectBase
{
    Q_OBJECT
public:
    explicit frmPanelEventWarning(QWidget *parent = nullptr);
    ~frmPanelEventWarning() override;

    QString Name() const { return QStringLiteral("frmPanelEventWarning"); }

    // Beeps, shows the levels of `newEventsPkt`, counts down and runs the window modally. The
    // operator's choice is UsersChoice() afterwards. Returns 0 or the error number.
    std::int32_t Display(std::int32_t newEventsPkt);
    // Shows the levels of a newer value in the open window.
    void UpdatePanelEventForm(std::int32_t newEventsPkt);

    void cmdContinue_Click();
    void cmdIgnore_Click();
    void cmdHangUp_Click();
    void tmrCountDown_Timer();
    // Clears PanelEventWarningShown; without an answer the choice becomes 1 (hang up). Runs once.
    void Form_Unload();

    // 0 continue and show, 1 hang up, 2 continue and ignore further events.
    std::int16_t UsersChoice() const { return m_choice; }
    bool Answered() const { return m_answered; }

    QGroupBox *fraChoices = nullptr;
    QToolButton *cmdContinue = nullptr;
    QLabel *lblContinue = nullptr;
    QToolButton *cmdIgnore = nullptr;
    QLabel *lblIgnore = nullptr;
    QToolButton *cmdHangUp = nullptr;
    QLabel *lblHangUp = nullptr;
    QLabel *lblMessage = nullptr;
    QProgressBar *pbCountDown = nullptr;
    QLabel *lblMinSec = nullptr;
    QLabel *lblMaxSec = nullptr;
    QTimer *tmrCountDown = nullptr;
    QGroupBox *fraLevels = nullptr;
    QGroupBox *fraNewEvents = nullptr;
    QList<QCheckBox *> chkNewEventLevel; // indexes 0..7: levels 1..8

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void answer(std::int16_t choice);
    // Real milliseconds left until the deadline.
    qint64 remainingMs() const;

    std::int16_t m_choice = 1;
    bool m_answered = false;
    std::int16_t m_tick = 0;
    qint64 m_deadlineMs = 0; // monotonic
    bool m_registered = false;
    bool m_unloaded = false;
};
