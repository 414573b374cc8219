// Shared set-up of the serial transport tests: a fresh session with its queue window (as InitQueue
// makes it), the panel simulator on a pseudo-terminal named by the "Port<N>" setting, and a clsModem
// as the current transport. Every protocol duration runs at a tenth of real time, in the component
// and in the simulator alike.
#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QByteArray>
#include <QSerialPort>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>

#include <memory>

#include "PanelSimulator.h"
#include "component/Configuration.h"
#include "component/modRegistry.h"
#include "core/GuidRegistry.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "diagnostics/clsSessionLog.h"
#include "diagnostics/frmImmediate.h"
#include "external/ErrorReporter.h"
#include "link/clsPanelMsg.h"
#include "platform/Timing.h"
#include "queue/clsMessage.h"
#include "queue/frmMsgQueue.h"
#include "support/HostDoubles.h"
#include "support/TestSupport.h"
#include "transports/clsModem.h"

namespace serialtest {

constexpr double kScale = 0.1;
constexpr std::int16_t kPortNumber = 7;

// An owner of panel commands that records the answers it is given.
class OwnerDouble : public GuidObjectBase, public ResponseReceiver
{
public:
    QString Name() const { return QStringLiteral("frmTestOwner"); }
    void ResponseReceived(clsMessage &msg) override
    {
        answers << msg.dataBytes();
        names << msg.Name();
    }
    QList<QByteArray> answers;
    QStringList names;
};

inline QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray out;
    for (int b : list)
        out.append(static_cast<char>(b));
    return out;
}

class SerialTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("QUARVO_TIME_SCALE", QByteArray::number(kScale));
        Timing::setScale(kScale);
        testsupport::freshSettingsDir();
        testsupport::freshLogDir();
        resetSessionState();
        modGlobals::InitApplicationVariables();
        settings = std::make_shared<testsupport::SettingsDouble>();
        sessionState().hostSettings = settings;
        modGlobals::InitImmediate();
        sessionState().immediateWindow->show(); // it collects only while visible
        sessionState().immediateWindow->chkShow->setChecked(false); // no repaint (and no event run) per line
        modGlobals::InitQueue();
        queue = sessionState().queueWindow;
        ASSERT_TRUE(queue);
        owner = std::make_shared<OwnerDouble>();
        modGlobals::AddGUIDObject(owner);
    }

    void TearDown() override
    {
        sessionState().currentTransport.reset();
        modem.reset();
        if (sim)
            sim->stop();
        // The session's windows outlive the session record: end them with it.
        delete sessionState().queueWindow.data();
        if (frmImmediate *immediate = sessionState().immediateWindow) {
            immediate->hide();
            delete immediate;
        }
        resetSessionState();
        Timing::setScale(0);
        qunsetenv("QUARVO_TIME_SCALE");
    }

    // Starts the simulator and points port kPortNumber at its pty.
    void startPanel(panelsim::PanelConfig config)
    {
        sim = std::make_unique<panelsim::PanelSimulator>(config);
        for (const QString &fault : faults)
            ASSERT_TRUE(sim->addFault(fault)) << fault.toStdString();
        QString why;
        ASSERT_TRUE(sim->start(&why)) << why.toStdString();
        modRegistry::SaveRegSetting(QStringLiteral("Tamsel"), QStringLiteral("Communications"),
                                    QStringLiteral("Port%1").arg(kPortNumber), sim->devicePath());
    }

    // Creates the modem transport as the workflow does and makes it the session's transport.
    void createModem(bool remote)
    {
        modem = std::make_shared<clsModem>();
        modem->CommPort = kPortNumber;
        modem->BaudRate = 9600;
        modem->ResetCmd = QStringLiteral("ATZ");
        modem->PreDialInit = QStringLiteral("AT&F");
        modem->DataPhone = QStringLiteral("5551234");
        modem->setRemote(remote);
        settings->hostDataMode = remote;
        sessionState().currentTransport = modem;
    }

    // A modem link up to CONNECT.
    void dialUp(const panelsim::PanelConfig &base = {})
    {
        panelsim::PanelConfig config = base;
        config.mode = panelsim::LinkMode::Modem;
        startPanel(config);
        createModem(true);
        ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
        ASSERT_EQ(modem->ControlInitialize(nullptr, true), 0);
        ASSERT_EQ(modem->Connect(nullptr, true), 0);
        ASSERT_TRUE(modem->Connected());
    }

    // A plain direct line, local addressing; the workflow sets Connected itself.
    void directLine(int idlePollMs = 200)
    {
        panelsim::PanelConfig config;
        config.mode = panelsim::LinkMode::Direct;
        config.localPollMs = idlePollMs;
        startPanel(config);
        createModem(false);
        ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
        modem->setConnected(true);
    }

    QString sessionLogText() const
    {
        const std::shared_ptr<clsSessionLog> log = sessionState().sessionLog;
        return log ? QString::fromLocal8Bit(testsupport::readFile(log->path())) : QString();
    }

    QString immediateText() const
    {
        const frmImmediate *window = sessionState().immediateWindow;
        return window ? window->dumpList().join(QLatin1Char('\n')) : QString();
    }

    QString errorLog() const
    {
        return QString::fromLocal8Bit(testsupport::readFile(sessionState().errorReporter->errorFilePath()));
    }

    // The modem commands the simulator saw, in order ("ATZ", "AT&F", "ATDT5551234", ...).
    QStringList modemCommands() const
    {
        QStringList out;
        for (const panelsim::TraceEntry &e : sim->trace())
            if (e.direction == QLatin1String("in") && e.decoded.startsWith(QLatin1String("modem ")))
                out << e.decoded.mid(6);
        return out;
    }

    std::shared_ptr<testsupport::SettingsDouble> settings;
    std::shared_ptr<OwnerDouble> owner;
    std::shared_ptr<clsModem> modem;
    std::unique_ptr<panelsim::PanelSimulator> sim;
    QStringList faults;
    frmMsgQueue *queue = nullptr;
};

} // namespace serialtest
