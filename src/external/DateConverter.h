// The date converter: turns the panel's date and time bytes into display text in the locale's
// short date and time forms. Anything that is no date or no time gives an empty text.
#pragma once

#include <QLocale>
#include <QString>

#include <cstdint>

class DateConverter
{
public:
    // The AM/PM flag of BuildTimeString: not given, or the panel's 0 (AM) and 1 (PM).
    static constexpr std::int16_t kAmPmNotGiven = -1;
    static constexpr std::int16_t kAm = 0;
    static constexpr std::int16_t kPm = 1;

    explicit DateConverter(const QLocale &locale = QLocale());

    // Month 1..12, day 1..31 and the last two digits of a year 2000..2099 as the locale's short date
    // (for example "3/9/24" in US English, "09.03.24" in German).
    QString BuildDate(std::uint8_t month, std::uint8_t day, std::uint8_t year) const;

    // Hour, minute and second (0..59) as time text. Without the AM/PM flag the hour is a 24-hour
    // value 0..23 shown in the locale's short time form. With the flag the hour is on the panel's
    // 12-hour clock (0 or 12 stands for the twelve o'clock hour of that half of the day) and the text
    // is the 24-hour form "HH:mm", the same in every locale, so morning and afternoon can never be
    // confused. A second other than 0 gives "HH:mm:ss" (the locale's short form has no seconds).
    QString BuildTimeString(std::uint8_t hour, std::uint8_t minute, std::int32_t second,
                            std::int16_t amPm = kAmPmNotGiven) const;

private:
    QLocale m_locale;
};
