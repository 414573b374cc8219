#include "operations/SyncCheck.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/Logging.h"
#include "link/modChecksums.h"
#include "link/modSDIFunctions.h"
#include "operations/PanelSynchronisation.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/MessageQueue.h"

#include <QPointer>

namespace {

// Errors are reported under the owner name the requests carry.
const QString kOwner = QStringLiteral("frmPanelSyncro");
const QString kRequestCrc = QStringLiteral("Request CRC");

// The CRC answer is valid when bytes 3 to 5 hold this marker.
constexpr std::uint8_t kCrcMarker[3] = {0xFF, 0xFF, 0xE0};

bool validCrcAnswer(const QByteArray &data)
{
    if (data.size() < 6)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (static_cast<std::uint8_t>(data.at(3 + i)) != kCrcMarker[i])
            return false;
    }
    return true;
}

// A session that is ending (the queue window unloading, an abort pending) takes no further step.
bool sessionGoesOn()
{
    const SessionState &state = sessionState();
    const MessageQueue *queue = state.messageQueue;
    return queue && !queue->isUnloading() && !(state.currentTransport && state.currentTransport->AbortPending());
}

} // namespace

SyncCheck::SyncCheck(QObject *parent)
    : QObject(parent)
{
    setObjectName(QStringLiteral("SyncCheck"));
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

SyncCheck::~SyncCheck()
{
    // Deleted with the queue at the end of a session: nothing is reported.
    if (m_registered)
        modGlobals::ForgetGUIDObject(szGUID());
}

std::int32_t SyncCheck::Display()
{
    return errors::guarded(kOwner, QStringLiteral("Display()"), [&] {
        const SessionState &state = sessionState();
        const std::shared_ptr<IControlType> transport = state.currentTransport;
        if (!transport)
            return;
        Presentation p;
        p.exclusiveShown = modRegistry::GetRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"),
                                                      QStringLiteral("AllowExclusive"))
                           == QLatin1String("1");
        const QString link = transport->Name();
        p.exclusiveEnabled = link == QLatin1String("Enhanced Direct") || link == QLatin1String("Network");
        p.compared = state.hostSettings && state.hostSettings->HostDataMode();
        emit displayRequested(p);
    });
}

void SyncCheck::ResponseReceived(clsMessage &msg)
{
    QPointer<SyncCheck> self(this);
    bool endSession = false;
    errors::guardedFatal(kOwner, QStringLiteral("ResponseReceived()"), endSession, [&] {
        if (msg.OwnerName() != Name())
            return;
        modGlobals::DebugPrint(QStringLiteral("Callback to ") + Name());
        if (m_unloaded)
            return;
        const QByteArray data = msg.dataBytes();
        if (data.isEmpty())
            raiseError(ErrorCode::SendRefused, QStringLiteral("empty answer to %1").arg(msg.Name()));
        if (msg.Name() == kRequestCrc)
            crcAnswer(data);
    });
    if (endSession) {
        modGlobals::Disconnect(false, 5);
        if (!self)
            return;
        m_state = StateDone; // the session is ending: the unload takes no further step
        unload();
    }
}

void SyncCheck::crcAnswer(const QByteArray &data)
{
    const bool unattended = sessionState().UnattendedFlag;
    if (!validCrcAnswer(data)) {
        if (unattended) {
            askAgain();
            return;
        }
        QPointer<SyncCheck> self(this);
        if (badAnswerNotice)
            badAnswerNotice();
        if (self)
            cancel();
        return;
    }
    bool allSame = false;
    const std::int32_t rc = modToolbox::CompareCRC(data, SyncList, allSame);
    if (rc != 0)
        raiseError(rc);
    if (allSame) {
        if (unattended) {
            if (m_mode == ReceivePanel)
                modGlobals::MakeCallback(QStringLiteral("RECV_END"), 0);
            else if (m_mode == SendPanel)
                modGlobals::MakeCallback(QStringLiteral("SEND_END"), 0);
        }
        cancel();
    } else if (unattended) {
        carryOut();
    } else {
        Display();
    }
}

void SyncCheck::askAgain()
{
    // A panel that keeps answering badly is not asked for ever: after as many tries as a request
    // has retries the check ends without a transfer.
    if (++m_badAnswers > sessionState().config.numOfNaks) {
        errors::report(ErrorCode::SendRefused, kOwner, QStringLiteral("ResponseReceived()"),
                       QStringLiteral("no valid CRC answer after %1 requests").arg(m_badAnswers));
        cancel();
        return;
    }
    if (modSDIFunctions::SDIRequestCRC(this, 5, false) != 0)
        raiseError(ErrorCode::SendRefused, QStringLiteral("the CRC request could not be queued"));
}

bool SyncCheck::carryOut()
{
    QPointer<SyncCheck> self(this);
    bool askedAgain = false;
    bool failed = false;
    errors::guardedFatal(kOwner, QStringLiteral("cmdOK_Click()"), failed, [&] {
        const Mode mode = m_mode;
        const bool exclusiveWanted = m_exclusiveRequested && !sessionState().UnattendedFlag;
        bool exclusive = false;
        if (exclusiveWanted && (mode == ReceivePanel || mode == SendPanel)) {
            const ExclusiveAnswer answer = exclusiveQuestion ? exclusiveQuestion() : ExclusiveAnswer::No;
            if (!self)
                return; // the session ended while the operator was asked
            if (answer == ExclusiveAnswer::Cancel) {
                askedAgain = true;
                return;
            }
            exclusive = answer == ExclusiveAnswer::Yes;
        }
        const std::int32_t rc = modToolbox::PerformPanelSyncronization(mode, SyncList, exclusive);
        if (rc != 0)
            raiseError(rc);
        if (!self)
            return;
        m_state = StateDone;
        unload();
    });
    if (failed)
        modGlobals::Disconnect(false, 5);
    return !askedAgain;
}

void SyncCheck::unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    errors::guarded(kOwner, QStringLiteral("Form_Unload()"), [&] {
        SessionState &state = sessionState();
        if (m_state == StateLoaded && state.hostSettings && sessionGoesOn()) {
            if (state.hostSettings->HostDataMode())
                modGlobals::ZelCommEvent(7, 0);
            else
                modGlobals::Disconnect(false, 5);
        }
        if (MessageQueue *queue = state.messageQueue)
            queue->AbortQueuedMsgOwnedBy(Name());
        if (m_registered) {
            modGlobals::ForgetGUIDObject(szGUID());
            m_registered = false;
        }
    });
    emit unloaded();
    deleteLater();
}
