// "Panel Sync": the window through which the operator (or an unattended job) decides what happens
// when the panel's programming and the host's copy differ: receive the panel's data into the host,
// send the host's data to the panel, or change nothing; optionally in the panel's exclusive mode on
// a network or enhanced direct link.
//
// The window is created hidden by the synchronisation check and owns the panel's CRC answer: it
// compares the CRCs with the host's data (SyncList marks the items that differ), and shows itself
// when something differs (an unattended session carries out the preselected option instead). OK
// runs the transfer (PerformPanelSyncronization); Cancel, or closing the window, ends the check
// without one, which ends the session on a local line.
//
// The window is a child window of the queue window, so it goes with the session.
#pragma once

#include <QList>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "core/GuidRegistry.h"

class QCheckBox;
class QCloseEvent;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class clsMessage;

class frmPanelSyncro : public QWidget, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    // Modes of a synchronisation.
    enum Mode : std::int16_t { NoUpdate = 0, ReceivePanel = 1, SendPanel = 2 };
    // State: 2 after loading, 1 once OK carried out a synchronisation.
    enum : std::int16_t { StateDone = 1, StateLoaded = 2 };

    // Builds the window (catalog captions, centred, hidden) and registers it in GuidRegistry.
    explicit frmPanelSyncro(QWidget *parent = nullptr);
    ~frmPanelSyncro() override;

    // The window's name: owner name of the messages it queues.
    QString Name() const { return QStringLiteral("frmPanelSyncro"); }

    // Prepares the window for the link (exclusive mode only on network and enhanced direct links,
    // and shown only when the "AllowExclusive" setting is "1") and shows it, on top, not modal.
    // Does nothing without a transport. Returns 0 or the error number.
    std::int32_t Display();
    // The panel's CRC answer.
    void ResponseReceived(clsMessage &msg) override;
    void cmdOK_Click();
    void cmdCancel_Click();
    // Ends the check: without a synchronisation (state 2) the host hears event 7, or on a local
    // line the session ends; the window's queued requests go. Runs once; the window then deletes
    // itself.
    void Form_Unload();

    // Changed items: one flag per item, true where the panel's CRC differs from the host's. Empty
    // until a CRC answer was compared (all items then count as changed).
    QList<bool> SyncList;
    std::int16_t state() const { return m_state; }
    bool isUnloaded() const { return m_unloaded; }

    // Controls (objectName = the name below).
    QPlainTextEdit *txtSyncMessage = nullptr;
    QRadioButton *optRecvPanel = nullptr;
    QRadioButton *optSendPanel = nullptr;
    QRadioButton *optNoUpdate = nullptr;
    QCheckBox *chkExclusive = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    // The CRC answer: compare, then finish, show or carry out the preselected option.
    void crcAnswer(const QByteArray &data);
    // Asks the panel for its CRCs again (unattended sessions, after a bad answer).
    void askAgain();

    std::int16_t m_state = StateLoaded;
    int m_badAnswers = 0;
    bool m_unloaded = false;
    bool m_registered = false;
};
