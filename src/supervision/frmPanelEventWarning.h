// "WARNING: A Panel Event has occurred!": the window of the panel event warning (EventWarning). It
// shows the count-down and the three choices: continue and show the new events, continue and
// ignore further new events, hang up now; a click on a choice's label answers as its button. The
// levels of the newest value are kept up to date in a frame that is not shown. The window hides
// when the warning ends; the close box and Escape end it without an answer (hang up).
#pragma once

#include <QDialog>
#include <QList>
#include <QPointer>

#include <cstdint>

#include "supervision/EventWarning.h"

class QCheckBox;
class QGroupBox;
class QLabel;
class QProgressBar;
class QToolButton;

class frmPanelEventWarning : public QDialog
{
    Q_OBJECT
public:
    // Shows `warning`'s levels and count-down as they stand and follows them; with no warning the
    // window only shows itself (its buttons hide it).
    explicit frmPanelEventWarning(EventWarning *warning, QWidget *parent = nullptr);
    ~frmPanelEventWarning() override;

    QString Name() const { return QStringLiteral("frmPanelEventWarning"); }
    EventWarning *warning() const { return m_warning; }

    // Ticks the level boxes of `newEventsPkt`.
    void UpdatePanelEventForm(std::int32_t newEventsPkt);

    void cmdContinue_Click();
    void cmdIgnore_Click();
    void cmdHangUp_Click();

    // The top-level windows of the component that the warning minimises while it is up (found by
    // name so that this folder needs none of their classes).
    static QList<QWidget *> windowsToHideUnderWarning();

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
    QGroupBox *fraLevels = nullptr;
    QGroupBox *fraNewEvents = nullptr;
    QList<QCheckBox *> chkNewEventLevel; // indexes 0..7: levels 1..8

protected:
    void closeEvent(QCloseEvent *event) override;
    void reject() override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildWindow();
    void showLength(int seconds);

    QPointer<EventWarning> m_warning;
};
