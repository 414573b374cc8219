// Shared set-up of the network link tests: a session record with in-memory host objects, the queue
// window, a network transport aimed at the panel simulator on 127.0.0.1, and an owner that records
// the answers it gets (and can run a small admission of its own: probe, passcode, status). Checks
// that must hold on every datagram link set linkMode to run the same session over the enhanced
// direct link on a pty instead.
#pragma once

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStringList>

#include <algorithm>
#include <functional>
#include <memory>

#include "core/GuidRegistry.h"
#include "link/modExecFunctions.h"
#include "link/modToolbox.h"
#include "queue/MessageQueue.h"
#include "queue/QueueLinks.h"
#include "queue/clsMessage.h"
#include "support/SimSession.h"
#include "transports/clsEnhancedDirect.h"
#include "transports/clsNetwork.h"

#ifdef QUARVO_HAVE_SIM
#include "DatagramCodec.h"
#include "LinkEnvelope.h"
#endif

namespace nettest {

using testsupport::waitFor;

inline const QString kKey = QStringLiteral("Quarvo-net-test-key-32-chars-ok!");
inline const QString kPasscode = QStringLiteral("123456");

using testsupport::bytes;

// A frame on a remote link: address 0, length, command, data, and a checksum making the sum
// `target` (0xFF for a request, 0x7F for the panel's answer).
inline QByteArray frame(int command, const QByteArray &data, unsigned target)
{
    const QByteArray out = bytes({0, int(data.size()) + 2, command}) + data;
    return out + char((target - testsupport::byteSum(out)) & 0xFF);
}
inline QByteArray remoteFrame(int command, const QByteArray &data) { return frame(command, data, 0xFF); }
inline QByteArray answerFrame(int command, const QByteArray &data) { return frame(command, data, 0x7F); }

// A message record named `name`; the caller discards it with msgrecord::Discard(guid).
inline std::unique_ptr<clsMessage> messageRecord(const QString &name, QString &guid)
{
    EXPECT_EQ(modGlobals::GetGUID(guid), 0);
    auto msg = std::make_unique<clsMessage>();
    msg->Create(guid);
    msg->setName(name);
    return msg;
}

struct Answer
{
    QString name;
    QByteArray data;
};

// An owner of panel commands, as the windows are.
class RecordingOwner : public QObject, public GuidObjectBase, public ResponseReceiver
{
public:
    QString Name() const { return QStringLiteral("frmTestOwner"); }
    void ResponseReceived(clsMessage &msg) override
    {
        answers.append({msg.Name(), msg.dataBytes()});
        if (onAnswer)
            onAnswer(msg);
    }
    int count(const QString &name) const
    {
        return int(std::count_if(answers.begin(), answers.end(), [&](const Answer &a) { return a.name == name; }));
    }
    QList<Answer> answers;
    std::function<void(clsMessage &)> onAnswer;
};

class NetTest : public testsupport::SimSessionTest
{
protected:
    // The simulator runs in real time: only the component's waits shrink.
    NetTest() : SimSessionTest(0.05, false) {}

    void SetUp() override
    {
        SimSessionTest::SetUp();
        admitted = false; // a test may start afresh with TearDown() and SetUp()
        owner.answers.clear();
        owner.onAnswer = nullptr;
        faults.clear();
        resetQueueLinks();
        modToolbox::ResetPanelEventCount();
        SessionState &state = sessionState();
        settings->hostDataMode = true;
        settings->linkKey = kKey;
        settings->responseTimeout = QStringLiteral("4");
        state.config.standardPollRate = 100; // worker tick 5 ms at this scale
        state.config.hbInterval = 2000;      // heartbeat every 100 ms
        state.passcode = kPasscode;
    }

    void TearDown() override
    {
        if (MessageQueue *queue = sessionState().messageQueue)
            queue->Unload();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        sessionState().currentTransport.reset();
        net.reset();
        resetQueueLinks();
        SimSessionTest::TearDown();
    }

    // The message queue and a network transport aimed at `port` on 127.0.0.1 (0: no panel, and
    // nothing can be sent).
    void startSession(bool encryption, bool sequenceNumbers, quint16 port)
    {
        SessionState &state = sessionState();
        state.EncryptionEnabled = encryption;
        state.SequenceNumbersEnabled = sequenceNumbers;
        modGlobals::InitQueue();
        modGlobals::InitImmediate();
        ASSERT_TRUE(state.messageQueue);
        net = std::make_shared<clsNetwork>();
        net->RemoteHost = QStringLiteral("127.0.0.1");
        net->RemotePort = port != 0 ? QString::number(port) : QString();
        state.currentTransport = net;
        modGlobals::AddGUIDObjectUnowned(&owner);
    }

    // The owner's small admission: on "CONNECT" the link is up and the passcode goes out; its
    // answer asks for the panel status; the status answer ends the admission and starts the
    // heartbeat.
    void admitOnConnect()
    {
        owner.onAnswer = [this](clsMessage &msg) {
            const QString name = msg.Name();
            if (name == QLatin1String("Null Command") && msg.dataBytes().contains("CONNECT")) {
                sessionState().currentTransport->setConnected(true);
                modExecFunctions::SMPasscode(sessionState().passcode, &owner, 6, false);
            } else if (name == QLatin1String("Passcode Verification")) {
                modExecFunctions::SMReqPanelStatus(&owner, 6, false);
            } else if (name == QLatin1String("Request Panel Status")) {
                admitted = true;
                if (MessageQueue *queue = sessionState().messageQueue)
                    queue->setHeartbeatEnabled(true);
            }
        };
    }

#ifdef QUARVO_HAVE_SIM
    // Starts a panel on linkMode with the test passcode (and, on the network, the link key when
    // `keyed`).
    void startPanel(bool keyed, const std::function<void(panelsim::PanelConfig &)> &adjust = {})
    {
        panelsim::PanelConfig config;
        config.mode = linkMode;
        config.passcode = kPasscode;
        if (keyed && linkMode == panelsim::LinkMode::Network)
            config.linkKey = kKey;
        if (adjust)
            adjust(config);
        startSimulator(config);
    }

    // A panel, the session aimed at it, and the owner's admission run to its end.
    void connectAndAdmit(bool encrypted, const std::function<void(panelsim::PanelConfig &)> &adjust = {},
                         bool sequenceNumbers = true)
    {
        ASSERT_NO_FATAL_FAILURE(startPanel(encrypted, adjust));
        if (linkMode == panelsim::LinkMode::Network) {
            ASSERT_NO_FATAL_FAILURE(startSession(encrypted, sequenceNumbers, sim->udpPort()));
        } else {
            ASSERT_NO_FATAL_FAILURE(startEnhancedSession(sequenceNumbers));
        }
        admitOnConnect();
        ASSERT_EQ(modExecFunctions::SMNullCommand(QByteArrayLiteral("LANVesk"), &owner, 0, false), 0);
        ASSERT_TRUE(waitFor([&] { return admitted; }, 8000));
    }

    // The message queue and an enhanced direct transport on the panel's pty (port 1).
    void startEnhancedSession(bool sequenceNumbers)
    {
        SessionState &state = sessionState();
        state.EncryptionEnabled = false;
        state.SequenceNumbersEnabled = sequenceNumbers;
        modGlobals::InitQueue();
        modGlobals::InitImmediate();
        ASSERT_TRUE(state.messageQueue);
        pointPortAt(1, sim->devicePath());
        auto enhanced = std::make_shared<clsEnhancedDirect>();
        enhanced->CommPort = 1;
        state.currentTransport = enhanced;
        ASSERT_EQ(enhanced->PortPrep(nullptr, false), 0);
        modGlobals::AddGUIDObjectUnowned(&owner);
    }

    // The datagrams the panel received, decoded with its own codec: sequence byte and payload.
    struct Captured
    {
        bool encrypted = false;
        quint8 sequence = 0;
        QByteArray payload;
    };
    QList<Captured> captured(bool sequenceNumbers = true) const
    {
        QList<Captured> out;
        for (const panelsim::TraceEntry &entry : sim->trace()) {
            Captured c;
            bool ok = false;
            QByteArray datagram = entry.bytes;
            if (panelsim::LinkEnvelope::hasEnvelopeLength(int(datagram.size()))) {
                const QByteArray plain = panelsim::LinkEnvelope::decrypt(datagram, kKey, &ok);
                if ((c.encrypted = ok && !plain.isEmpty()))
                    datagram = plain;
            }
            if (entry.direction == QLatin1String("in")
                && panelsim::DatagramCodec::decode(datagram, kPasscode, sequenceNumbers, &c.sequence, &c.payload))
                out.append(c);
        }
        return out;
    }

    panelsim::LinkMode linkMode = panelsim::LinkMode::Network; // of connectAndAdmit
    std::unique_ptr<panelsim::PanelSimulator> &panel = sim; // the simulator under the name other suites use
#endif

    std::shared_ptr<clsNetwork> net;
    RecordingOwner owner;
    bool admitted = false;
};

} // namespace nettest
