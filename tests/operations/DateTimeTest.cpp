// The panel clock end to end against the simulator on the network link, with the computer's clock
// injected: the bytes "Update Panel" sends (hour shift, day and year carry, 12-hour coding) in
// several locales, reading the clock back, "SET_TIME", a refused write, the unattended write, and
// an answer too short to hold a clock.
#include "network/NetFixture.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "core/ErrorCodes.h"
#include "external/DateConverter.h"
#include "operations/frmDateTime.h"
#include "operations/modDateTime.h"

#ifdef QUARVO_HAVE_SIM

using namespace nettest;

namespace {

QDateTime at(int y, int mo, int d, int h, int mi, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s));
}

class DateTimeTest : public NetTest
{
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        Timing::setCurrentDateTimeSource([this] { return now; });
    }
    void TearDown() override
    {
        delete window.data();
        NetTest::TearDown();
        Timing::setCurrentDateTimeSource({});
        QLocale::setDefault(QLocale::c());
    }

    // A network panel whose clock starts at `panelClock`, admitted as the handshake would.
    void connectPanel(const QDateTime &panelClock = at(2009, 6, 30, 23, 58))
    {
        connectAndAdmit(false, [panelClock](panelsim::PanelConfig &c) { c.clock = panelClock; });
    }

    QStringList setTimes() const
    {
        QStringList out;
        for (const auto &e : callback->withCode(5)) {
            const QVariantList list = e.data.toList();
            if (list.value(0).toString() == QLatin1String("SET_TIME"))
                out << list.value(1).toDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        }
        return out;
    }

    QString panelClock() const { return sim->state().clock().toString(QStringLiteral("yyyy-MM-dd HH:mm")); }

    QDateTime now;
    QPointer<frmDateTime> window;
};

struct ClockCase
{
    QDateTime now;
    int adjustment;
    const char *bytes; // month, day, yy, hour, minute, PM flag
    const char *moment;
};

const ClockCase kClockCases[] = {
    {at(2024, 5, 10, 22, 40, 15), 3, "050B18012800", "2024-05-11 01:40"},  // next day, 1 AM
    {at(2024, 5, 10, 1, 10), -3, "0509180A0A01", "2024-05-09 22:10"},      // previous day, 10 PM
    {at(2024, 5, 10, 12, 34), 0, "050A180C2201", "2024-05-10 12:34"},      // noon hour: 12 PM
    {at(2024, 5, 10, 13, 5), 0, "050A18010501", "2024-05-10 13:05"},       // 1 PM
    {at(2024, 5, 10, 0, 5), 0, "050A18000500", "2024-05-10 00:05"},        // midnight hour: 0 AM
    {at(2024, 12, 31, 23, 30), 1, "010119001E00", "2025-01-01 00:30"},     // new year, yy rolled
    {at(2007, 8, 12, 9, 15), 0, "080C07090F00", "2007-08-12 09:15"},       // 2007 travels as 7
};

} // namespace

class DateTimeLocale : public DateTimeTest, public ::testing::WithParamInterface<const char *>
{
};

// "Update Panel" writes the injected clock shifted by the spinner; the panel receives the same
// bytes whatever the locale's time format, takes them as its clock, and the host hears the moment.
TEST_P(DateTimeLocale, UpdatePanelSendsTheShiftedClock)
{
    QLocale::setDefault(QLocale(QString::fromLatin1(GetParam())));
    connectPanel();
    int answered = 0;
    for (const ClockCase &c : kClockCases) {
        SCOPED_TRACE(c.moment);
        now = c.now;
        delete window.data();
        window = new frmDateTime();
        window->UpDown1->setValue(c.adjustment);
        window->cmdOK->click();
        EXPECT_FALSE(window->cmdOK->isEnabled());
        ASSERT_TRUE(waitFor([&] { return setTimes().size() > answered; }, 5000));
        ++answered;
        EXPECT_EQ(sim->state().lastClockWrite.toHex().toUpper(), QByteArray(c.bytes));
        EXPECT_EQ(panelClock(), QLatin1String(c.moment));
        EXPECT_EQ(setTimes().last(), QLatin1String(c.moment));
    }
    EXPECT_FALSE(sim->goodbyeReceived());
}

INSTANTIATE_TEST_SUITE_P(Locales, DateTimeLocale, ::testing::Values("C", "en_US", "de_DE", "ja_JP"),
                         [](const auto &info) { return std::string(info.param); });

// Display, as a host would show it during a session: "Get Current" shows the panel's clock, "Update
// Panel" sets it and closes the window; a second window then reads back what the panel now holds.
TEST_F(DateTimeTest, DisplayReadsUpdatesAndReadsBack)
{
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    connectPanel(at(2009, 6, 30, 23, 58));
    now = at(2024, 3, 9, 13, 5, 20);
    settings->timeOffsetHours = -3;
    window = new frmDateTime();
    const DateConverter converter;
    QStringList steps;
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (!window || !window->isVisible())
            return;
        if (steps.isEmpty()) {
            steps << window->Text1->text() << window->txtCurrentSystemTime->text();
            window->cmdGetCurrentDateTimeFromPanel->click();
        } else if (steps.size() == 2 && window->cmdOK->isEnabled()) {
            steps << window->lblCurrentDate->text() << window->lblCurrentTime->text();
            window->cmdOK->click();
        }
    });
    driver.start();
    QTimer::singleShot(8000, window, [&] { window->hide(); }); // a stuck run ends the test, not the suite
    EXPECT_EQ(window->Display(), 0);
    driver.stop();

    EXPECT_EQ(steps, (QStringList{"-3", "13:05:20", converter.BuildDate(6, 30, 9), "23:58"}));
    EXPECT_EQ(setTimes(), QStringList{"2024-03-09 10:05"});
    EXPECT_EQ(sim->state().lastClockWrite.toHex().toUpper(), QByteArray("0309180A0500"));
    EXPECT_FALSE(sessionState().guidRegistry->contains(window->clock()->szGUID())); // unloaded

    frmDateTime second;
    second.cmdGetCurrentDateTimeFromPanel->click();
    ASSERT_TRUE(waitFor([&] { return second.cmdOK->isEnabled(); }, 5000));
    EXPECT_EQ(second.lblCurrentDate->text(), converter.BuildDate(3, 9, 24));
    EXPECT_EQ(second.lblCurrentTime->text(), QStringLiteral("10:05"));
}

// Keys as the operator presses them while the window runs: Enter on the focused button presses
// that button; with the focus in the adjustment field it presses "Update Panel"; Escape is Cancel.
// What the panel was asked and whether the window closed show what was pressed.
struct ClockKey
{
    const char *name;
    QPushButton *frmDateTime::*focus; // nullptr: the adjustment field
    Qt::Key key;
    const char *pressed;              // the button clicked, "" for none
    bool reads;
    bool writes;
};

const ClockKey kClockKeys[] = {
    {"EnterOnGetCurrent", &frmDateTime::cmdGetCurrentDateTimeFromPanel, Qt::Key_Return, "cmdGetCurrentDateTimeFromPanel", true, false},
    {"EnterOnUpdatePanel", &frmDateTime::cmdOK, Qt::Key_Return, "cmdOK", false, true},
    {"EnterOnCancel", &frmDateTime::cmdCancel, Qt::Key_Return, "cmdCancel", false, false},
    {"KeypadEnterOnCancel", &frmDateTime::cmdCancel, Qt::Key_Enter, "cmdCancel", false, false},
    {"EnterInTheAdjustment", nullptr, Qt::Key_Return, "cmdOK", false, true},
    {"EscapeInTheAdjustment", nullptr, Qt::Key_Escape, "", false, false},
};

class DateTimeKeys : public DateTimeTest, public ::testing::WithParamInterface<ClockKey>
{
};

TEST_P(DateTimeKeys, PressTheButtonTheOperatorMeans)
{
    const ClockKey row = GetParam();
    connectPanel(at(2009, 6, 30, 23, 58));
    now = at(2024, 3, 9, 13, 5, 20);
    window = new frmDateTime();
    QStringList pressed;
    for (QPushButton *b : {window->cmdGetCurrentDateTimeFromPanel, window->cmdOK, window->cmdCancel})
        QObject::connect(b, &QPushButton::clicked, [&pressed, b] { pressed << b->objectName(); });
    const int reads = sim->commandCount(QStringLiteral("Request Panel Date"));
    bool keyed = false;
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (!window || !window->isVisible())
            return;
        if (!keyed) {
            keyed = true;
            testsupport::pressKeyOn(row.focus ? (*window).*row.focus : static_cast<QWidget *>(window->UpDown1), row.key);
        } else if (row.reads && sim->commandCount(QStringLiteral("Request Panel Date")) > reads && window->cmdOK->isEnabled()) {
            window->hide(); // the answer is in: the window would stay open for the operator
        }
    });
    driver.start();
    QTimer::singleShot(8000, window, [&] { window->hide(); }); // a stuck run ends the test, not the suite
    EXPECT_EQ(window->Display(), 0);
    driver.stop();

    EXPECT_EQ(pressed.join(u','), QLatin1String(row.pressed));
    EXPECT_EQ(sim->commandCount(QStringLiteral("Request Panel Date")) - reads, row.reads ? 1 : 0);
    EXPECT_EQ(setTimes(), row.writes ? QStringList{"2024-03-09 13:05"} : QStringList());
    EXPECT_EQ(panelClock(), row.writes ? QStringLiteral("2024-03-09 13:05") : QStringLiteral("2009-06-30 23:58"));
    if (row.reads) {
        EXPECT_FALSE(window->lblCurrentDate->text().isEmpty());
    }
}

INSTANTIATE_TEST_SUITE_P(Keys, DateTimeKeys, ::testing::ValuesIn(kClockKeys),
                         [](const auto &info) { return std::string(info.param.name); });

// After "Get Current" the read disables it and the focus moves on to Cancel: Enter there cancels
// and writes nothing.
TEST_F(DateTimeTest, EnterAfterGetCurrentCancels)
{
    connectPanel(at(2009, 6, 30, 23, 58));
    now = at(2024, 3, 9, 13, 5, 20);
    window = new frmDateTime();
    QStringList pressed;
    for (QPushButton *b : {window->cmdGetCurrentDateTimeFromPanel, window->cmdOK, window->cmdCancel})
        QObject::connect(b, &QPushButton::clicked, [&pressed, b] { pressed << b->objectName(); });
    int step = 0;
    QWidget *focusAfterRead = nullptr;
    QTimer driver;
    driver.setInterval(10);
    QObject::connect(&driver, &QTimer::timeout, [&] {
        if (!window || !window->isVisible())
            return;
        if (step == 0 && QApplication::activeWindow() == window) {
            step = 1;
            testsupport::pressKeyOn(window->cmdGetCurrentDateTimeFromPanel);
        } else if (step == 1 && window->cmdOK->isEnabled()) {
            step = 2;
            focusAfterRead = QApplication::focusWidget();
            QTest::keyClick(focusAfterRead, Qt::Key_Return);
        }
    });
    driver.start();
    QTimer::singleShot(8000, window, [&] { window->hide(); });
    EXPECT_EQ(window->Display(), 0);
    driver.stop();

    EXPECT_EQ(step, 2);
    EXPECT_EQ(focusAfterRead, window->cmdCancel);
    EXPECT_EQ(pressed, (QStringList{"cmdGetCurrentDateTimeFromPanel", "cmdCancel"}));
    EXPECT_TRUE(setTimes().isEmpty());
    EXPECT_EQ(sim->commandCount(QStringLiteral("Change Panel Date")), 0);
}

// Without an operator: the clock job writes the host's adjustment (owned by the queue window) and
// the host hears nothing; then Display writes at once, shows nothing, reports the moment and unloads.
TEST_F(DateTimeTest, UnattendedWritesTheShiftedClock)
{
    connectPanel();
    now = at(2024, 12, 31, 23, 30);
    settings->timeOffsetHours = 1;
    EXPECT_EQ(modDateTime::UnattendedSetDateTime(5), 0);
    ASSERT_TRUE(waitFor([&] { return panelClock() == QLatin1String("2025-01-01 00:30"); }, 5000));
    EXPECT_EQ(sim->state().lastClockWrite.toHex().toUpper(), QByteArray("010119001E00"));
    // A further keep-alive went through: the answer was taken and the session goes on.
    const int keepAlives = sim->commandCount(QStringLiteral("Request Panel Status"));
    ASSERT_TRUE(waitFor([&] { return sim->commandCount(QStringLiteral("Request Panel Status")) > keepAlives; }));
    EXPECT_FALSE(sim->goodbyeReceived());
    EXPECT_TRUE(setTimes().isEmpty());

    sessionState().UnattendedFlag = true;
    now = at(2024, 5, 10, 11, 20);
    settings->timeOffsetHours = 2;
    window = new frmDateTime();
    EXPECT_EQ(window->Display(), 0);
    EXPECT_FALSE(window->isVisible());
    ASSERT_TRUE(waitFor([&] { return !sessionState().guidRegistry->contains(window->clock()->szGUID()); }, 5000));
    EXPECT_EQ(setTimes(), QStringList{"2024-05-10 13:20"});
    EXPECT_EQ(sim->state().lastClockWrite.toHex().toUpper(), QByteArray("050A18011401"));
}

// A refused write ends the session without "SET_TIME", from the window and from the clock job.
TEST_F(DateTimeTest, ARefusedWriteEndsTheSessionWithoutSetTime)
{
    for (const bool job : {false, true}) {
        SCOPED_TRACE(job ? "clock job" : "window");
        if (job) {
            TearDown();
            SetUp();
        }
        faults = {QStringLiteral("refuse@setdate")};
        connectPanel();
        now = at(2024, 5, 10, 8, 0);
        if (job) {
            EXPECT_EQ(modDateTime::UnattendedSetDateTime(5), 0);
        } else {
            window = new frmDateTime();
            window->cmdOK->click();
        }
        ASSERT_TRUE(waitFor([&] { return sim->goodbyeReceived(); }, 5000));
        EXPECT_TRUE(setTimes().isEmpty());
        EXPECT_EQ(sessionState().LastErrorNumber, ErrorCode::SendRefused);
        EXPECT_EQ(panelClock(), QStringLiteral("2009-06-30 23:58"));
    }
}

// An answer that cannot hold the six clock bytes shows nothing, and the operator may ask again.
TEST_F(DateTimeTest, AShortClockAnswerLeavesTheLabelsAlone)
{
    startSession(false, false, 0);
    window = new frmDateTime();
    window->lblCurrentDate->setText(QStringLiteral("before"));
    window->lblCurrentTime->setText(QStringLiteral("before"));
    // As while "Get Current" waits for its answer.
    window->cmdOK->setEnabled(false);
    window->cmdGetCurrentDateTimeFromPanel->setEnabled(false);
    QString guid;
    const auto msg = messageRecord(QStringLiteral("Request Panel Date"), guid);
    msg->setOwnerName(window->Name());
    msg->setData(QByteArray::fromHex("000714030918021925")); // five clock bytes and the checksum: no PM flag
    window->clock()->ResponseReceived(*msg);
    msgrecord::Discard(guid);
    EXPECT_EQ(window->lblCurrentDate->text(), QStringLiteral("before"));
    EXPECT_EQ(window->lblCurrentTime->text(), QStringLiteral("before"));
    EXPECT_TRUE(window->cmdOK->isEnabled());
    EXPECT_TRUE(window->cmdGetCurrentDateTimeFromPanel->isEnabled());
    EXPECT_EQ(sessionState().LastErrorNumber, 0);
}

TEST_F(DateTimeTest, Screenshot)
{
    const QString folder = testsupport::screenshotFolder();
    if (folder.isEmpty())
        GTEST_SKIP() << "set QUARVO_SCREENSHOTS=1 to refresh the screenshots";
    QLocale::setDefault(QLocale(QStringLiteral("en_US")));
    now = at(2024, 3, 9, 14, 27, 45);
    settings->timeOffsetHours = 2;
    window = new frmDateTime();
    bool saved = false;
    QTimer::singleShot(0, window, [&] {
        window->ReadPanelDateTime(QByteArray::fromHex("00101403091802190100"));
        QApplication::processEvents();
        saved = window->grab().save(folder + QStringLiteral("/date-time.png"));
        window->hide();
    });
    window->Display();
    EXPECT_TRUE(saved);
}

#endif
