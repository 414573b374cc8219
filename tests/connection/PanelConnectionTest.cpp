// The connection without its window, against the panel simulator on the direct line: what it
// reports (status lines, steps, the end) while the handshake admits the panel or refuses it.
#include "ConnectionFixture.h"

#include <QSignalSpy>

using namespace conntest;

namespace {

QStringList connectionWidgets()
{
    QStringList out;
    for (QWidget *w : QApplication::allWidgets())
        if (w->objectName() == QLatin1String("frmCommInterface"))
            out << w->objectName();
    return out;
}

} // namespace

TEST_F(ConnectionTest, TheConnectionAdmitsThePanelWithoutAWindow)
{
    panelsim::PanelConfig config = panel(panelsim::LinkMode::Direct);
    config.dataLock = 58213; // the master code: our own is written to the panel
    startPanel(config);
    openHeadless();
    callback->events.clear();
    QStringList lines;
    QList<PanelConnection::Step> steps;
    QObject::connect(connection, &PanelConnection::statusAdded, [&lines](const QString &line) { lines << line; });
    QObject::connect(connection, &PanelConnection::stepChanged, [&steps](PanelConnection::Step step) { steps << step; });
    QSignalSpy finished(connection.data(), &PanelConnection::finished);
    QSignalSpy closing(connection.data(), &PanelConnection::closeRequested);

    ASSERT_EQ(connection->connectPanel(), 0);
    ASSERT_TRUE(testsupport::waitFor([&finished] { return !finished.isEmpty(); }, 20000));
    EXPECT_EQ(finished.first(), (QVariantList{true, 0}));
    EXPECT_EQ(closing.size(), 1);
    using S = PanelConnection::Step;
    EXPECT_EQ(steps, (QList<S>{S::PortPreparation, S::Passcode, S::PanelStatus, S::DataLock, S::DataLockWrite, S::Admitted}));
    const auto text = [](std::int16_t n) { return modGlobals::GetCatalogString(n); };
    EXPECT_EQ(lines.mid(lines.indexOf(text(159))),
              (QStringList{text(159), text(160), modGlobals::ReplaceVariable(text(161), QStringLiteral("ROM_REV"), QStringLiteral("1.307")),
                           text(162), modGlobals::ReplaceVariable(text(163), QStringLiteral("DLOCK_NAME"), QStringLiteral("Office"))}));
    EXPECT_EQ(hostEvents(), (QStringList{QStringLiteral("5:SET_DATALOCK=1"), QStringLiteral("12"), QStringLiteral("5:GET_REV=1.307")}));
    EXPECT_EQ(sim->state().dataLockPlain(), 0x1234);
    // Admitted: the session no longer refers to it, and its messages are still filed as before.
    EXPECT_FALSE(sessionState().connection);
    EXPECT_TRUE(simSaw(QStringLiteral("Passcode Verification 123456")));
    EXPECT_TRUE(connectionWidgets().isEmpty());
}

TEST_F(ConnectionTest, RefusalsEndTheAttemptBeforeAnythingMoreIsSent)
{
    struct Case
    {
        const char *fault;
        quint8 statusByte;
        quint16 dataLock;
        std::int32_t error;
        int statusRequests, dataLockRequests;
    };
    for (const Case &c : {Case{"refuse@passcode*0", 0, 0x1234, ErrorCode::PasscodeFailed, 0, 0},
                          Case{"", 5, 0x1234, ErrorCode::PanelStatusMismatch, 1, 0},
                          Case{"", 0, 0x7777, ErrorCode::DataLockMismatch, 1, 1}}) {
        SCOPED_TRACE(c.error);
        panelsim::PanelConfig config = panel(panelsim::LinkMode::Direct);
        config.statusByte = c.statusByte;
        config.dataLock = c.dataLock;
        startPanel(config, *c.fault ? QStringList{QLatin1String(c.fault)} : QStringList{});
        openHeadless();
        callback->events.clear();
        sessionState().LastErrorNumber = 0;
        QSignalSpy finished(connection.data(), &PanelConnection::finished);
        ASSERT_EQ(connection->connectPanel(), 0);
        ASSERT_TRUE(testsupport::waitFor([&c] { return sessionState().LastErrorNumber == c.error; }, 20000));
        // The attempt's end is the session's: once the goodbye is through, nothing more goes out.
        EXPECT_TRUE(testsupport::waitFor([] { return !sessionState().messageQueue; }, 10000));
        ASSERT_FALSE(finished.isEmpty());
        EXPECT_EQ(finished.first(), (QVariantList{false, c.error}));
        EXPECT_EQ(sim->commandCount(QStringLiteral("Passcode Verification")), 1);
        EXPECT_EQ(sim->commandCount(QStringLiteral("Request Panel Status")), c.statusRequests);
        EXPECT_EQ(sim->commandCount(QStringLiteral("Request Data Lock")), c.dataLockRequests);
        EXPECT_EQ(sim->commandCount(QStringLiteral("Write Item Block")), 0);
        EXPECT_TRUE(pif->acceptedLocks.empty());
        EXPECT_FALSE(callback->tags().contains(QStringLiteral("SET_DATALOCK")));
        EXPECT_TRUE(errorLog().contains(QString::number(quint32(c.error), 16), Qt::CaseInsensitive));
        // The connection went with the session and told the host once.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_FALSE(connection);
        EXPECT_EQ(hostEvents().filter(QRegularExpression(QStringLiteral("^3:"))).join(u',').toStdString(), "3:FAILURE");
        endSession();
    }
}
