// Shared set-up of the serial transport tests: the session's queue and immediate windows, the panel
// simulator on a pseudo-terminal named by the "Port<N>" setting, and a clsModem as the transport.
#pragma once

#include <QCheckBox>

#include "core/GuidRegistry.h"
#include "diagnostics/clsSessionLog.h"
#include "link/clsPanelMsg.h"
#include "link/modExecFunctions.h"
#include "queue/MessageQueue.h"
#include "queue/clsMessage.h"
#include "support/SimSession.h"
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

using testsupport::bytes;

class SerialTest : public testsupport::SimSessionTest
{
protected:
    explicit SerialTest(double scale = kScale) : SimSessionTest(scale) {}

    void SetUp() override
    {
        SimSessionTest::SetUp();
        modGlobals::InitImmediate();
        sessionState().immediateWindow->show(); // it collects only while visible
        sessionState().immediateWindow->chkShow->setChecked(false); // no repaint (and no event run) per line
        modGlobals::InitQueue();
        queue = sessionState().messageQueue;
        ASSERT_TRUE(queue);
        owner = std::make_shared<OwnerDouble>();
        modGlobals::AddGUIDObject(owner);
    }

    void TearDown() override
    {
        sessionState().currentTransport.reset();
        modem.reset();
        // The session's windows outlive the session record: end them with it.
        delete sessionState().messageQueue.data();
        SimSessionTest::TearDown();
    }

    static void pointPortAt(const QString &device) { SimSessionTest::pointPortAt(kPortNumber, device); }

    void startPanel(const panelsim::PanelConfig &config) { startSimulator(config, kPortNumber); }

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

    // A simulated modem with its port prepared, and initialised when `init`.
    void modemLine(bool init = true, panelsim::PanelConfig config = {})
    {
        config.mode = panelsim::LinkMode::Modem;
        ASSERT_NO_FATAL_FAILURE(startPanel(config));
        createModem(true);
        ASSERT_EQ(modem->PortPrep(nullptr, true), 0);
        if (init) {
            ASSERT_EQ(modem->ControlInitialize(nullptr, true), 0);
        }
    }

    // A modem link up to CONNECT.
    void dialUp()
    {
        ASSERT_NO_FATAL_FAILURE(modemLine());
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

    // Queues the passcode and returns the command it registered.
    std::shared_ptr<clsPanelMsg> queuePasscode()
    {
        const QStringList before = sessionState().guidRegistry->keys();
        EXPECT_EQ(modExecFunctions::SMPasscode(QStringLiteral("123456"), owner.get(), 0, false), 0);
        for (const QString &key : sessionState().guidRegistry->keys())
            if (auto cmd = std::dynamic_pointer_cast<clsPanelMsg>(sessionState().guidRegistry->get(key)))
                if (!before.contains(key))
                    return cmd;
        ADD_FAILURE() << "no command was registered";
        return nullptr;
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

    // The modem commands the simulator saw, in order ("ATZ", "AT&F", "ATDT5551234", ...).
    QStringList modemCommands() const
    {
        QStringList out;
        for (const QString &line : simHeard())
            if (line.startsWith(QLatin1String("modem ")))
                out << line.mid(6);
        return out;
    }

    std::shared_ptr<OwnerDouble> owner;
    std::shared_ptr<clsModem> modem;
    MessageQueue *queue = nullptr;
};

} // namespace serialtest
