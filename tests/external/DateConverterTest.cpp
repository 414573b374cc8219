// The date converter: panel date and time bytes to text, the AM/PM flag, and bytes that are no
// date or time.
#include <gtest/gtest.h>

#include "external/DateConverter.h"

namespace {

const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kDe(QLocale::German, QLocale::Germany);

} // namespace

TEST(DateConverterTest, DatesInTheLocalesShortForm)
{
    const struct
    {
        int month, day, year;
        QString us, de; // empty: no date
    } cases[] = {
        {3, 9, 24, QStringLiteral("3/9/24"), QStringLiteral("09.03.24")},
        {12, 31, 7, QStringLiteral("12/31/07"), QStringLiteral("31.12.07")},
        {2, 29, 24, QStringLiteral("2/29/24"), QStringLiteral("29.02.24")},
        {2, 29, 23, {}, {}}, // not a leap year
        {13, 1, 24, {}, {}},
        {4, 31, 24, {}, {}},
        {1, 1, 100, {}, {}}, // not a two-digit year
    };
    const DateConverter us(kUs);
    const DateConverter de(kDe);
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.month << '/' << c.day << '/' << c.year);
        const auto m = static_cast<std::uint8_t>(c.month);
        const auto d = static_cast<std::uint8_t>(c.day);
        const auto y = static_cast<std::uint8_t>(c.year);
        EXPECT_EQ(us.BuildDate(m, d, y), c.us);
        EXPECT_EQ(de.BuildDate(m, d, y), c.de);
    }
}

TEST(DateConverterTest, TimesWithThePanelsAmPmFlagAreUnambiguous)
{
    constexpr auto am = DateConverter::kAm;
    constexpr auto pm = DateConverter::kPm;
    const struct
    {
        int hour, minute, second, flag;
        QString expected; // empty: no time
    } cases[] = {
        {1, 5, 0, pm, QStringLiteral("13:05")},
        {1, 5, 0, am, QStringLiteral("01:05")},
        {12, 30, 0, pm, QStringLiteral("12:30")}, // noon
        {0, 15, 0, am, QStringLiteral("00:15")},  // midnight as the panel sends it
        {12, 15, 0, am, QStringLiteral("00:15")}, // midnight on a conventional 12-hour clock
        {11, 59, 0, pm, QStringLiteral("23:59")},
        {1, 5, 7, pm, QStringLiteral("13:05:07")},
        {13, 0, 0, pm, {}},
        {5, 60, 0, am, {}},
        {5, 0, 60, am, {}},
        {5, 0, 0, 2, {}},
        {24, 0, 0, DateConverter::kAmPmNotGiven, {}},
    };
    for (const QLocale &locale : {QLocale::c(), kUs, kDe, QLocale(QLocale::Japanese, QLocale::Japan)}) {
        const DateConverter converter(locale);
        for (const auto &c : cases) {
            SCOPED_TRACE(testing::Message() << locale.name().toStdString() << ' ' << c.hour << ':' << c.minute
                                            << ':' << c.second << " flag " << c.flag);
            EXPECT_EQ(converter.BuildTimeString(static_cast<std::uint8_t>(c.hour), static_cast<std::uint8_t>(c.minute),
                                                c.second, static_cast<std::int16_t>(c.flag)),
                      c.expected);
        }
    }
}

TEST(DateConverterTest, TimesWithoutTheFlagUseTheLocalesShortForm)
{
    const QString us = DateConverter(kUs).BuildTimeString(13, 5, 0);
    EXPECT_TRUE(us.startsWith(QStringLiteral("1:05"))) << us.toStdString();
    EXPECT_TRUE(us.endsWith(QStringLiteral("PM"))) << us.toStdString();
    EXPECT_EQ(DateConverter(kDe).BuildTimeString(13, 5, 0), QStringLiteral("13:05"));
}
