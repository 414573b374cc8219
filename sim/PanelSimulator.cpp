#include "PanelSimulator.h"

#include "DatagramCodec.h"
#include "LinkEnvelope.h"
#include "TimeScale.h"
#include "TwofishCbc.h"

#include <algorithm>
#include <cerrno>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace panelsim {

using Clock = std::chrono::steady_clock;

namespace {

// The direct line's idle frame: what the panel sends when the line has been quiet, so the
// component's pre-send read finds a frame at once (command 0, sum FF).
const QByteArray kIdleFrame = PanelFrame::answer(Addressing::Local, 0);

constexpr std::chrono::milliseconds kPartialFrameQuiet{2000};

QString printable(const QByteArray &bytes)
{
    QString out;
    for (const char c : bytes) {
        if (c == '\r')
            out += QStringLiteral("\\r");
        else if (c == '\n')
            out += QStringLiteral("\\n");
        else if (c >= 0x20 && c < 0x7F)
            out += QLatin1Char(c);
        else
            out += QStringLiteral("\\x%1").arg(static_cast<quint8>(c), 2, 16, QLatin1Char('0'));
    }
    return out;
}

} // namespace

PanelSimulator::PanelSimulator(const PanelConfig &config)
    : m_config(config), m_state(config), m_rng(config.seed)
{
}

PanelSimulator::~PanelSimulator()
{
    stop();
}

bool PanelSimulator::setConfig(const PanelConfig &config)
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return false;
    m_config = config;
    m_state = PanelState(config);
    m_rng.seed(config.seed);
    return true;
}

PanelConfig PanelSimulator::config() const
{
    std::lock_guard lock(m_mutex);
    return m_config;
}

QString PanelSimulator::linkName() const
{
    return linkModeName(m_config.mode);
}

bool PanelSimulator::start(QString *error)
{
    std::lock_guard lock(m_mutex);
    if (m_running)
        return true;
    TwofishCbc::initLibrary();
    QString why;
    if (!m_trace.open(m_config.traceFile, m_config.traceToStdout, &why)) {
        if (error)
            *error = why;
        return false;
    }
    if (m_config.mode == LinkMode::Network) {
        if (!m_udp.open(m_config.udpPort, &why) || !m_otherUdp.open(0, &why)) {
            m_udp.close();
            m_trace.close();
            if (error)
                *error = why;
            return false;
        }
    } else if (!m_pty.open(m_config.symlinkPath, &why)) {
        m_trace.close();
        if (error)
            *error = why;
        return false;
    }
    if (m_config.mode == LinkMode::Network && !m_config.linkKey.isEmpty() && m_config.linkKey.size() != 32) {
        // A key of another length cannot be used by the component either; the panel runs in the clear.
        m_trace.add(QStringLiteral("note"), linkName(), {}, QStringLiteral("link key is not 32 characters"));
    }

    m_scanner.setAddressing(m_config.mode == LinkMode::Direct ? Addressing::Local : Addressing::Remote);
    m_envelope.reset();
    m_txPending.clear();
    m_timers.clear();
    m_linkDropped = false;
    m_callbackPending = false;
    m_answeredCall = false;
    m_lastPeer = {};
    m_idleFrames = 0;
    m_lastActivity = Clock::now();

    if (m_config.mode == LinkMode::Modem) {
        HayesModem::Hooks hooks;
        hooks.write = [this](const QByteArray &bytes) {
            writeSerialLocked(bytes, QStringLiteral("modem ") + printable(bytes).trimmed());
        };
        hooks.schedule = [this](int ms, std::function<void()> action) { scheduleLocked(ms, std::move(action)); };
        hooks.connected = [this](bool answered) {
            m_answeredCall = answered;
            m_scanner.setAddressing(Addressing::Remote);
        };
        hooks.carrierLost = [this] {
            m_scanner.reset();
            if (m_callbackPending) {
                m_callbackPending = false;
                scheduleLocked(scaledMs(m_config.callbackDelayMs), [this] {
                    if (m_modem)
                        m_modem->startRinging();
                });
            }
        };
        hooks.faults = [this](const QString &command, bool dial) {
            return m_faults.takeForModem(command, m_modem ? m_modem->commandCount() : 0, dial);
        };
        hooks.commandSeen = [this](const QString &line, const QByteArray &raw) {
            m_trace.add(QStringLiteral("in"), linkName(), raw + '\r', QStringLiteral("modem ") + line);
        };
        HayesModem::Settings settings;
        settings.echo = m_config.modemEcho;
        settings.numeric = m_config.numericResults;
        settings.connectDelayMs = scaledMs(m_config.connectDelayMs);
        settings.ringIntervalMs = scaledMs(m_config.ringIntervalMs);
        settings.guardMs = scaledMs(1000);
        m_modem = std::make_unique<HayesModem>(hooks, settings);
    }

    m_wakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    m_stopping = false;
    m_running = true;
    m_thread = std::thread([this] { run(); });
    return true;
}

void PanelSimulator::stop()
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_running)
            return;
        m_stopping = true;
    }
    wake();
    if (m_thread.joinable())
        m_thread.join();
    std::lock_guard lock(m_mutex);
    m_timers.clear();
    m_modem.reset();
    m_pty.close();
    m_udp.close();
    m_otherUdp.close();
    m_trace.close();
    if (m_wakeFd >= 0)
        ::close(m_wakeFd);
    m_wakeFd = -1;
    m_running = false;
}

bool PanelSimulator::isRunning() const
{
    std::lock_guard lock(m_mutex);
    return m_running;
}

LinkMode PanelSimulator::mode() const
{
    std::lock_guard lock(m_mutex);
    return m_config.mode;
}

QString PanelSimulator::devicePath() const
{
    std::lock_guard lock(m_mutex);
    return m_pty.devicePath();
}

QString PanelSimulator::slavePath() const
{
    std::lock_guard lock(m_mutex);
    return m_pty.slavePath();
}

quint16 PanelSimulator::udpPort() const
{
    std::lock_guard lock(m_mutex);
    return m_udp.port();
}

bool PanelSimulator::addFault(const QString &ruleText, QString *error)
{
    const std::optional<FaultRule> rule = FaultScript::parse(ruleText, error);
    if (!rule)
        return false;
    addFault(*rule);
    return true;
}

void PanelSimulator::addFault(const FaultRule &rule)
{
    std::lock_guard lock(m_mutex);
    m_faults.add(rule);
}

void PanelSimulator::clearFaults()
{
    std::lock_guard lock(m_mutex);
    m_faults.clear();
}

QList<FaultRule> PanelSimulator::faults() const
{
    std::lock_guard lock(m_mutex);
    return m_faults.rules();
}

PanelState PanelSimulator::state() const
{
    std::lock_guard lock(m_mutex);
    return m_state;
}

void PanelSimulator::updateState(const std::function<void(PanelState &)> &change)
{
    std::lock_guard lock(m_mutex);
    change(m_state);
}

int PanelSimulator::commandCount(const QString &name) const
{
    std::lock_guard lock(m_mutex);
    return m_state.commandCount(name);
}

int PanelSimulator::exchangeCount() const
{
    std::lock_guard lock(m_mutex);
    return m_state.exchanges;
}

bool PanelSimulator::goodbyeReceived() const
{
    std::lock_guard lock(m_mutex);
    return m_state.goodbyeReceived;
}

bool PanelSimulator::resetRequested() const
{
    std::lock_guard lock(m_mutex);
    return m_state.resetRequested;
}

bool PanelSimulator::exclusiveMode() const
{
    std::lock_guard lock(m_mutex);
    return m_state.exclusive;
}

quint16 PanelSimulator::eventCounter() const
{
    std::lock_guard lock(m_mutex);
    return m_state.eventCounter;
}

void PanelSimulator::setEventCounter(quint16 value)
{
    std::lock_guard lock(m_mutex);
    m_state.eventCounter = value;
}

bool PanelSimulator::carrierUp() const
{
    std::lock_guard lock(m_mutex);
    return m_modem && m_modem->hasCarrier();
}

bool PanelSimulator::linkDropped() const
{
    std::lock_guard lock(m_mutex);
    return m_linkDropped;
}

int PanelSimulator::idleFramesSent() const
{
    std::lock_guard lock(m_mutex);
    return m_idleFrames;
}

QList<TraceEntry> PanelSimulator::trace() const
{
    std::lock_guard lock(m_mutex);
    return m_trace.entries();
}

void PanelSimulator::ring(quint16 port)
{
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || m_linkDropped)
            return;
        if (m_modem) {
            m_modem->startRinging();
        } else if (m_config.mode != LinkMode::Direct) { // a plain direct line has no way to call
            UdpPeer to = m_lastPeer;
            if (port != 0)
                to = UdpPeer{0x7F000001u, port};
            sendNetRingLocked(to);
        }
    }
    wake();
}

bool PanelSimulator::inject(const QByteArray &bytes, quint16 port)
{
    bool sent = false;
    {
        std::lock_guard lock(m_mutex);
        if (!m_running || m_linkDropped || bytes.isEmpty())
            return false;
        if (m_udp.isOpen()) {
            const UdpPeer to = port != 0 ? UdpPeer{0x7F000001u, port} : m_lastPeer;
            sent = to.isValid() && m_udp.send(bytes, to);
        } else if (m_pty.isOpen()) {
            m_txPending.append(bytes);
            flushTxLocked();
            sent = true;
        }
    }
    wake();
    return sent;
}

void PanelSimulator::dropLink()
{
    {
        std::lock_guard lock(m_mutex);
        if (m_running)
            dropLinkLocked();
    }
    wake();
}

// ---- I/O thread -------------------------------------------------------------------------------

void PanelSimulator::wake()
{
    int fd;
    {
        std::lock_guard lock(m_mutex);
        fd = m_wakeFd;
    }
    if (fd >= 0) {
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t n = ::write(fd, &one, sizeof one);
    }
}

void PanelSimulator::scheduleLocked(int scaledDelayMs, std::function<void()> action)
{
    m_timers.push_back(Timer{Clock::now() + std::chrono::milliseconds(qMax(0, scaledDelayMs)), std::move(action)});
}

int PanelSimulator::pollTimeoutLocked(Clock::time_point now) const
{
    Clock::time_point next = now + std::chrono::milliseconds(1000);
    for (const Timer &t : m_timers)
        next = std::min(next, t.due);
    if (m_config.mode == LinkMode::Direct && m_config.localPollMs > 0 && m_pty.isOpen())
        next = std::min(next, m_lastActivity + std::chrono::milliseconds(scaledMs(m_config.localPollMs)));
    if (!m_txPending.isEmpty())
        next = std::min(next, now + std::chrono::milliseconds(20));
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count();
    return int(std::clamp<qint64>(ms + 1, 0, 1000));
}

void PanelSimulator::runTimersLocked()
{
    const Clock::time_point now = Clock::now();
    std::vector<Timer> due;
    for (auto it = m_timers.begin(); it != m_timers.end();) {
        if (it->due <= now) {
            due.push_back(std::move(*it));
            it = m_timers.erase(it);
        } else {
            ++it;
        }
    }
    std::stable_sort(due.begin(), due.end(), [](const Timer &a, const Timer &b) { return a.due < b.due; });
    for (Timer &t : due)
        t.action();
}

void PanelSimulator::run()
{
    while (!m_stopping) {
        pollfd fds[3];
        int count = 0;
        int linkIndex = -1;
        int otherIndex = -1;
        int timeout;
        {
            std::lock_guard lock(m_mutex);
            fds[count++] = pollfd{m_wakeFd, POLLIN, 0};
            const int linkFd = m_udp.isOpen() ? m_udp.fd() : m_pty.masterFd();
            if (linkFd >= 0) {
                linkIndex = count;
                fds[count++] = pollfd{linkFd, short(POLLIN | (m_txPending.isEmpty() ? 0 : POLLOUT)), 0};
            }
            if (m_otherUdp.isOpen()) {
                otherIndex = count;
                fds[count++] = pollfd{m_otherUdp.fd(), POLLIN, 0};
            }
            timeout = pollTimeoutLocked(Clock::now());
        }
        const int ready = ::poll(fds, nfds_t(count), timeout);
        if (ready < 0 && errno != EINTR)
            break;
        if (m_stopping)
            break;
        if (fds[0].revents & POLLIN) {
            quint64 value = 0;
            [[maybe_unused]] const ssize_t n = ::read(m_wakeFd, &value, sizeof value);
        }
        std::lock_guard lock(m_mutex);
        if (linkIndex >= 0 && (fds[linkIndex].revents & (POLLIN | POLLHUP | POLLERR))) {
            if (m_udp.isOpen()) {
                QByteArray datagram;
                UdpPeer from;
                int budget = 64;
                while (budget-- > 0 && m_udp.receive(&datagram, &from))
                    onDatagramLocked(datagram, from);
            } else if (m_pty.isOpen()) {
                const QByteArray bytes = m_pty.readAvailable();
                if (!bytes.isEmpty())
                    onSerialBytesLocked(bytes);
            }
        }
        if (otherIndex >= 0 && (fds[otherIndex].revents & POLLIN)) {
            // Whatever reaches the second port is read and recorded, never answered.
            QByteArray datagram;
            UdpPeer from;
            while (m_otherUdp.receive(&datagram, &from))
                m_trace.add(QStringLiteral("in"), linkName(), datagram, QStringLiteral("datagram to the other port"));
        }
        flushTxLocked();
        runTimersLocked();
        const Clock::time_point now = Clock::now();
        idleFrameLocked(now);
        m_scanner.expire(now, kPartialFrameQuiet);
        flushTxLocked();
    }
}

void PanelSimulator::flushTxLocked()
{
    while (!m_txPending.isEmpty() && m_pty.isOpen()) {
        const qsizetype n = m_pty.write(m_txPending);
        if (n <= 0)
            break;
        m_txPending.remove(0, n);
    }
}

void PanelSimulator::idleFrameLocked(Clock::time_point now)
{
    if (m_config.mode != LinkMode::Direct || m_config.localPollMs <= 0 || !m_pty.isOpen() || m_linkDropped)
        return;
    if (m_scanner.hasPartialFrame() || !m_txPending.isEmpty())
        return;
    if (now - m_lastActivity < std::chrono::milliseconds(scaledMs(m_config.localPollMs)))
        return;
    // Idle frames are not traced: they would drown the exchanges.
    m_txPending.append(kIdleFrame);
    ++m_idleFrames;
    m_lastActivity = now;
}

void PanelSimulator::writeSerialLocked(const QByteArray &bytes, const QString &decoded, const QString &note)
{
    if (!m_pty.isOpen() || bytes.isEmpty())
        return;
    m_trace.add(QStringLiteral("out"), linkName(), bytes, decoded, note);
    m_txPending.append(bytes);
    m_lastActivity = Clock::now();
    flushTxLocked();
}

// ---- serial links -------------------------------------------------------------------------------

void PanelSimulator::onSerialBytesLocked(const QByteArray &bytes)
{
    m_lastActivity = Clock::now();
    if (m_linkDropped)
        return;
    switch (m_config.mode) {
    case LinkMode::Direct:
        m_scanner.feed(bytes, m_lastActivity);
        while (auto frame = m_scanner.next())
            handleFrameLocked(*frame, Addressing::Local);
        break;
    case LinkMode::Modem:
        if (!m_modem)
            break;
        if (m_modem->isOnline()) {
            m_modem->onlineBytes(bytes);
            m_scanner.feed(bytes, m_lastActivity);
            while (auto frame = m_scanner.next()) {
                if (!m_modem || !m_modem->isOnline())
                    break;
                handleFrameLocked(*frame, Addressing::Remote);
            }
        } else {
            m_modem->feed(bytes);
        }
        break;
    case LinkMode::EnhancedDirect:
        m_envelope.feed(bytes);
        while (auto datagram = m_envelope.next())
            handleDatagramLocked(*datagram, nullptr);
        break;
    case LinkMode::Network:
        break;
    }
}

void PanelSimulator::handleFrameLocked(const QByteArray &frame, Addressing addressing)
{
    if (!PanelFrame::hasRequestChecksum(addressing, frame)) {
        m_trace.add(QStringLiteral("in"), linkName(), frame, QStringLiteral("frame with bad checksum"));
        writeSerialLocked(PanelFrame::nak(addressing), QStringLiteral("NAK"), QStringLiteral("bad checksum received"));
        return;
    }
    const PanelRequest request = PanelResponder::describeFrame(frame);
    m_trace.add(QStringLiteral("in"), linkName(), frame,
                request.detail.isEmpty() ? request.name : request.name + QLatin1Char(' ') + request.detail);
    const Outcome outcome = respondLocked(request, addressing);
    deliverLocked(outcome, [this](const Outcome &o, bool repeat) {
        writeSerialLocked(o.garbage + o.answer, o.decoded, repeat ? QStringLiteral("duplicate") : o.note);
    });
}

// ---- requests and faults ---------------------------------------------------------------------

PanelSimulator::Outcome PanelSimulator::respondLocked(const PanelRequest &request, Addressing addressing)
{
    ++m_state.exchanges;
    ++m_state.commandCounts[request.name];
    const QList<FaultRule> faults = m_faults.takeForRequest(request.allNames(), request.numbers, m_state.exchanges);
    Outcome o;
    QStringList notes;
    const FaultRule *replace = nullptr;
    for (const FaultRule &rule : faults) {
        notes << rule.toString();
        switch (rule.kind) {
        case FaultKind::Nak:
        case FaultKind::Silence:
        case FaultKind::Refuse:
        case FaultKind::Callback:
        case FaultKind::Drop:
            if (!replace)
                replace = &rule;
            break;
        case FaultKind::BadChecksum: break;
        case FaultKind::Garbage:
            o.garbage = garbageLocked(rule.argument >= 0 ? rule.argument : 3, PanelFrame::answerAddress(addressing));
            break;
        case FaultKind::WrongSequence: o.wrongSequence = true; break;
        case FaultKind::Duplicate: o.duplicate = true; break;
        case FaultKind::Late: o.lateMs = scaledMs(rule.argument >= 0 ? rule.argument : 1500); break;
        case FaultKind::OtherPort: o.otherPort = true; break;
        case FaultKind::BadHeader: o.badHeader = true; break;
        case FaultKind::BadLength: o.announcedLength = rule.argument >= 0 ? rule.argument : 300; break;
        default: break;
        }
    }
    o.note = notes.join(QLatin1Char(' '));

    if (replace) {
        switch (replace->kind) {
        case FaultKind::Nak:
            o.answer = PanelFrame::nak(addressing);
            o.decoded = QStringLiteral("NAK");
            break;
        case FaultKind::Refuse:
            o.answer = PanelFrame::refusal(addressing, request.command == PanelResponder::ExecCommand ? request.function
                                                                                                      : request.command);
            o.decoded = QStringLiteral("refused ") + request.name;
            break;
        case FaultKind::Callback:
            o.answer = PanelFrame::callbackRequest(addressing);
            o.decoded = QStringLiteral("callback request");
            m_callbackPending = true;
            if (m_config.mode == LinkMode::Network || m_config.mode == LinkMode::EnhancedDirect) {
                scheduleLocked(scaledMs(m_config.callbackDelayMs), [this] {
                    if (m_callbackPending) {
                        m_callbackPending = false;
                        sendNetRingLocked(m_lastPeer);
                    }
                });
            }
            break;
        case FaultKind::Drop:
            o.drop = true;
            break;
        default: // silence
            break;
        }
        return o;
    }

    if (request.isProbe) {
        if (request.params == "ATA")
            m_answeredCall = true;
        else if (request.params == "LANVesk")
            m_answeredCall = false;
        o.answer = PanelResponder::probeAnswer(request.params);
        o.decoded = QString::fromLatin1(o.answer);
    } else {
        o.answer = PanelResponder::answer(m_state, request, addressing, m_answeredCall);
        if (!o.answer.isEmpty()) {
            const bool refused = o.answer.size() == 5 && static_cast<quint8>(o.answer[2]) == PanelFrame::RefusedCode;
            o.decoded = (refused ? QStringLiteral("refused ") : QStringLiteral("answer ")) + request.name;
        }
    }
    for (const FaultRule &rule : faults) {
        if (rule.kind == FaultKind::BadCrcMarker && o.answer.size() >= 7) {
            // Bytes 3-5 no longer FF FF E0; the checksum is made right again, so only the marker
            // is wrong.
            o.answer[3] = o.answer[4] = o.answer[5] = '\0';
            o.answer.chop(1);
            o.answer.append(static_cast<char>((PanelFrame::answerTarget(addressing) - PanelFrame::sum(o.answer)) & 0xFF));
            o.decoded += QStringLiteral(" (bad marker)");
        }
        if (rule.kind == FaultKind::BadChecksum && !o.answer.isEmpty())
            o.answer[o.answer.size() - 1] = static_cast<char>(static_cast<quint8>(o.answer.back()) + 1);
    }
    return o;
}

QByteArray PanelSimulator::garbageLocked(int count, quint8 avoid)
{
    QByteArray bytes;
    for (int i = 0; i < qBound(0, count, 64); ++i) {
        quint8 b = static_cast<quint8>(m_rng() & 0xFF);
        // Noise never contains the answer's address byte, the envelope marker or the probe texts' letters.
        while (b == avoid || b == 0x00 || b == 0x02 || b == 0x64 || b == 0xFF)
            b = static_cast<quint8>(m_rng() & 0xFF);
        bytes.append(static_cast<char>(b));
    }
    return bytes;
}

void PanelSimulator::deliverLocked(const Outcome &outcome, const std::function<void(const Outcome &, bool)> &send)
{
    if (outcome.drop) {
        m_trace.add(QStringLiteral("note"), linkName(), {}, QStringLiteral("link dropped"), outcome.note);
        dropLinkLocked();
        return;
    }
    if (outcome.answer.isEmpty()) {
        if (!outcome.note.isEmpty())
            m_trace.add(QStringLiteral("note"), linkName(), {}, QStringLiteral("no answer"), outcome.note);
        return;
    }
    if (outcome.lateMs > 0) {
        scheduleLocked(outcome.lateMs, [this, outcome, send] {
            if (m_linkDropped)
                return;
            send(outcome, false);
            if (outcome.duplicate)
                send(outcome, true);
        });
        return;
    }
    send(outcome, false);
    if (outcome.duplicate)
        send(outcome, true);
}

void PanelSimulator::dropLinkLocked()
{
    if (m_modem) {
        m_modem->dropCarrier();
        return;
    }
    m_linkDropped = true;
    m_txPending.clear();
    if (m_pty.isOpen())
        m_pty.close(); // the client's port sees the line hang up
}

// ---- datagrams (network and enhanced direct) --------------------------------------------------

void PanelSimulator::onDatagramLocked(const QByteArray &raw, const UdpPeer &from)
{
    if (m_linkDropped) {
        m_trace.add(QStringLiteral("in"), linkName(), raw, QStringLiteral("ignored: link dropped"));
        return;
    }
    m_lastPeer = from;
    handleDatagramLocked(raw, &from);
}

QByteArray PanelSimulator::encodeDatagramLocked(quint8 sequence, const QByteArray &payload, bool encrypt)
{
    const QByteArray datagram = DatagramCodec::encode(sequence, payload, m_state.passcode, m_config.sequenceNumbers);
    if (!encrypt)
        return datagram;
    QByteArray vector(16, '\0');
    for (char &c : vector)
        c = static_cast<char>(m_rng() & 0xFF);
    return LinkEnvelope::encrypt(datagram, m_config.linkKey, vector);
}

void PanelSimulator::handleDatagramLocked(const QByteArray &raw, const UdpPeer *from)
{
    const bool udp = from != nullptr;
    const bool keyed = udp && m_config.linkKey.size() == 32;
    QByteArray datagram = raw;
    bool encrypted = false;
    if (keyed && LinkEnvelope::hasEnvelopeLength(int(raw.size()))) {
        bool ok = false;
        datagram = LinkEnvelope::decrypt(raw, m_config.linkKey, &ok);
        if (!ok || datagram.isEmpty()) {
            m_trace.add(QStringLiteral("in"), linkName(), raw, QStringLiteral("undecipherable envelope"));
            return;
        }
        encrypted = true;
    } else if (keyed && !m_config.acceptClearWhenEncrypted) {
        m_trace.add(QStringLiteral("in"), linkName(), raw, QStringLiteral("ignored: not an encrypted envelope"));
        return;
    }
    m_lastEncrypted = encrypted;

    quint8 sequence = 0;
    QByteArray payload;
    if (!DatagramCodec::decode(datagram, m_state.passcode, m_config.sequenceNumbers, &sequence, &payload)) {
        m_trace.add(QStringLiteral("in"), linkName(), raw, QStringLiteral("empty datagram"));
        return;
    }
    const QString via = encrypted ? QStringLiteral("encrypted ") : QString();
    PanelRequest request;
    if (PanelResponder::isProbeText(payload)) {
        request = PanelResponder::describeProbe(payload);
    } else if (payload.size() >= 4 && payload[0] == '\0' && static_cast<quint8>(payload[1]) + 2 == payload.size()) {
        if (!PanelFrame::hasRequestChecksum(Addressing::Remote, payload)) {
            m_trace.add(QStringLiteral("in"), linkName(), raw,
                        via + QStringLiteral("seq %1 frame with bad checksum %2").arg(sequence).arg(QString::fromLatin1(payload.toHex())));
            Outcome nak;
            nak.answer = PanelFrame::nak(Addressing::Remote);
            nak.decoded = QStringLiteral("NAK");
            nak.note = QStringLiteral("bad checksum received");
            const QByteArray out = encodeDatagramLocked(sequence, nak.answer, encrypted);
            if (udp)
                sendDatagramLocked(out, *from, false, nak.decoded, nak.note);
            else
                writeSerialLocked(SerialEnvelope::wrap(out), nak.decoded, nak.note);
            return;
        }
        request = PanelResponder::describeFrame(payload);
    } else {
        m_trace.add(QStringLiteral("in"), linkName(), raw,
                    via + QStringLiteral("seq %1 not understood: %2").arg(sequence).arg(QString::fromLatin1(payload.toHex())));
        return;
    }
    m_trace.add(QStringLiteral("in"), linkName(), raw,
                via + QStringLiteral("seq %1 ").arg(sequence) + request.name
                    + (request.detail.isEmpty() ? QString() : QLatin1Char(' ') + request.detail));

    const Outcome outcome = respondLocked(request, Addressing::Remote);
    const UdpPeer peer = udp ? *from : UdpPeer{};
    deliverLocked(outcome, [this, sequence, encrypted, udp, peer](const Outcome &o, bool repeat) {
        const quint8 seq = o.wrongSequence ? static_cast<quint8>(sequence == 255 ? 1 : sequence + 1) : sequence;
        const QByteArray out = encodeDatagramLocked(seq, o.garbage + o.answer, encrypted);
        const QString note = repeat ? QStringLiteral("duplicate") : o.note;
        const QString decoded = QStringLiteral("seq %1 ").arg(seq) + o.decoded;
        if (udp)
            sendDatagramLocked(out, peer, o.otherPort, decoded, note);
        else
            writeSerialLocked(serialEnvelope(out, o), decoded, note);
    });
}

QByteArray PanelSimulator::serialEnvelope(const QByteArray &datagram, const Outcome &outcome)
{
    QByteArray envelope = SerialEnvelope::wrap(datagram);
    if (envelope.isEmpty())
        return envelope;
    if (outcome.badHeader)
        envelope[0] = '\x03';
    if (outcome.announcedLength >= 0) {
        envelope[5] = static_cast<char>((outcome.announcedLength >> 8) & 0xFF);
        envelope[6] = static_cast<char>(outcome.announcedLength & 0xFF);
    }
    return envelope;
}

void PanelSimulator::sendDatagramLocked(const QByteArray &datagram, const UdpPeer &to, bool fromOtherPort,
                                        const QString &decoded, const QString &note)
{
    UdpPort &port = fromOtherPort ? m_otherUdp : m_udp;
    const bool sent = port.send(datagram, to);
    m_trace.add(QStringLiteral("out"), linkName(), datagram, decoded,
                (note + (fromOtherPort ? QStringLiteral(" from port %1").arg(port.port()) : QString())
                 + (sent ? QString() : QStringLiteral(" (send failed)"))).trimmed());
}

void PanelSimulator::sendNetRingLocked(const UdpPeer &to)
{
    // A sequence byte whose key is not zero, like every sender on this link.
    quint8 sequence = 0;
    do {
        sequence = static_cast<quint8>(1 + m_rng() % 255);
    } while (m_config.sequenceNumbers && DatagramCodec::sequenceKey(m_state.passcode, sequence) == 0);
    const bool encrypt = m_config.mode == LinkMode::Network && m_config.linkKey.size() == 32;
    const QByteArray out = encodeDatagramLocked(sequence, QByteArrayLiteral("LANVesk"), encrypt);
    if (m_config.mode == LinkMode::Network) {
        if (!to.isValid()) {
            m_trace.add(QStringLiteral("note"), linkName(), {}, QStringLiteral("net-ring: nobody to call"));
            return;
        }
        sendDatagramLocked(out, to, false, QStringLiteral("seq %1 net-ring LANVesk").arg(sequence), {});
    } else {
        writeSerialLocked(SerialEnvelope::wrap(out), QStringLiteral("seq %1 net-ring LANVesk").arg(sequence));
    }
}

} // namespace panelsim
