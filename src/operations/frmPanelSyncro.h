// "Panel Sync": the window through which the operator decides what happens when the panel's
// programming and the host's copy differ: receive the panel's data into the host, send the host's
// data to the panel, or change nothing; optionally in the panel's exclusive mode on a network or
// enhanced direct link.
//
// The window shows a SyncCheck: it appears when the check asks for the operator, keeps the check's
// mode and exclusive wish in step with its controls, and asks the operator the check's questions
// (a bad CRC answer, exclusive mode). OK carries out the choice; Cancel, or closing the window, ends
// the check without one, which ends the session on a local line. The window goes with its check.
#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <cstdint>

#include "operations/SyncCheck.h"

class QCheckBox;
class QCloseEvent;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

class frmPanelSyncro : public QWidget
{
    Q_OBJECT
public:
    // Builds the window (catalog captions, centred, hidden) for `check`, and supplies the check's
    // questions to the operator.
    explicit frmPanelSyncro(SyncCheck *check, QWidget *parent = nullptr);
    ~frmPanelSyncro() override;

    // The owner name of the check's requests.
    QString Name() const { return QStringLiteral("frmPanelSyncro"); }
    // The check the window shows; null once it went.
    SyncCheck *check() const { return m_check; }

    // Prepares the window for the link (exclusive mode only on network and enhanced direct links,
    // and shown only when the "AllowExclusive" setting is "1") and shows it, on top, not modal.
    // Does nothing without a transport. Returns 0 or the error number.
    std::int32_t Display();
    void cmdOK_Click();
    void cmdCancel_Click();
    // Ends the check (see SyncCheck::unload); the window then goes.
    void Form_Unload();

    // True once the check unloaded or went.
    bool isUnloaded() const { return !m_check || m_check->isUnloaded(); }

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
    // The choice the controls show, as the check takes it.
    void choiceChanged();
    void present(const SyncCheck::Presentation &presentation);
    // The check unloaded or went: the window goes too.
    void checkEnded();

    QPointer<SyncCheck> m_check;
};
