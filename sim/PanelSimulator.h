// A simulated alarm panel on a pseudo-terminal (direct line, Hayes modem, enhanced direct) or on a
// UDP port of 127.0.0.1 (network link). Its I/O runs on its own thread with a poll() loop, so it
// answers while the caller's thread is blocked in a serial exchange. Every public member is
// thread-safe: configuration before start(), faults and panel state at any time.
//
//   PanelConfig config;
//   config.mode = LinkMode::Modem;
//   PanelSimulator panel(config);
//   panel.addFault("nak@passcode*2");
//   panel.start();                    // returns once the pty exists / the port is bound
//   open(panel.devicePath()) ... or send to 127.0.0.1:panel.udpPort()
//   panel.commandCount("Passcode Verification"); panel.state().block(8, 16); ...
//   panel.stop();                     // joins the thread, closes the link, removes the symlink
#pragma once

#include "FaultScript.h"
#include "FrameScanner.h"
#include "HayesModem.h"
#include "PanelConfig.h"
#include "PanelResponder.h"
#include "PanelState.h"
#include "PtyPort.h"
#include "SerialEnvelope.h"
#include "TraceLog.h"
#include "UdpPort.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <thread>
#include <vector>

namespace panelsim {

class PanelSimulator
{
public:
    explicit PanelSimulator(const PanelConfig &config = PanelConfig());
    ~PanelSimulator();
    PanelSimulator(const PanelSimulator &) = delete;
    PanelSimulator &operator=(const PanelSimulator &) = delete;

    // Replaces the configuration and rebuilds the panel's memory from it (only while stopped).
    bool setConfig(const PanelConfig &config);
    PanelConfig config() const;

    // Creates the link and starts the I/O thread; false (with the reason) when the link cannot be
    // made. stop() is safe to call at any time and more than once.
    bool start(QString *error = nullptr);
    void stop();
    bool isRunning() const;

    LinkMode mode() const;
    QString devicePath() const; // serial modes: the path to open (symlink or slave)
    QString slavePath() const;
    quint16 udpPort() const;    // network mode: the bound port

    // Faults (see FaultScript for the rule syntax).
    bool addFault(const QString &ruleText, QString *error = nullptr);
    void addFault(const FaultRule &rule);
    void clearFaults();
    QList<FaultRule> faults() const;

    // Panel memory: a copy, or a change made under the simulator's lock.
    PanelState state() const;
    void updateState(const std::function<void(PanelState &)> &change);
    int commandCount(const QString &name) const;
    int exchangeCount() const;
    bool goodbyeReceived() const;
    bool resetRequested() const;
    bool exclusiveMode() const;
    quint16 eventCounter() const;
    void setEventCounter(quint16 value);

    // Link facts.
    bool carrierUp() const;        // modem: a call is connected
    bool linkDropped() const;
    int idleFramesSent() const;    // direct line idle frames

    // The panel calls: RING on the modem line, the net-ring datagram on network and enhanced direct
    // links (to the last sender, or to 127.0.0.1:port when port is given).
    void ring(quint16 port = 0);
    // The link fails now: NO CARRIER on the modem, pty closed on direct lines, silence on UDP.
    void dropLink();
    // Sends `bytes` as they are, unanswered and untraced: on serial links down the line, on the
    // network link as one datagram from the panel's own port to the last sender, or to
    // 127.0.0.1:port when port is given (what a spoofer who knows the panel's address can do, even
    // before the host has sent anything). Thread-safe; false when there is nobody to send to.
    bool inject(const QByteArray &bytes, quint16 port = 0);

    QList<TraceEntry> trace() const;

private:
    struct Timer
    {
        std::chrono::steady_clock::time_point due;
        std::function<void()> action;
    };
    struct Outcome
    {
        QByteArray answer; // frame or probe text; empty = no answer
        QString decoded;
        QString note;
        QByteArray garbage;
        bool drop = false;
        bool duplicate = false;
        bool wrongSequence = false;
        bool otherPort = false;
        int lateMs = 0;
        bool badHeader = false;   // enhanced direct: envelope marker 3 instead of 2
        int announcedLength = -1; // enhanced direct: the envelope's length field, when set
    };

    void run();
    void wake();
    int pollTimeoutLocked(std::chrono::steady_clock::time_point now) const;
    void runTimersLocked();
    void scheduleLocked(int scaledDelayMs, std::function<void()> action);

    void onSerialBytesLocked(const QByteArray &bytes);
    void onDatagramLocked(const QByteArray &raw, const UdpPeer &from);
    void handleFrameLocked(const QByteArray &frame, Addressing addressing);
    void handleDatagramLocked(const QByteArray &raw, const UdpPeer *from);
    Outcome respondLocked(const PanelRequest &request, Addressing addressing);
    void deliverLocked(const Outcome &outcome, const std::function<void(const Outcome &, bool repeat)> &send);
    void writeSerialLocked(const QByteArray &bytes, const QString &decoded, const QString &note = {});
    void sendDatagramLocked(const QByteArray &datagram, const UdpPeer &to, bool fromOtherPort, const QString &decoded,
                            const QString &note);
    QByteArray encodeDatagramLocked(quint8 sequence, const QByteArray &payload, bool encrypt);
    static QByteArray serialEnvelope(const QByteArray &datagram, const Outcome &outcome);
    void sendNetRingLocked(const UdpPeer &to);
    void dropLinkLocked();
    void flushTxLocked();
    void idleFrameLocked(std::chrono::steady_clock::time_point now);
    QByteArray garbageLocked(int count, quint8 avoid);
    QString linkName() const;

    mutable std::mutex m_mutex;
    PanelConfig m_config;
    PanelState m_state;
    FaultScript m_faults;
    TraceLog m_trace;

    PtyPort m_pty;
    UdpPort m_udp;
    UdpPort m_otherUdp;
    std::unique_ptr<HayesModem> m_modem;
    FrameScanner m_scanner{Addressing::Local};
    SerialEnvelope m_envelope;
    QByteArray m_txPending;

    std::thread m_thread;
    std::atomic<bool> m_stopping{false};
    bool m_running = false;
    int m_wakeFd = -1;
    std::vector<Timer> m_timers;
    std::mt19937 m_rng;

    std::chrono::steady_clock::time_point m_lastActivity{};
    bool m_answeredCall = false;   // the current call was placed by the panel
    bool m_callbackPending = false;
    bool m_linkDropped = false;
    bool m_lastEncrypted = false;
    UdpPeer m_lastPeer;
    int m_idleFrames = 0;
};

} // namespace panelsim
