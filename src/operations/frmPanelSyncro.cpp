#include "operations/frmPanelSyncro.h"

#include "controls/ButtonKeys.h"
#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "core/modRegistry.h"
#include "diagnostics/Logging.h"
#include "diagnostics/SessionIcon.h"
#include "link/modChecksums.h"
#include "link/modSDIFunctions.h"
#include "operations/PanelSynchronisation.h"
#include "operations/WindowPlacement.h"
#include "queue/SessionEnd.h"
#include "queue/clsMessage.h"
#include "queue/MessageQueue.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString kForm = QStringLiteral("frmPanelSyncro");
const QString kRequestCrc = QStringLiteral("Request CRC");

// The CRC answer is valid when bytes 3 to 5 hold this marker.
constexpr std::uint8_t kCrcMarker[3] = {0xFF, 0xFF, 0xE0};

QString catalog(std::int16_t number)
{
    return modGlobals::GetCatalogString(number);
}

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

frmPanelSyncro::frmPanelSyncro(QWidget *parent)
    : QWidget(parent, Qt::Window)
{
    setObjectName(kForm);
    setWindowTitle(catalog(291));
    modGlobals::ApplySessionIcon(this);
    ButtonKeys::install(this);

    txtSyncMessage = new QPlainTextEdit(this);
    txtSyncMessage->setObjectName(QStringLiteral("txtSyncMessage"));
    txtSyncMessage->setReadOnly(true);
    txtSyncMessage->setPlainText(QStringLiteral("Panel data and Tamsel are different.  Please \nchoose from the following options."));
    txtSyncMessage->setFixedHeight(txtSyncMessage->fontMetrics().lineSpacing() * 3 + 12);
    txtSyncMessage->setMinimumWidth(txtSyncMessage->fontMetrics().horizontalAdvance(QStringLiteral("M")) * 30);
    txtSyncMessage->setFrameShape(QFrame::NoFrame);
    txtSyncMessage->viewport()->setAutoFillBackground(false);
    auto option = [this](const char *name, std::int16_t caption) {
        auto *button = new QRadioButton(catalog(caption), this);
        button->setObjectName(QLatin1String(name));
        return button;
    };
    optRecvPanel = option("optRecvPanel", 294);
    optSendPanel = option("optSendPanel", 295);
    optNoUpdate = option("optNoUpdate", 293);
    // Nothing is overwritten unless the operator picks a direction.
    optNoUpdate->setChecked(true);
    chkExclusive = new QCheckBox(catalog(292), this);
    chkExclusive->setObjectName(QStringLiteral("chkExclusive"));
    cmdOK = new QPushButton(catalog(124), this);
    cmdOK->setObjectName(QStringLiteral("cmdOK"));
    cmdOK->setDefault(true);
    cmdCancel = new QPushButton(catalog(125), this);
    cmdCancel->setObjectName(QStringLiteral("cmdCancel"));
    connect(cmdOK, &QPushButton::clicked, this, [this] { cmdOK_Click(); });
    connect(cmdCancel, &QPushButton::clicked, this, [this] { cmdCancel_Click(); });

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(txtSyncMessage);
    layout->addWidget(optRecvPanel);
    layout->addWidget(optSendPanel);
    layout->addWidget(optNoUpdate);
    layout->addSpacing(6);
    layout->addWidget(chkExclusive);
    auto *buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(cmdOK);
    buttons->addWidget(cmdCancel);
    layout->addLayout(buttons);

    operations::centreOnScreen(this);
    m_registered = modGlobals::AddGUIDObjectUnowned(this);
}

frmPanelSyncro::~frmPanelSyncro()
{
    if (m_registered) {
        modGlobals::ForgetGUIDObject(szGUID());
    }
}

std::int32_t frmPanelSyncro::Display()
{
    return errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        const SessionState &state = sessionState();
        const std::shared_ptr<IControlType> transport = state.currentTransport;
        if (!transport)
            return;
        const QString allow = modRegistry::GetRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"),
                                                         QStringLiteral("AllowExclusive"));
        chkExclusive->setVisible(allow == QLatin1String("1"));
        const QString link = transport->Name();
        chkExclusive->setEnabled(link == QLatin1String("Enhanced Direct") || link == QLatin1String("Network"));
        const bool compared = state.hostSettings && state.hostSettings->HostDataMode();
        txtSyncMessage->setPlainText(catalog(compared ? 986 : 1436));
        optRecvPanel->setEnabled(true);
        optSendPanel->setEnabled(true);
        operations::showOnTop(this);
    });
}

void frmPanelSyncro::ResponseReceived(clsMessage &msg)
{
    bool endSession = false;
    errors::guardedFatal(kForm, QStringLiteral("ResponseReceived()"), endSession, [&] {
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
        m_state = StateDone; // the session is ending: the unload takes no further step
        Form_Unload();
    }
}

void frmPanelSyncro::crcAnswer(const QByteArray &data)
{
    const bool unattended = sessionState().UnattendedFlag;
    if (!validCrcAnswer(data)) {
        if (unattended) {
            askAgain();
            return;
        }
        QMessageBox box(QMessageBox::NoIcon, catalog(1441), catalog(1440), QMessageBox::Ok);
        box.setObjectName(QStringLiteral("msgBadCrcAnswer"));
        box.exec();
        cmdCancel_Click();
        return;
    }
    bool allSame = false;
    const std::int32_t rc = modToolbox::CompareCRC(data, SyncList, allSame);
    if (rc != 0)
        raiseError(rc);
    if (allSame) {
        if (unattended) {
            if (optRecvPanel->isChecked())
                modGlobals::MakeCallback(QStringLiteral("RECV_END"), 0);
            else if (optSendPanel->isChecked())
                modGlobals::MakeCallback(QStringLiteral("SEND_END"), 0);
        }
        cmdCancel_Click();
    } else if (unattended) {
        cmdOK_Click();
    } else {
        Display();
    }
}

void frmPanelSyncro::askAgain()
{
    // A panel that keeps answering badly is not asked for ever: after as many tries as a request
    // has retries the check ends without a transfer.
    if (++m_badAnswers > sessionState().config.numOfNaks) {
        errors::report(ErrorCode::SendRefused, kForm, QStringLiteral("ResponseReceived()"),
                       QStringLiteral("no valid CRC answer after %1 requests").arg(m_badAnswers));
        cmdCancel_Click();
        return;
    }
    if (modSDIFunctions::SDIRequestCRC(this, 5, false) != 0)
        raiseError(ErrorCode::SendRefused, QStringLiteral("the CRC request could not be queued"));
}

void frmPanelSyncro::cmdOK_Click()
{
    bool failed = false;
    errors::guardedFatal(kForm, QStringLiteral("cmdOK_Click()"), failed, [&] {
        hide();
        std::int16_t mode = NoUpdate;
        if (optNoUpdate->isChecked())
            mode = NoUpdate;
        else if (optRecvPanel->isChecked())
            mode = ReceivePanel;
        else if (optSendPanel->isChecked())
            mode = SendPanel;
        const bool exclusiveRequested = chkExclusive->isChecked() && !sessionState().UnattendedFlag;
        bool exclusive = false;
        if (exclusiveRequested && (mode == ReceivePanel || mode == SendPanel)) {
            QMessageBox box(QMessageBox::Warning, catalog(1439), catalog(1437) + QLatin1Char('\n') + catalog(1438),
                            QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
            box.setObjectName(QStringLiteral("msgExclusive"));
            const int answer = box.exec();
            if (answer == QMessageBox::Cancel) {
                show();
                return;
            }
            exclusive = answer == QMessageBox::Yes;
        }
        const std::int32_t rc = modToolbox::PerformPanelSyncronization(mode, SyncList, exclusive);
        if (rc != 0)
            raiseError(rc);
        m_state = StateDone;
        Form_Unload();
    });
    if (failed)
        modGlobals::Disconnect(false, 5);
}

void frmPanelSyncro::cmdCancel_Click()
{
    hide();
    Form_Unload();
}

void frmPanelSyncro::closeEvent(QCloseEvent *event)
{
    QWidget::closeEvent(event);
    Form_Unload();
}

void frmPanelSyncro::Form_Unload()
{
    if (m_unloaded)
        return;
    m_unloaded = true;
    errors::guarded(kForm, QStringLiteral("Form_Unload()"), [&] {
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
    hide();
    deleteLater();
}
