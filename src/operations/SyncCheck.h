// The synchronisation check of a session, without a window: it owns the panel's CRC answer,
// compares the item CRCs with the host's data (SyncList marks the items that differ) and carries out
// the chosen mode: receive the panel's data into the host, send the host's data to the panel, or
// change nothing; optionally in the panel's exclusive mode on a network or enhanced direct link.
//
// The "Panel Sync" window (frmPanelSyncro) shows a check that needs the operator: it sets the mode
// and the exclusive wish from its controls and calls carryOut() on OK, cancel() on Cancel. An
// unattended job sets the mode beforehand; the check then carries it out as soon as the answer shows
// a difference, and asks nobody anything.
//
// A check that ends without a transfer (cancelled, all the same, a bad answer) tells the host event
// 7, or ends the session on a local line. Its requests are filed under the owner name
// "frmPanelSyncro", as the queue console shows them.
#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>

#include "core/GuidRegistry.h"

class clsMessage;

class SyncCheck : public QObject, public GuidObjectBase, public ResponseReceiver
{
    Q_OBJECT
public:
    // Modes of a synchronisation.
    enum Mode : std::int16_t { NoUpdate = 0, ReceivePanel = 1, SendPanel = 2 };
    // State: 2 while loaded, 1 once a synchronisation was carried out.
    enum : std::int16_t { StateDone = 1, StateLoaded = 2 };
    // The operator's answer to "run the transfer in exclusive mode?".
    enum class ExclusiveAnswer { Yes, No, Cancel };

    // What a window shows when the check asks for the operator.
    struct Presentation
    {
        bool exclusiveShown = false;   // the "AllowExclusive" setting is "1"
        bool exclusiveEnabled = false; // the link is "Network" or "Enhanced Direct"
        bool compared = false;         // HostDataMode: the CRCs were compared (else all items count)
    };

    // Registers in GuidRegistry.
    explicit SyncCheck(QObject *parent = nullptr);
    ~SyncCheck() override;

    // Owner name of the requests.
    QString Name() const { return QStringLiteral("frmPanelSyncro"); }

    // Inputs, read when the mode is carried out (unattended: when the answer comes).
    void setMode(Mode mode) { m_mode = mode; }
    Mode mode() const { return m_mode; }
    // The operator wants exclusive mode; never honoured in an unattended session.
    void setExclusiveRequested(bool on) { m_exclusiveRequested = on; }
    bool exclusiveRequested() const { return m_exclusiveRequested; }

    // Questions to the operator, supplied by the window. Without them the check takes the answers of
    // an unattended session: a bad CRC answer ends the check unannounced, and no exclusive mode.
    std::function<void()> badAnswerNotice;
    std::function<ExclusiveAnswer()> exclusiveQuestion;

    // Asks for the operator: emits displayRequested with what the link allows. Does nothing without
    // a transport. Returns 0 or the error number.
    std::int32_t Display();
    // The panel's CRC answer.
    void ResponseReceived(clsMessage &msg) override;
    // Carries out the mode (receive, send or nothing) over the items of SyncList, then unloads.
    // Returns false when the operator answered Cancel to the exclusive question: the check stays
    // and its window shows again. An error ends the session.
    bool carryOut();
    // Ends the check without a synchronisation.
    void cancel() { unload(); }
    // Without a synchronisation (state 2) the host hears event 7, or on a local line the session
    // ends; the queued requests go and the check leaves the registry. Runs once; then emits
    // unloaded() and deletes itself once control returns to the event loop.
    void unload();

    // Changed items: one flag per item, true where the panel's CRC differs from the host's. Empty
    // until a CRC answer was compared (all items then count as changed).
    QList<bool> SyncList;
    std::int16_t state() const { return m_state; }
    bool isUnloaded() const { return m_unloaded; }

signals:
    // The operator is to choose: the window shows itself, on top, not modal.
    void displayRequested(const SyncCheck::Presentation &presentation);
    void unloaded();

private:
    // The CRC answer: compare, then finish, ask or carry out the preset mode.
    void crcAnswer(const QByteArray &data);
    // Asks the panel for its CRCs again (unattended sessions, after a bad answer).
    void askAgain();

    Mode m_mode = NoUpdate; // nothing is overwritten unless a direction is chosen
    bool m_exclusiveRequested = false;
    std::int16_t m_state = StateLoaded;
    int m_badAnswers = 0;
    bool m_unloaded = false;
    bool m_registered = false;
};
