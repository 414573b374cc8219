// Scripted misbehaviour. A rule names what goes wrong, for which request, and how often:
//
//   KIND[=ARG][@TARGET][*TIMES]
//
// TARGET is a command name ("Passcode Verification", or a short alias such as passcode, status,
// keepalive, datalock, read, write, crc, eventindex, eventlog, setindex, date, setdate, goodbye,
// exclusive, null), command numbers ("20/32", "15"), "#N" for the N-th exchange, or for modem
// faults the start of an AT command ("ATDT", "AT&F"). No target matches everything. TIMES is how
// many times the rule fires (default 1, 0 = every time).
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace panelsim {

enum class FaultKind {
    // Panel frames and datagrams.
    Nak,           // answer with a NAK frame instead
    Silence,       // no answer
    BadChecksum,   // answer with a wrong checksum byte
    Garbage,       // ARG bytes (default 3) of noise before the answer
    WrongSequence, // answer carries another sequence byte
    Duplicate,     // answer sent twice
    Late,          // answer held back ARG ms (default 1500)
    OtherPort,     // answer sent from another UDP port
    Callback,      // answer with a callback request
    Refuse,        // answer with result code 2 (refused)
    Drop,          // link dropped instead of answering
    BadCrcMarker,  // CRC answer with bytes 3-5 other than FF FF E0 (the frame itself stays valid)
    // Enhanced direct envelope.
    BadHeader,     // the answer's envelope starts with 3 instead of 2
    BadLength,     // the answer's envelope announces ARG bytes (default 300), whatever follows
    // Modem.
    Busy,          // dial answered by BUSY
    NoCarrier,     // dial (or answer) ends in NO CARRIER
    DialSilence,   // dial never answered
    Mute,          // the modem ignores the command entirely
    Error,         // the modem answers ERROR (a rejected init string)
};

struct FaultRule
{
    FaultKind kind = FaultKind::Nak;
    QString target;  // empty = any
    int times = 1;   // 0 = unlimited
    int argument = -1;
    int fired = 0;

    bool isModemFault() const;
    QString toString() const;
};

class FaultScript
{
public:
    static std::optional<FaultRule> parse(const QString &text, QString *error = nullptr);
    static QString kindName(FaultKind kind);

    void add(const FaultRule &rule) { m_rules.append(rule); }
    void clear() { m_rules.clear(); }
    const QList<FaultRule> &rules() const { return m_rules; }

    // Rules for a panel request (names: canonical name and aliases; numbers: "20/32" and "20"),
    // exchange is the 1-based number of the request. Each returned rule counts one use.
    QList<FaultRule> takeForRequest(const QStringList &names, const QStringList &numbers, int exchange);
    // Rules for a modem command line (AT text), n-th command since start. Dial faults (busy,
    // nocarrier, nodial) are only taken by dial and answer commands.
    QList<FaultRule> takeForModem(const QString &command, int commandNumber, bool dialOrAnswer);

private:
    QList<FaultRule> take(const std::function<bool(const FaultRule &)> &eligible,
                          const std::function<bool(const QString &)> &matches, int exchange);

    QList<FaultRule> m_rules;
};

} // namespace panelsim
