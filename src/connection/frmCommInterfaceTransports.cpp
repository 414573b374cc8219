// What the dialog does with a particular transport class: create and configure it for a
// connection type, the net-ring state and probe direction of the datagram transports (network and
// enhanced direct), and the panel test.
#include "connection/frmCommInterface.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/IControlType.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "transports/clsEnhancedDirect.h"
#include "transports/clsModem.h"
#include "transports/clsNetwork.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTimer>

namespace {

const QString kForm = QStringLiteral("frmCommInterface");

// The current transport when it is one of the two that speak in datagrams.
std::shared_ptr<DatagramTransport> datagramTransport()
{
    return std::dynamic_pointer_cast<DatagramTransport>(sessionState().currentTransport);
}

} // namespace

std::shared_ptr<IControlType> frmCommInterface::createTransport(std::int32_t ControlType)
{
    switch (ControlType) {
    case 0:
    case 1: {
        auto modem = std::make_shared<clsModem>();
        modem->BaudRate = cmbBaudRate->currentText().toInt();
        modem->CommPort = static_cast<std::int16_t>(txtComPort->text().toInt());
        modem->PreDialInit = txtInitString->text();
        modem->DataPhone = txtDataPhone->text();
        if (ControlType == 1)
            modem->PostDialString.clear();
        const std::shared_ptr<HostSettings> settings = sessionState().hostSettings;
        if (settings && !settings->HostDataMode())
            modem->setRTSEnable(false); // the plain direct cable
        return modem;
    }
    case 3: {
        auto enhanced = std::make_shared<clsEnhancedDirect>();
        enhanced->BaudRate = cmbBaudRate->currentText().toInt();
        enhanced->CommPort = static_cast<std::int16_t>(txtComPort->text().toInt());
        return enhanced;
    }
    case 4: {
        // The address CheckIP resolved, and the panel's port.
        auto network = std::make_shared<clsNetwork>();
        network->RemoteHost = sessionState().remoteHost;
        network->RemotePort = txtRemotePort->text().trimmed();
        return network;
    }
    default:
        return nullptr;
    }
}

std::int32_t frmCommInterface::createIdleTransport()
{
    return errors::guarded(kForm, QStringLiteral("Display()"), [&] {
        SessionState &state = sessionState();
        if (const std::shared_ptr<IControlType> previous = state.currentTransport) {
            previous->ControlDisconnect(nullptr, true);
            state.currentTransport.reset();
        }
        // Aimed at the host's panel address, so that the panel's datagrams are recognised.
        auto network = std::make_shared<clsNetwork>();
        network->RemoteHost = txtRemoteHost->text().trimmed();
        network->RemotePort = txtRemotePort->text().trimmed();
        state.currentTransport = network;
    });
}

void frmCommInterface::setNetCallBack(bool value)
{
    if (const auto transport = datagramTransport())
        transport->setNetCallBack(value);
}

void frmCommInterface::showNetRing(bool ringing)
{
    if (tmrNetAnswer) {
        if (ringing)
            tmrNetAnswer->start();
        else
            tmrNetAnswer->stop();
    }
    if (cmdAnswer) {
        cmdAnswer->setText(ringing ? modGlobals::GetCatalogString(1353) : modGlobals::GetCatalogString(136));
        cmdAnswer->setEnabled(ringing);
    }
    if (lblNetRing)
        lblNetRing->setVisible(ringing);
}

bool frmCommInterface::transportConnecting() const
{
    if (const auto transport = datagramTransport())
        return transport->Connecting;
    return true;
}

void frmCommInterface::cmdTestPanel_Click()
{
    const std::int32_t rc = errors::guarded(kForm, QStringLiteral("cmdTestPanel_Click"), [&] {
        SessionState &state = sessionState();
        if (const std::shared_ptr<IControlType> previous = state.currentTransport) {
            previous->ControlDisconnect(this, true);
            state.currentTransport.reset();
        }
        if (ConnectionType == TypeNetwork && CheckIP(true) != 0)
            return;
        const std::int32_t type = ConnectionType == TypeEnhancedDirect ? 3 : 4;
        const std::shared_ptr<IControlType> created = createTransport(type);
        if (!created)
            raiseError(ErrorCode::InvalidArgument, QStringLiteral("no panel test for connection type %1").arg(ConnectionType));
        state.currentTransport = created;
        m_controlType = type;
        ControlButtons(false, true);
        m_busy = true;
        m_retries = 0;
        m_testPassed = false;
        m_pendingStatus = modGlobals::GetCatalogString(109);
        // The outcome arrives answer by answer in ResponseReceived.
        const std::int32_t pinged = pingTransport(4);
        if (pinged != 0)
            raiseError(pinged);
    });
    if (rc != 0 && m_busy)
        endAttempt();
}

std::int32_t frmCommInterface::pingTransport(std::int16_t times)
{
    if (const auto transport = datagramTransport())
        return transport->Ping(times, this);
    return ErrorCode::NotImplemented;
}
