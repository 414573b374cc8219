#include "operations/frmWorkInProgress.h"

#include "controls/AnimationStrip.h"
#include "controls/ButtonKeys.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/Logging.h"
#include "diagnostics/SessionIcon.h"
#include "link/clsPanelMsg.h"
#include "link/modExecFunctions.h"
#include "link/modToolbox.h"
#include "operations/WindowPlacement.h"
#include "platform/Paths.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/MessageQueue.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

const QString kForm = QStringLiteral("frmWorkInProgress");
const QString kExclusiveCommand = QStringLiteral("Exclusive Command");
const QString kRequestItemBlock = QStringLiteral("Request Item Block");
const QString kWriteItemBlock = QStringLiteral("Write Item Block");

constexpr int kBeeps = 5;
constexpr int kBeepPauseMs = 475;
constexpr int kFinalPauseMs = 2000;

// The panel's answer to an accepted block write echoes the command (14) in byte 2; a refusal
// carries result code 2 there.
constexpr std::uint8_t kWriteItemBlockCommand = 14;

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

std::int16_t percentOf(int part, int whole)
{
    return whole > 0 ? static_cast<std::int16_t>(part * 100 / whole) : 0;
}

} // namespace

frmWorkInProgress::frmWorkInProgress(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(kForm);
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    aniSync = new AnimationStrip(this);
    aniSync->setObjectName(QStringLiteral("aniSync"));
    lblDescription = new QLabel(this);
    lblDescription->setObjectName(QStringLiteral("lblDescription"));
    lblDescription->setMinimumWidth(320);
    ProgressBar1 = new QProgressBar(this);
    ProgressBar1->setObjectName(QStringLiteral("ProgressBar1"));
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    PBarHighRes = new QProgressBar(this);
    PBarHighRes->setObjectName(QStringLiteral("PBarHighRes"));
    PBarHighRes->setRange(0, 100);
    PBarHighRes->setValue(0);
    PBarHighRes->setTextVisible(false);
    PBarHighRes->setMaximumHeight(10);
    cmdAbort = new QPushButton(catalog(302), this);
    cmdAbort->setObjectName(QStringLiteral("cmdAbort"));
    cmdAbort->setAutoDefault(false);
    connect(cmdAbort, &QPushButton::clicked, this, [this] { cmdAbort_Click(); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(aniSync, 0, Qt::AlignHCenter);
    layout->addWidget(lblDescription);
    layout->addWidget(ProgressBar1);
    layout->addWidget(PBarHighRes);
    layout->addWidget(cmdAbort, 0, Qt::AlignHCenter);

    m_endTimer.setSingleShot(true);
    connect(&m_endTimer, &QTimer::timeout, this, [this] { endSequenceStep(); });

    operations::centreOnScreen(this);
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

frmWorkInProgress::~frmWorkInProgress()
{
    // Deleted with the queue window at the end of a session: nothing is reported, the registry
    // (emptied by the queue) loses the window if it still holds it.
    if (m_registered) {
        modGlobals::ForgetGUIDObject(szGUID());
    }
}

std::int32_t frmWorkInProgress::Display(std::int16_t direction, const QList<bool> &itemFlags, bool exclusive)
{
    return errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        m_direction = direction;
        m_itemFlags = itemFlags;
        m_lastItem = static_cast<std::int16_t>(std::max<qsizetype>(0, itemFlags.size() - 1));
        m_exclusive = exclusive;
        m_description = catalog(303);
        const SessionState &state = sessionState();
        if (state.UnattendedFlag)
            return;
        const bool receiving = direction == Receive;
        m_caption = catalog(receiving ? 304 : 305);
        aniSync->open(Paths::inFolder(state.config.tamselPath,
                                      receiving ? QStringLiteral("RtoL.avi") : QStringLiteral("LtoR.avi")));
        aniSync->play();
        operations::showOnTop(this);
        UpdateForm();
    });
}

std::int32_t frmWorkInProgress::UdpateProgress(std::int16_t percent, const std::optional<QString> &description)
{
    return errors::guarded(kForm, QStringLiteral("UdpateProgress()"), [&] {
        m_percent = percent;
        if (description)
            m_description = *description;
        UpdateForm();
    });
}

std::int32_t frmWorkInProgress::UpdateForm()
{
    return errors::guarded(kForm, QStringLiteral("UpdateForm()"), [&] {
        setWindowTitle(m_caption);
        lblDescription->setText(m_description);
        ProgressBar1->setValue(std::clamp<int>(m_percent, 0, 100));
        // The operator's events (Abort, painting) run; datagrams wait until the answer in hand is
        // done with.
        QCoreApplication::processEvents(QEventLoop::ExcludeSocketNotifiers);
    });
}

std::int32_t frmWorkInProgress::UpdateHighRes(std::int16_t percent)
{
    return errors::guarded(kForm, QStringLiteral("UpdateHighRes()"), [&] {
        PBarHighRes->setValue(std::clamp<int>(percent, 0, 100));
    });
}

void frmWorkInProgress::cmdAbort_Click()
{
    errors::guarded(kForm, QStringLiteral("cmdAbort_Click()"), [&] {
        if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport)
            transport->setAbortWorkInProgress(true);
        m_direction = Aborted;
        cmdAbort->setEnabled(false);
    });
}

void frmWorkInProgress::closeEvent(QCloseEvent *event)
{
    // Closing a transfer that is still running aborts it; the next answer closes the window.
    if (!m_unloaded && !m_finished) {
        event->ignore();
        if (m_direction != Aborted)
            cmdAbort_Click();
        return;
    }
    QWidget::closeEvent(event);
    Form_Unload();
}

bool frmWorkInProgress::countBlock(std::int16_t item)
{
    QVector<std::int16_t> itemOf, startOf, blockLen, table;
    modToolbox::GetItemMap(itemOf, startOf, blockLen, table);
    if (item < 0 || item >= table.size())
        raiseError(ErrorCode::SubscriptOutOfRange, QStringLiteral("answer for item %1").arg(item));
    State &s = TransferState;
    if (item != s.currentItem || s.blocksDone == 0) {
        s.blocksDone = 0;
        QString text = modGlobals::ReplaceVariable(catalog(307), QStringLiteral("CURRENT"), QString::number(item));
        text = modGlobals::ReplaceVariable(text, QStringLiteral("TOTAL"), QString::number(m_lastItem));
        UpdateHighRes(0);
        UdpateProgress(percentOf(item, m_lastItem), text);
    }
    if (s.blocksDone < table.at(item)) {
        ++s.blocksDone;
        UpdateHighRes(percentOf(s.blocksDone, table.at(item)));
    }
    if (s.blocksDone == table.at(item)) {
        // Items that take no part in the transfer count as complete.
        for (int k = item + 1; k <= m_lastItem && k < table.size() && !m_itemFlags.value(k); ++k) {
            item = static_cast<std::int16_t>(k);
            s.blocksDone = table.at(k);
        }
    }
    s.currentItem = item;
    return s.blocksDone == table.at(item) && item == m_lastItem;
}

void frmWorkInProgress::ResponseReceived(clsMessage &msg)
{
    bool endSession = false;
    errors::guardedFatal(kForm, QStringLiteral("ResponseReceived()"), endSession, [&] {
        if (msg.OwnerName() != Name())
            return;
        modGlobals::DebugPrint(QStringLiteral("Callback to ") + Name());
        if (m_unloaded)
            return;
        SessionState &state = sessionState();
        const std::shared_ptr<IControlType> transport = state.currentTransport;
        if (m_direction == Aborted) {
            // The operator aborted: the transfer stops here, without an end report.
            Form_Unload();
            return;
        }
        const QByteArray data = msg.dataBytes();
        if (data.isEmpty())
            raiseError(ErrorCode::SendRefused, QStringLiteral("empty answer to %1").arg(msg.Name()));
        MessageQueue *queue = state.messageQueue;
        const QString name = msg.Name();

        if (name == kExclusiveCommand) {
            if (!TransferState.exclusiveEntered) {
                if (queue) {
                    queue->setWorkerInterval(state.config.exclusivePollRate);
                    queue->setHeartbeatEnabled(false);
                    queue->setDiagRefreshEnabled(false);
                }
                TransferState.exclusiveEntered = true;
                return;
            }
            // The answer to the exclusive-off request ends the transfer.
            m_exclusiveLeft = true;
            m_finished = m_blocksComplete;
            if (queue)
                queue->setWorkerInterval(state.config.standardPollRate);
            if (state.UnattendedFlag) {
                Form_Unload();
                return;
            }
            if (queue) {
                queue->setHeartbeatEnabled(true);
                queue->setDiagRefreshEnabled(true);
            }
            startEndSequence();
            return;
        }
        if (name != kRequestItemBlock && name != kWriteItemBlock)
            return;

        // The request this answers: its parameter bytes (numbered from 1) hold the item and the
        // block's start record.
        const auto command = std::dynamic_pointer_cast<clsPanelMsg>(modGlobals::GetGUIDObject(msg.ClientGUID()));
        if (!command || command->MsgParams.size() < 3)
            raiseError(ErrorCode::ObjectRequired, QStringLiteral("no request for the %1 answer").arg(name));
        const auto item = static_cast<std::int16_t>(static_cast<std::uint8_t>(command->MsgParams.at(1)));
        const auto start = static_cast<std::int16_t>(static_cast<std::uint8_t>(command->MsgParams.at(2)));
        if (m_direction == Receive) {
            const std::int32_t rc = modToolbox::InsertResponse(data, item, start);
            if (rc != 0)
                raiseError(rc);
        } else if (data.size() < 3 || static_cast<std::uint8_t>(data.at(2)) != kWriteItemBlockCommand) {
            // A write the panel refused is not a written block.
            raiseError(ErrorCode::SendRefused, QStringLiteral("the panel refused block %1:%2").arg(item).arg(start));
        }
        if (!countBlock(item))
            return;
        m_blocksComplete = true;
        if (m_exclusive)
            return; // the exclusive-off answer ends the transfer
        m_finished = true;
        if (state.UnattendedFlag)
            Form_Unload();
        else
            startEndSequence();
    });
    if (endSession) {
        // The transfer stops: no end report, and the block loop queues nothing more.
        m_direction = Aborted;
        if (const std::shared_ptr<IControlType> transport = sessionState().currentTransport)
            transport->setAbortWorkInProgress(true);
        hide();
        modGlobals::Disconnect(false, 5);
    }
}

void frmWorkInProgress::startEndSequence()
{
    QString text = modGlobals::ReplaceVariable(catalog(306), QStringLiteral("TOTAL"), QString::number(m_lastItem));
    UpdateHighRes(100);
    UdpateProgress(100, text);
    m_beeps = 0;
    endSequenceStep();
}

void frmWorkInProgress::endSequenceStep()
{
    if (m_unloaded)
        return;
    if (m_beeps < kBeeps) {
        QApplication::beep();
        ++m_beeps;
        m_endTimer.start(static_cast<int>(Timing::scaled(m_beeps < kBeeps ? kBeepPauseMs : kBeepPauseMs + kFinalPauseMs)));
        return;
    }
    Form_Unload();
}

void frmWorkInProgress::leaveExclusiveMode()
{
    SessionState &state = sessionState();
    MessageQueue *queue = state.messageQueue;
    if (!queue)
        return;
    queue->setWorkerInterval(state.config.standardPollRate);
    if (!state.UnattendedFlag) {
        queue->setHeartbeatEnabled(true);
        queue->setDiagRefreshEnabled(true);
    }
    m_exclusiveLeft = true;
    // Owned by the queue window: this window is going.
    if (modExecFunctions::SMExclusiveCommand(false, queue, 5, false) != 0)
        raiseError(ErrorCode::SendRefused, QStringLiteral("exclusive mode could not be left"));
}

void frmWorkInProgress::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    m_endTimer.stop();
    errors::guarded(kForm, QStringLiteral("Form_Unload()"), [&] {
        aniSync->stop();
        SessionState &state = sessionState();
        MessageQueue *queue = state.messageQueue;
        const std::shared_ptr<IControlType> transport = state.currentTransport;
        // A session that is ending takes no report and no further request.
        const bool sessionGoesOn = queue && !queue->isUnloading() && transport && !transport->AbortPending();
        bool transferRefused = false;

        if (sessionGoesOn && m_finished && m_direction != Aborted) {
            const std::shared_ptr<HostPif> pif = state.hostPif;
            const QString path = Paths::transferFile(state.config.tamselDataPath);
            if (m_direction == Receive && !Paths::plainFileOrMissing(path)) {
                // The transfer file has a fixed name: a symbolic link (or a FIFO, a device...) found
                // there was planted, and a host that wrote the panel's data to that name would
                // carry them wherever it points. The receive fails instead and the session ends as
                // after a failed answer.
                transferRefused = true;
                state.LastErrorNumber = ErrorCode::PermissionDenied;
                const QString why = QStringLiteral("%1 is not a plain file; the received data were not handed over").arg(path);
                modGlobals::DebugPrint(why);
                errors::report(ErrorCode::PermissionDenied, kForm, QStringLiteral("Form_Unload()"), why);
            } else if (m_direction == Receive) {
                if (pif)
                    pif->takeTransferFile(path);
                if (state.UnattendedFlag || isActiveWindow())
                    modGlobals::ZelCommEvent(10, path);
                else
                    queue->PendingTransferFile = true;
                modGlobals::MakeCallback(QStringLiteral("RECV_END"), 0);
            } else {
                if (pif)
                    pif->finishSend();
                modGlobals::MakeCallback(QStringLiteral("SEND_END"), 0);
            }
        }
        if (queue)
            queue->AbortQueuedMsgOwnedBy(Name());
        // The abort has done its work; while the block loop still runs it keeps it stopped, and the
        // loop clears it when it is done.
        if (transport && m_direction == Aborted && !m_queueing)
            transport->setAbortWorkInProgress(false);
        if (m_registered) {
            modGlobals::ForgetGUIDObject(szGUID());
            m_registered = false;
        }
        if (!sessionGoesOn)
            return;
        if (m_exclusive && !m_exclusiveLeft)
            leaveExclusiveMode();
        if (transferRefused)
            modGlobals::Disconnect(false, 5);
        else if (const std::shared_ptr<HostSettings> settings = state.hostSettings) {
            if (!settings->HostDataMode())
                modGlobals::Disconnect(false, 5);
            else if (m_direction != Receive)
                modGlobals::ZelCommEvent(7, 0);
        }
    });
    hide();
    deleteLater();
}
