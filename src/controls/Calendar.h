// The month calendar: keeps a year, month and day, shows them as a six-week grid of day numbers
// with the long date, the month name and the year above and below it, and steps by day, week,
// month and year. Names of months and weekdays come from the control's QLocale, all date
// arithmetic from QDate. The grid's first column is the first day of the week of that same locale
// (Sunday in US English, Monday in the C locale and most of Europe), so the headers, the names and
// the order of the days always agree.
#pragma once

#include <QDate>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>

class QLabel;
class QLineEdit;
class QPushButton;

class Calendar : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QDate Value READ Value WRITE setValue NOTIFY valueChanged)
public:
    // Where "today" comes from; tests inject a fixed date, the default reads the computer's clock.
    using TodaySource = std::function<QDate()>;

    static constexpr int kColumns = 7;
    static constexpr int kRows = 6;
    static constexpr int kCells = kColumns * kRows;

    // Starts at today's date (from `today`, or the computer's clock when it is empty).
    explicit Calendar(QWidget *parent = nullptr, TodaySource today = {});

    // The public members, in the order of the control's interface. Setters ignore values that are
    // no date (month outside 1..12, day below 1, year outside 1..9999); a day beyond the end of the
    // month becomes the month's last day.
    std::int16_t Day() const { return m_day; }
    void setDay(std::int16_t day);
    std::int16_t Month() const { return m_month; }
    void setMonth(std::int16_t month);
    QDate Value() const { return QDate(m_year, m_month, m_day); }
    void setValue(const QDate &date);
    std::int16_t Year() const { return m_year; }
    void setYear(std::int16_t year);
    // Month and day from today, and the year too when `includeYear` is true.
    void MoveToToday(bool includeYear);
    void NextDay();
    void NextMonth();
    void NextWeek();
    void NextYear();
    void PreviousDay();
    void PreviousMonth();
    void PreviousWeek();
    void PreviousYear();
    // Refills the grid, the headers and the three text boxes from the current value.
    void RedisplayCalendar();
    void Today() { MoveToToday(true); }

    void setTodaySource(TodaySource today);

    // The day cells 1..42 (row by row, seven to a row) and the weekday headers 1..7; nullptr for an
    // index out of range.
    QLabel *lblDay(int index) const;
    QLabel *lblHead(int index) const;
    // Index 1..42 of the highlighted day cell, 0 for none.
    int selectedCell() const { return m_selected; }

    QLineEdit *tbLongDate = nullptr;
    QLineEdit *tbMonth = nullptr;
    QLineEdit *tbYear = nullptr;
    QPushButton *cmdPreviousMonth = nullptr;
    QPushButton *cmdNextMonth = nullptr;
    QPushButton *cmdPreviousYear = nullptr;
    QPushButton *cmdNextYear = nullptr;

signals:
    void valueChanged(const QDate &value);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    // Takes year, month and day (the day clamped to the month's length), redraws, and signals
    // when the value changed.
    void moveTo(int year, int month, int day);
    void moveTo(const QDate &date);
    // Column 1..7 of the first day of the shown month.
    int firstColumn() const;
    void selectCell(int index);
    void dayClicked(int index);
    void showLongDate();

    TodaySource m_today;
    std::int16_t m_year = 2000;
    std::int16_t m_month = 1;
    std::int16_t m_day = 1;
    int m_selected = 0;
    std::array<QLabel *, kCells> m_cells{};
    std::array<QLabel *, kColumns> m_heads{};
};
