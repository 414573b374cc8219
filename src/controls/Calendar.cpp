#include "controls/Calendar.h"

#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int kMinYear = 1;
constexpr int kMaxYear = 9999;
const char *const kCellProperty = "calendarCell";

QLineEdit *readOnlyBox(QWidget *parent, const char *name)
{
    auto *box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setReadOnly(true);
    box->setFocusPolicy(Qt::NoFocus);
    box->setAlignment(Qt::AlignCenter);
    return box;
}

QPushButton *stepButton(QWidget *parent, const char *name, const char *caption)
{
    auto *button = new QPushButton(QLatin1String(caption), parent);
    button->setObjectName(QLatin1String(name));
    button->setFixedWidth(28);
    button->setAutoDefault(false);
    return button;
}

} // namespace

Calendar::Calendar(QWidget *parent, TodaySource today)
    : QWidget(parent)
    , m_today(std::move(today))
{
    setObjectName(QStringLiteral("Calendar"));

    cmdPreviousMonth = stepButton(this, "cmdPreviousMonth", "<");
    tbMonth = readOnlyBox(this, "tbMonth");
    cmdNextMonth = stepButton(this, "cmdNextMonth", ">");
    cmdPreviousYear = stepButton(this, "cmdPreviousYear", "<");
    tbYear = readOnlyBox(this, "tbYear");
    tbYear->setMaximumWidth(64);
    cmdNextYear = stepButton(this, "cmdNextYear", ">");
    tbLongDate = readOnlyBox(this, "tbLongDate");

    auto *top = new QHBoxLayout;
    top->setSpacing(2);
    top->addWidget(cmdPreviousMonth);
    top->addWidget(tbMonth, 1);
    top->addWidget(cmdNextMonth);
    top->addSpacing(6);
    top->addWidget(cmdPreviousYear);
    top->addWidget(tbYear);
    top->addWidget(cmdNextYear);

    auto *grid = new QGridLayout;
    grid->setSpacing(1);
    for (int column = 0; column < kColumns; ++column) {
        auto *head = new QLabel(this);
        head->setObjectName(QStringLiteral("lblHead%1").arg(column + 1));
        head->setAlignment(Qt::AlignCenter);
        m_heads[column] = head;
        grid->addWidget(head, 0, column);
    }
    for (int index = 0; index < kCells; ++index) {
        auto *cell = new QLabel(this);
        cell->setObjectName(QStringLiteral("lblDay%1").arg(index + 1));
        cell->setAlignment(Qt::AlignCenter);
        cell->setMinimumSize(26, 20);
        cell->setAutoFillBackground(true);
        cell->setBackgroundRole(QPalette::Button);
        cell->setForegroundRole(QPalette::ButtonText);
        cell->setProperty(kCellProperty, index + 1);
        cell->installEventFilter(this);
        m_cells[index] = cell;
        // A hidden cell keeps its place, so the rows never shift when a month starts late.
        QSizePolicy policy = cell->sizePolicy();
        policy.setRetainSizeWhenHidden(true);
        cell->setSizePolicy(policy);
        grid->addWidget(cell, 1 + index / kColumns, index % kColumns);
    }

    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(2, 2, 2, 2);
    outer->setSpacing(3);
    outer->addLayout(top);
    outer->addLayout(grid);
    outer->addWidget(tbLongDate);

    connect(cmdPreviousMonth, &QPushButton::clicked, this, [this] { PreviousMonth(); });
    connect(cmdNextMonth, &QPushButton::clicked, this, [this] { NextMonth(); });
    connect(cmdPreviousYear, &QPushButton::clicked, this, [this] { PreviousYear(); });
    connect(cmdNextYear, &QPushButton::clicked, this, [this] { NextYear(); });

    const QDate start = m_today ? m_today() : QDate::currentDate();
    if (start.isValid() && start.year() >= kMinYear && start.year() <= kMaxYear) {
        m_year = static_cast<std::int16_t>(start.year());
        m_month = static_cast<std::int16_t>(start.month());
        m_day = static_cast<std::int16_t>(start.day());
    }
    RedisplayCalendar();
}

void Calendar::setDay(std::int16_t day)
{
    if (day >= 1)
        moveTo(m_year, m_month, day);
}

void Calendar::setMonth(std::int16_t month)
{
    if (month >= 1 && month <= 12)
        moveTo(m_year, month, m_day);
}

void Calendar::setValue(const QDate &date)
{
    moveTo(date);
}

void Calendar::setYear(std::int16_t year)
{
    moveTo(year, m_month, m_day);
}

void Calendar::MoveToToday(bool includeYear)
{
    const QDate today = m_today ? m_today() : QDate::currentDate();
    if (!today.isValid())
        return;
    moveTo(includeYear ? today.year() : m_year, today.month(), today.day());
}

void Calendar::NextDay()
{
    moveTo(Value().addDays(1));
}

void Calendar::NextMonth()
{
    moveTo(Value().addMonths(1));
}

void Calendar::NextWeek()
{
    moveTo(Value().addDays(7));
}

void Calendar::NextYear()
{
    moveTo(Value().addYears(1));
}

void Calendar::PreviousDay()
{
    moveTo(Value().addDays(-1));
}

void Calendar::PreviousMonth()
{
    moveTo(Value().addMonths(-1));
}

void Calendar::PreviousWeek()
{
    moveTo(Value().addDays(-7));
}

void Calendar::PreviousYear()
{
    moveTo(Value().addYears(-1));
}

void Calendar::RedisplayCalendar()
{
    const QLocale loc = locale();
    const int daysInMonth = QDate(m_year, m_month, 1).daysInMonth();
    if (m_day > daysInMonth)
        m_day = static_cast<std::int16_t>(daysInMonth);

    const int first = firstColumn();
    const int weekStart = static_cast<int>(loc.firstDayOfWeek());
    for (int column = 0; column < kColumns; ++column) {
        const int weekday = (weekStart - 1 + column) % 7 + 1;
        m_heads[column]->setText(loc.standaloneDayName(weekday, QLocale::ShortFormat));
    }

    int selected = 0;
    for (int index = 1; index <= kCells; ++index) {
        QLabel *cell = m_cells[index - 1];
        const int dayNumber = index - first + 1;
        if (dayNumber < 1 || dayNumber > daysInMonth) {
            cell->hide();
            cell->clear();
            continue;
        }
        cell->setText(QString::number(dayNumber));
        cell->show();
        if (dayNumber == m_day)
            selected = index;
    }
    selectCell(selected);

    tbMonth->setText(loc.standaloneMonthName(m_month, QLocale::LongFormat));
    tbYear->setText(QString::number(m_year));
    showLongDate();
}

void Calendar::setTodaySource(TodaySource today)
{
    m_today = std::move(today);
}

QLabel *Calendar::lblDay(int index) const
{
    return index >= 1 && index <= kCells ? m_cells[index - 1] : nullptr;
}

QLabel *Calendar::lblHead(int index) const
{
    return index >= 1 && index <= kColumns ? m_heads[index - 1] : nullptr;
}

bool Calendar::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const QVariant index = watched->property(kCellProperty);
        if (index.isValid() && mouse->button() == Qt::LeftButton) {
            dayClicked(index.toInt());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void Calendar::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::LocaleChange && tbLongDate)
        RedisplayCalendar();
    QWidget::changeEvent(event);
}

void Calendar::moveTo(int year, int month, int day)
{
    if (year < kMinYear || year > kMaxYear || month < 1 || month > 12 || day < 1)
        return;
    day = std::min(day, QDate(year, month, 1).daysInMonth());
    if (year == m_year && month == m_month && day == m_day)
        return;
    m_year = static_cast<std::int16_t>(year);
    m_month = static_cast<std::int16_t>(month);
    m_day = static_cast<std::int16_t>(day);
    RedisplayCalendar();
    emit valueChanged(Value());
}

void Calendar::moveTo(const QDate &date)
{
    if (date.isValid())
        moveTo(date.year(), date.month(), date.day());
}

int Calendar::firstColumn() const
{
    const int weekday = QDate(m_year, m_month, 1).dayOfWeek(); // 1 = Monday .. 7 = Sunday
    const int weekStart = static_cast<int>(locale().firstDayOfWeek());
    return (weekday - weekStart + 7) % 7 + 1;
}

void Calendar::selectCell(int index)
{
    if (m_selected == index)
        return;
    if (QLabel *previous = lblDay(m_selected)) {
        previous->setBackgroundRole(QPalette::Button);
        previous->setForegroundRole(QPalette::ButtonText);
    }
    // The selected day's number stays readable on the shadow colour, also while the control is
    // disabled (the date/time window shows its calendar that way).
    if (QLabel *current = lblDay(index)) {
        current->setBackgroundRole(QPalette::Dark);
        current->setForegroundRole(QPalette::BrightText);
    }
    m_selected = index;
}

void Calendar::dayClicked(int index)
{
    QLabel *cell = lblDay(index);
    if (!cell || cell->isHidden())
        return;
    const int dayNumber = cell->text().toInt();
    if (dayNumber < 1)
        return;
    selectCell(index);
    if (dayNumber == m_day)
        return;
    m_day = static_cast<std::int16_t>(dayNumber);
    showLongDate();
    emit valueChanged(Value());
}

void Calendar::showLongDate()
{
    tbLongDate->setText(locale().toString(Value(), QLocale::LongFormat));
}
