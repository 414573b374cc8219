// The month calendar: the grid layout per locale, day clamping when stepping, selection by click,
// and the names taken from the control's locale.
#include <gtest/gtest.h>

#include "controls/Calendar.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

namespace {

const QLocale kUs(QLocale::English, QLocale::UnitedStates);
const QLocale kDe(QLocale::German, QLocale::Germany);

std::unique_ptr<Calendar> makeCalendar(const QDate &today, const QLocale &locale = kUs)
{
    auto calendar = std::make_unique<Calendar>(nullptr, [today] { return today; });
    calendar->setLocale(locale);
    return calendar;
}

// The day numbers of the shown cells, 0 for a hidden cell.
std::vector<int> gridNumbers(const Calendar &calendar)
{
    std::vector<int> numbers;
    for (int i = 1; i <= Calendar::kCells; ++i) {
        const QLabel *cell = calendar.lblDay(i);
        numbers.push_back(cell->isHidden() ? 0 : cell->text().toInt());
    }
    return numbers;
}

} // namespace

TEST(CalendarTest, GridStartsOnTheLocalesFirstWeekday)
{
    struct Case
    {
        QLocale locale;
        QDate month;
        int firstCell; // cell holding day 1
        int rows;      // rows in use
    };
    const Case cases[] = {
        {kUs, QDate(2025, 3, 1), 7, 6},  // Saturday: last column under a Sunday-first week
        {kDe, QDate(2025, 6, 1), 7, 6},  // Sunday: last column under a Monday-first week
        {kDe, QDate(2025, 3, 1), 6, 6},  // the same March one column earlier in German
        {kUs, QDate(2015, 2, 14), 1, 4}, // 28 days from a Sunday fill exactly four rows
    };
    for (const Case &c : cases) {
        SCOPED_TRACE((c.locale.name() + QLatin1Char(' ') + c.month.toString(Qt::ISODate)).toStdString());
        auto calendar = makeCalendar(c.month, c.locale);
        const std::vector<int> numbers = gridNumbers(*calendar);
        const int days = c.month.daysInMonth();
        for (int i = 1; i <= Calendar::kCells; ++i) {
            const int expected = (i >= c.firstCell && i < c.firstCell + days) ? i - c.firstCell + 1 : 0;
            ASSERT_EQ(numbers[i - 1], expected) << "cell " << i;
        }
        EXPECT_EQ((c.firstCell + days - 2) / Calendar::kColumns + 1, c.rows);
        EXPECT_EQ(calendar->selectedCell(), c.firstCell + c.month.day() - 1);
    }
}

TEST(CalendarTest, SteppingKeepsTheDayInsideTheMonth)
{
    struct Case
    {
        const char *what;
        QDate start;
        void (Calendar::*step)();
        QDate expected;
    };
    const Case cases[] = {
        {"31 Jan + month, leap year", QDate(2024, 1, 31), &Calendar::NextMonth, QDate(2024, 2, 29)},
        {"31 Jan + month", QDate(2023, 1, 31), &Calendar::NextMonth, QDate(2023, 2, 28)},
        {"29 Feb + year", QDate(2024, 2, 29), &Calendar::NextYear, QDate(2025, 2, 28)},
        {"29 Feb - year", QDate(2024, 2, 29), &Calendar::PreviousYear, QDate(2023, 2, 28)},
        {"new year's eve + day", QDate(2024, 12, 31), &Calendar::NextDay, QDate(2025, 1, 1)},
        {"1 Mar - day, leap year", QDate(2024, 3, 1), &Calendar::PreviousDay, QDate(2024, 2, 29)},
        {"28 Dec + week", QDate(2024, 12, 28), &Calendar::NextWeek, QDate(2025, 1, 4)},
        {"3 Jan - week", QDate(2025, 1, 3), &Calendar::PreviousWeek, QDate(2024, 12, 27)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        auto calendar = makeCalendar(c.start);
        QSignalSpy changed(calendar.get(), &Calendar::valueChanged);
        (calendar.get()->*c.step)();
        EXPECT_EQ(calendar->Value(), c.expected);
        EXPECT_EQ(calendar->tbYear->text(), QString::number(c.expected.year()));
        EXPECT_EQ(calendar->tbMonth->text(), kUs.standaloneMonthName(c.expected.month()));
        EXPECT_EQ(calendar->tbLongDate->text(), kUs.toString(c.expected, QLocale::LongFormat));
        EXPECT_EQ(calendar->lblDay(calendar->selectedCell())->text().toInt(), c.expected.day());
        ASSERT_EQ(changed.count(), 1);
        EXPECT_EQ(changed.at(0).at(0).toDate(), c.expected);
    }
}

TEST(CalendarTest, ButtonsSettersAndTodayClampTheDayToo)
{
    QDate today(2024, 1, 31);
    Calendar calendar(nullptr, [&today] { return today; });
    calendar.setLocale(kUs);
    EXPECT_EQ(calendar.Value(), today);
    QTest::mouseClick(calendar.cmdNextMonth, Qt::LeftButton);
    EXPECT_EQ(calendar.Value(), QDate(2024, 2, 29));
    EXPECT_TRUE(calendar.lblDay(5 + 29)->isHidden()); // 1 Feb 2024 is in cell 5: no day 30
    QTest::mouseClick(calendar.cmdNextYear, Qt::LeftButton);
    QTest::mouseClick(calendar.cmdPreviousYear, Qt::LeftButton);
    QTest::mouseClick(calendar.cmdPreviousMonth, Qt::LeftButton);
    EXPECT_EQ(calendar.Value(), QDate(2024, 1, 28));

    calendar.setValue(QDate(2023, 1, 31));
    calendar.setMonth(2);
    calendar.setDay(31);
    calendar.setMonth(13); // no month, no day, no date: ignored
    calendar.setDay(0);
    calendar.setValue(QDate());
    EXPECT_EQ(calendar.Value(), QDate(2023, 2, 28));

    today = QDate(2028, 2, 29);
    calendar.MoveToToday(false); // 29 February in a common year: its last day
    EXPECT_EQ(calendar.Value(), QDate(2023, 2, 28));
    calendar.Today();
    EXPECT_EQ(calendar.Value(), today);
}

TEST(CalendarTest, ClickingADaySelectsItAndShowsItsLongDate)
{
    auto calendar = makeCalendar(QDate(2025, 3, 10)); // March 2025 starts in cell 7 (Saturday)
    calendar->show();
    QSignalSpy changed(calendar.get(), &Calendar::valueChanged);
    const int before = calendar->selectedCell();
    ASSERT_EQ(before, 16);

    QTest::mouseClick(calendar->lblDay(7 + 20), Qt::LeftButton); // day 21
    EXPECT_EQ(calendar->Day(), 21);
    EXPECT_EQ(calendar->selectedCell(), 27);
    EXPECT_EQ(calendar->lblDay(27)->backgroundRole(), QPalette::Dark);
    EXPECT_EQ(calendar->lblDay(before)->backgroundRole(), QPalette::Button);
    EXPECT_EQ(calendar->tbLongDate->text(), QStringLiteral("Friday, March 21, 2025"));
    ASSERT_EQ(changed.count(), 1);
    EXPECT_EQ(changed.at(0).at(0).toDate(), QDate(2025, 3, 21));

    // Stepping after a click starts from the clicked day.
    calendar->NextWeek();
    EXPECT_EQ(calendar->Value(), QDate(2025, 3, 28));
    EXPECT_EQ(calendar->lblDay(27)->backgroundRole(), QPalette::Button);
    EXPECT_EQ(calendar->lblDay(34)->backgroundRole(), QPalette::Dark);
}

TEST(CalendarTest, NamesFollowTheControlsLocale)
{
    auto calendar = makeCalendar(QDate(2025, 3, 1));
    EXPECT_EQ(calendar->tbMonth->text(), QStringLiteral("March"));
    EXPECT_EQ(calendar->lblHead(1)->text(), QStringLiteral("Sun"));

    calendar->setLocale(kDe);
    EXPECT_EQ(calendar->tbMonth->text(), QStringLiteral("März"));
    EXPECT_EQ(calendar->lblHead(1)->text(), QStringLiteral("Mo"));
    EXPECT_EQ(calendar->lblHead(7)->text(), QStringLiteral("So"));
    EXPECT_EQ(calendar->tbLongDate->text(), QStringLiteral("Samstag, 1. März 2025"));
    EXPECT_EQ(calendar->lblDay(6)->text(), QStringLiteral("1")); // Monday-first: Saturday is column 6
}
