// The one place every fixed pause and protocol wait goes through. All durations run on the
// monotonic clock, and the environment variable QUARVO_TIME_SCALE (a positive factor, default 1)
// shrinks or stretches every one of them so tests can run a session quickly.
#pragma once

#include <QDateTime>
#include <QtGlobal>

#include <chrono>
#include <functional>

namespace Timing {

// The factor read from QUARVO_TIME_SCALE at first use (1.0 when unset or invalid).
double scale();
// Overrides the factor (tests); a value <= 0 restores the environment's.
void setScale(double factor);

// `ms` milliseconds of protocol time in real milliseconds (at least 1 when ms > 0).
qint64 scaled(qint64 ms);

// The computer's local date and time of day: the one reading of "now" for everything that shows or
// sends the time of day (never for waits, which run on the monotonic clock). Tests replace the
// source; an empty source restores the computer's clock.
QDateTime currentDateTime();
void setCurrentDateTimeSource(std::function<QDateTime()> source);

// Monotonic milliseconds since an arbitrary start.
qint64 nowMs();

// Sleeps `ms` milliseconds of protocol time without running events.
void sleep(qint64 ms);

// Waits `ms` milliseconds of protocol time while letting pending events run (bounded slices; does
// not burn a core).
void pauseWithEvents(qint64 ms);

// A monotonic deadline expressed in protocol time.
class Deadline
{
public:
    explicit Deadline(qint64 ms);
    bool expired() const;
    qint64 remainingMs() const; // real milliseconds, 0 when expired
private:
    qint64 m_end;
};

} // namespace Timing
