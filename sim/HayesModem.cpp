#include "HayesModem.h"

namespace panelsim {

namespace {

int numericCode(const QString &verbal)
{
    if (verbal == QLatin1String("OK")) return 0;
    if (verbal == QLatin1String("CONNECT")) return 1;
    if (verbal == QLatin1String("RING")) return 2;
    if (verbal == QLatin1String("NO CARRIER")) return 3;
    if (verbal == QLatin1String("ERROR")) return 4;
    if (verbal == QLatin1String("BUSY")) return 7;
    return 4;
}

} // namespace

HayesModem::HayesModem(Hooks hooks, Settings settings)
    : m_hooks(std::move(hooks)), m_defaults(settings), m_settings(settings)
{
}

QByteArray HayesModem::resultText(const QString &verbal, bool numeric)
{
    if (numeric)
        return QByteArray::number(numericCode(verbal)) + '\r';
    return "\r\n" + verbal.toLatin1() + "\r\n";
}

void HayesModem::result(const QString &verbal)
{
    m_hooks.write(resultText(verbal, m_settings.numeric));
}

void HayesModem::feed(const QByteArray &bytes)
{
    for (const char c : bytes) {
        if (c == '\r') {
            const QByteArray raw = m_line;
            m_line.clear();
            handleLine(QString::fromLatin1(raw));
        } else if (c == '\n') {
            continue;
        } else if (m_line.size() < 256) {
            m_line.append(c);
        }
    }
}

void HayesModem::handleLine(const QString &rawLine)
{
    const QString line = rawLine.trimmed();
    // A lone carriage return is ignored, as is anything that is not a command.
    if (line.isEmpty() || !line.startsWith(QLatin1String("AT"), Qt::CaseInsensitive))
        return;
    ++m_commands;
    const QString upper = line.toUpper();
    const bool dial = upper.startsWith(QLatin1String("ATD"));
    const bool answer = upper == QLatin1String("ATA");
    const QList<FaultRule> faults = m_hooks.faults ? m_hooks.faults(line, dial || answer) : QList<FaultRule>();
    auto has = [&faults](FaultKind k) {
        for (const FaultRule &r : faults)
            if (r.kind == k)
                return true;
        return false;
    };
    if (m_hooks.commandSeen)
        m_hooks.commandSeen(line, rawLine.toLatin1());
    if (has(FaultKind::Mute))
        return;
    if (m_settings.echo)
        m_hooks.write(line.toLatin1() + '\r');
    if (has(FaultKind::Error)) {
        result(QStringLiteral("ERROR"));
        return;
    }

    if (dial || answer) {
        if (m_carrier) {
            result(QStringLiteral("ERROR"));
            return;
        }
        m_ringing = false;
        m_state = dial ? State::Dialing : State::Answering;
        const int generation = ++m_generation;
        if (has(FaultKind::DialSilence))
            return; // the modem never reports anything for this call
        QString outcome = QStringLiteral("CONNECT");
        if (has(FaultKind::Busy) && dial)
            outcome = QStringLiteral("BUSY");
        else if (has(FaultKind::NoCarrier) || has(FaultKind::Busy))
            outcome = QStringLiteral("NO CARRIER");
        m_hooks.schedule(m_settings.connectDelayMs, [this, generation, outcome, answer] {
            if (generation != m_generation)
                return;
            if (outcome == QLatin1String("CONNECT")) {
                result(outcome);
                goOnline(answer);
            } else {
                m_state = State::Command;
                result(outcome);
            }
        });
        return;
    }

    if (upper.startsWith(QLatin1String("ATH"))) {
        ++m_generation;
        m_ringing = false;
        m_state = State::Command;
        result(QStringLiteral("OK"));
        hangUp();
        return;
    }
    if (upper.startsWith(QLatin1String("ATO"))) {
        if (!m_carrier) {
            result(QStringLiteral("NO CARRIER"));
            return;
        }
        result(QStringLiteral("CONNECT"));
        m_state = State::Online;
        return;
    }
    if (upper.startsWith(QLatin1String("ATZ")) || upper.startsWith(QLatin1String("AT&F")))
        m_settings = m_defaults;
    // Simple settings anywhere on the line: E0/E1 echo, V0/V1 result form.
    for (int i = 2; i + 1 < upper.size(); ++i) {
        const QChar flag = upper[i];
        const QChar value = upper[i + 1];
        if (value != QLatin1Char('0') && value != QLatin1Char('1'))
            continue;
        if (flag == QLatin1Char('E'))
            m_settings.echo = value == QLatin1Char('1');
        else if (flag == QLatin1Char('V'))
            m_settings.numeric = value == QLatin1Char('0');
    }
    result(QStringLiteral("OK"));
}

void HayesModem::goOnline(bool answered)
{
    m_state = State::Online;
    m_carrier = true;
    m_plusRun = 0;
    ++m_generation;
    if (m_hooks.connected)
        m_hooks.connected(answered);
}

void HayesModem::hangUp()
{
    const bool had = m_carrier;
    m_carrier = false;
    m_line.clear();
    if (had && m_hooks.carrierLost)
        m_hooks.carrierLost();
}

void HayesModem::onlineBytes(const QByteArray &bytes)
{
    const int generation = ++m_rxGeneration;
    for (const char c : bytes)
        m_plusRun = (c == '+') ? m_plusRun + 1 : 0;
    if (m_plusRun != 3)
        return;
    // Three pluses and then silence for the guard time: back to command state, carrier kept.
    m_hooks.schedule(m_settings.guardMs, [this, generation] {
        if (generation != m_rxGeneration || m_state != State::Online)
            return;
        m_plusRun = 0;
        m_state = State::Command;
        m_line.clear();
        result(QStringLiteral("OK"));
    });
}

void HayesModem::startRinging(int maxRings)
{
    if (m_carrier || m_state != State::Command)
        return;
    m_ringing = true;
    ringOnce(++m_generation, maxRings);
}

void HayesModem::ringOnce(int generation, int remaining)
{
    if (generation != m_generation || !m_ringing || remaining <= 0) {
        if (generation == m_generation)
            m_ringing = false;
        return;
    }
    result(QStringLiteral("RING"));
    m_hooks.schedule(m_settings.ringIntervalMs, [this, generation, remaining] { ringOnce(generation, remaining - 1); });
}

void HayesModem::dropCarrier()
{
    ++m_generation;
    m_ringing = false;
    const bool had = m_carrier || m_state != State::Command;
    m_state = State::Command;
    if (had)
        result(QStringLiteral("NO CARRIER"));
    hangUp();
}

} // namespace panelsim
