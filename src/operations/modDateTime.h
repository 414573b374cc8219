// The panel clock: how a moment of the computer's clock, shifted by the panel time adjustment,
// becomes the six bytes of "Change Panel Date", and the unattended clock write that sends them
// without a window.
//
// The bytes, in order: month 1..12, day 1..31, the last two digits of the year, the hour on the
// panel's 12-hour coding (00:xx is 0, 01..12 stay, 13..23 become 1..11), the minute, and the
// AM/PM flag (0 AM, 1 PM: hour 12 or later). Hour and minute come from one reading of the clock
// and never from a formatted text, so every locale gives the same bytes.
#pragma once

#include <QDateTime>

#include <cstdint>

namespace modDateTime {

struct PanelClockBytes
{
    std::uint8_t month = 0;
    std::uint8_t day = 0;
    std::uint8_t year = 0;
    std::uint8_t hour = 0;
    std::uint8_t minute = 0;
    std::uint8_t amPm = 0;
    // The local date and time the bytes stand for (what the host hears with "SET_TIME").
    QDateTime moment;
};

// `now` shifted by `adjustmentHours` on the wall clock (the hour through TimeOffset, its day carry
// onto the date), coded for the panel.
PanelClockBytes panelClockFor(const QDateTime &now, std::int16_t adjustmentHours);

// The unattended clock job: the computer's time (Timing::currentDateTime) shifted by the host
// settings' TimeOffsetHours, queued as "Change Panel Date" owned by the queue window with the
// priority `iPriority` and auto 0. The queue window's own answer handler takes the answer (a
// refusal ends the session); the host hears no "SET_TIME". When the command cannot be queued the
// session ends (goodbye code 0, session result 5). Returns 0 or the error number.
std::int32_t UnattendedSetDateTime(std::int16_t iPriority = 5);

} // namespace modDateTime
