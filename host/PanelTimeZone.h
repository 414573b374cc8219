// The panel clock in a site's own time zone: the clock job writes this computer's local time plus
// a whole number of hours (TimeOffsetHours), so a zone (IANA name) becomes the hours between that
// zone and this computer's local time at the moment of the run, daylight saving included on both
// sides. A difference that is not whole hours (Asia/Kolkata against UTC) cannot be written.
#pragma once

#include <QDateTime>
#include <QString>

#include <optional>

namespace paneltime {

// Whether `name` is a time zone this computer knows.
bool knownZone(const QString &name);

// The moment whose offsets count: QUARVO_CLOCK_MOMENT (ISO 8601 with a zone, e.g.
// "2026-03-08T06:30:00Z"; lets a check stand on either side of a daylight-saving change) when set,
// else now. None with the reason when the variable holds no such moment.
std::optional<QDateTime> offsetMoment(QString *error = nullptr);

// The hours to add to this computer's local time at `moment` to get the local time of `zone` then;
// none, with a message that names the zone and both offsets, when the difference is not whole hours
// or the zone is unknown.
std::optional<int> hoursFor(const QString &zone, const QDateTime &moment, QString *error = nullptr);

} // namespace paneltime
