#include "external/DateConverter.h"

#include <QDate>
#include <QTime>

DateConverter::DateConverter(const QLocale &locale)
    : m_locale(locale)
{
}

QString DateConverter::BuildDate(std::uint8_t month, std::uint8_t day, std::uint8_t year) const
{
    if (year > 99)
        return {};
    const QDate date(2000 + year, month, day); // invalid for a month or day out of range
    if (!date.isValid())
        return {};
    return m_locale.toString(date, QLocale::ShortFormat);
}

QString DateConverter::BuildTimeString(std::uint8_t hour, std::uint8_t minute, std::int32_t second,
                                       std::int16_t amPm) const
{
    if (second < 0 || second > 59)
        return {};
    int hour24 = hour;
    if (amPm == kAm || amPm == kPm) {
        if (hour > 12)
            return {};
        hour24 = hour % 12 + (amPm == kPm ? 12 : 0);
    } else if (amPm != kAmPmNotGiven) {
        return {};
    }
    const QTime time(hour24, minute, second); // invalid for an hour or minute out of range
    if (!time.isValid())
        return {};
    // The locale's short time has no seconds, so a time with seconds is always written in full.
    if (second != 0)
        return time.toString(QStringLiteral("HH:mm:ss"));
    if (amPm != kAmPmNotGiven)
        return time.toString(QStringLiteral("HH:mm"));
    return m_locale.toString(time, QLocale::ShortFormat);
}
