// What one quarvo-host child's end means for the fleet: success, a failure worth another attempt
// (the panel did not answer, the link was lost, time ran out), a refusal that another attempt
// would only repeat (passcode, data lock, a refused request, settings quarvo-host would not take),
// or an abort. Read from the child's exit status, its last event 3 and the error number of its
// final line.
#pragma once

#include "FleetDatabase.h"

#include <QDate>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>
#include <vector>

namespace outcome {

enum class Kind { Success, Retry, Refused, Aborted };

struct ChildEnd
{
    int exitStatus = 0;
    bool crashed = false;        // ended by a signal
    bool stoppedByRunner = false; // the runner ended it (SIGTERM to the runner, or its own time limit)
    bool overTime = false;       // the runner's time limit for one session passed
    QString ending;              // the text of the last event 3
    QString finalLine;           // quarvo-host's last line on standard error, without its prefix
};

struct Outcome
{
    Kind kind = Kind::Retry;
    QString result; // as stored: success, failed, refused, aborted
    std::optional<qint64> errorNumber;
    QString errorText;
};

Outcome classify(const ChildEnd &end);

// The error number (0x8004....) a final line names, if any, as an unsigned 32-bit value.
std::optional<qint64> errorNumberIn(const QString &line);

// The host events of a run from the JSON lines quarvo-host wrote with --events; the bytes of
// event 13 are left out (the decoded history keeps them). `ending` gets the text of the last event 3.
std::vector<EventRow> eventsFrom(const QByteArray &lines, QString *ending, QStringList *tags);

// History rows from the decoded records quarvo-host wrote with --history. The panel's time stamps
// carry no year: an event is taken to lie within the year up to `today` (the panel's local date).
// The fingerprint of a valid event is its date, time, main and modifier slots and how many equal
// events came before it in the same read; an invalid slot is told by its bytes and the valid event
// that follows it (or, at the end, precedes it). So a range read twice yields the same fingerprints.
std::vector<HistoryRow> historyFrom(const QByteArray &lines, const QDate &today, const QString &readAt);

} // namespace outcome
