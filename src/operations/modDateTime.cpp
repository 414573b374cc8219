#include "operations/modDateTime.h"

#include "core/ErrorCodes.h"
#include "core/Errors.h"
#include "core/HostObjects.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "link/modExecFunctions.h"
#include "platform/Timing.h"
#include "queue/SessionEnd.h"
#include "queue/MessageQueue.h"

namespace modDateTime {

namespace {
const QString kModule = QStringLiteral("modDateTime");
} // namespace

PanelClockBytes panelClockFor(const QDateTime &now, std::int16_t adjustmentHours)
{
    const QTime time = now.time();
    std::int16_t hour = 0;
    const std::int16_t carry = modGlobals::TimeOffset(static_cast<std::int16_t>(time.hour()), adjustmentHours, hour);
    const QDate date = now.date().addDays(carry);

    PanelClockBytes bytes;
    bytes.month = static_cast<std::uint8_t>(date.month());
    bytes.day = static_cast<std::uint8_t>(date.day());
    bytes.year = static_cast<std::uint8_t>(date.year() % 100);
    bytes.hour = static_cast<std::uint8_t>(hour >= 13 ? hour - 12 : hour);
    bytes.minute = static_cast<std::uint8_t>(time.minute());
    bytes.amPm = hour >= 12 ? 1 : 0;
    bytes.moment = QDateTime(date, QTime(hour, time.minute(), time.second(), time.msec()));
    return bytes;
}

std::int32_t UnattendedSetDateTime(std::int16_t iPriority)
{
    const std::int32_t rc = errors::guarded(kModule, QStringLiteral("UnattendedSetDateTime()"), [&] {
        SessionState &state = sessionState();
        const std::shared_ptr<HostSettings> settings = state.hostSettings;
        const std::int16_t adjustment = settings ? settings->TimeOffsetHours() : 0;
        const PanelClockBytes b = panelClockFor(Timing::currentDateTime(), adjustment);
        MessageQueue *queue = state.messageQueue;
        const std::int32_t queued = modExecFunctions::SMChangeDateTime(b.month, b.day, b.year, b.hour, b.minute, b.amPm,
                                                                       queue, iPriority, false);
        if (queued != 0)
            raiseError(ErrorCode::SendRefused, QStringLiteral("the clock write could not be queued"));
    });
    if (rc != 0)
        modGlobals::Disconnect(false, 5);
    return rc;
}

} // namespace modDateTime
