// The network test's ICMP echo: a real echo over loopback, and the outcome texts for the answers a
// real network can give (served by a scripted echo service so no other address is ever used).
#include "component/Configuration.h"
#include "core/SessionState.h"
#include "core/modGlobals.h"
#include "platform/IcmpEcho.h"
#include "platform/Paths.h"
#include "support/TestSupport.h"
#include "transports/modICMP.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

#include <cerrno>
#include <netinet/ip_icmp.h>

using modGlobals::GetCatalogString;
using modICMP::PingHost;

namespace {

class IcmpTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        resetSessionState();
        testsupport::freshSettingsDir();
        testsupport::freshLogDir();
        modGlobals::InitApplicationVariables();
    }
    void TearDown() override { resetSessionState(); }

    // Matches the round-trip text with any number of milliseconds.
    static QRegularExpression replyPattern()
    {
        const QStringList parts = GetCatalogString(1487).split(QStringLiteral("%RTT%"));
        EXPECT_EQ(parts.size(), 2);
        return QRegularExpression(QLatin1Char('^') + QRegularExpression::escape(parts.value(0)) + QStringLiteral("\\d+")
                                  + QRegularExpression::escape(parts.value(1)) + QLatin1Char('$'));
    }
};

// An echo service whose answer the test chooses.
class ScriptedEcho : public IcmpEcho
{
public:
    bool canOpen = true;
    int answers = 1;
    std::uint32_t status = IcmpStatus::Success;
    int sends = 0;
    QString lastAddress;
    QByteArray lastData;
    int lastTtl = -1;
    int lastTos = -1;
    int lastTimeoutMs = -1;
    bool opened = false;

    bool open() override { return opened = canOpen; }
    bool isOpen() const override { return opened; }
    void close() override { opened = false; }
    int sendEcho(const QString &address, const QByteArray &data, int ttl, int tos, int timeoutMs,
                 IcmpEchoReply &reply) override
    {
        ++sends;
        lastAddress = address;
        lastData = data;
        lastTtl = ttl;
        lastTos = tos;
        lastTimeoutMs = timeoutMs;
        reply = IcmpEchoReply();
        reply.address = address;
        reply.status = status;
        reply.roundTripMs = 3;
        return answers;
    }
};

} // namespace

TEST_F(IcmpTest, EchoToLoopbackSucceedsWithRoundTripTime)
{
    IcmpEcho probe;
    if (!probe.open())
        GTEST_SKIP() << "this machine permits no ICMP socket";
    probe.close();

    QString host = QStringLiteral("127.0.0.1");
    QString status;
    EXPECT_EQ(PingHost(host, 255, 10, status), 0);
    EXPECT_TRUE(replyPattern().match(status).hasMatch()) << status.toStdString();
    EXPECT_EQ(host, QStringLiteral("127.0.0.1"));

    // A name is resolved first and the caller gets the address back.
    host = QStringLiteral("localhost");
    EXPECT_EQ(PingHost(host, 255, 10, status), 0);
    EXPECT_TRUE(replyPattern().match(status).hasMatch()) << status.toStdString();
    EXPECT_TRUE(host.startsWith(QStringLiteral("127."))) << host.toStdString();
}

TEST_F(IcmpTest, BothSocketKindsGetTheirOwnReply)
{
    int tried = 0;
    for (const IcmpEcho::Kind kind : {IcmpEcho::Kind::Datagram, IcmpEcho::Kind::Raw}) {
        IcmpEcho echo(kind);
        if (!echo.open())
            continue; // not permitted here (ping_group_range, no CAP_NET_RAW)
        ++tried;
        EXPECT_EQ(echo.isRaw(), kind == IcmpEcho::Kind::Raw);
        for (int i = 0; i < 3; ++i) {
            IcmpEchoReply reply;
            ASSERT_EQ(echo.sendEcho(QStringLiteral("127.0.0.1"), modICMP::EchoData, 64, 8, 5000, reply), 1);
            EXPECT_EQ(reply.status, IcmpStatus::Success);
            EXPECT_EQ(reply.address, QStringLiteral("127.0.0.1"));
            EXPECT_EQ(reply.data, modICMP::EchoData);
        }
    }
    if (tried == 0)
        GTEST_SKIP() << "this machine permits no ICMP socket";
}

TEST_F(IcmpTest, RequestCarriesTheTestDataAndOptions)
{
    ScriptedEcho echo;
    QString host = QStringLiteral("127.0.0.1");
    QString status;
    EXPECT_EQ(PingHost(host, 255, 10, status, echo), 0);
    EXPECT_EQ(echo.lastData.size(), 64);
    EXPECT_EQ(echo.lastData, QByteArray("abcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghijklmnopqr"));
    EXPECT_EQ(echo.lastTtl, 255);
    EXPECT_EQ(echo.lastTos, 8);
    EXPECT_EQ(echo.lastTimeoutMs, 10000);
    EXPECT_EQ(status, modGlobals::ReplaceVariable(GetCatalogString(1487), QStringLiteral("RTT"), QStringLiteral("3")));
    EXPECT_FALSE(echo.opened); // closed again
}

TEST_F(IcmpTest, UnresolvableNamesAreReportedWithoutAnEcho)
{
    ScriptedEcho echo;
    QString status;
    for (QString host : {QStringLiteral("no-such-panel.invalid"), QString(70, QLatin1Char('a'))}) {
        const QString given = host;
        EXPECT_EQ(PingHost(host, 255, 10, status, echo), 1);
        EXPECT_EQ(status, GetCatalogString(1486));
        EXPECT_EQ(host, given);
    }
    EXPECT_EQ(echo.sends, 0);
}

TEST_F(IcmpTest, ErrorAnswersMapToTheirTexts)
{
    const struct
    {
        std::uint32_t status;
        int text;
    } cases[] = {{IcmpStatus::DestNetUnreachable, 1461}, {IcmpStatus::DestHostUnreachable, 1462},
                 {IcmpStatus::DestPortUnreachable, 1464}, {IcmpStatus::TtlExpiredTransit, 1472},
                 {IcmpStatus::BadDestination, 1477}, {IcmpStatus::GeneralFailure, 1482}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.status);
        ScriptedEcho echo;
        echo.status = c.status;
        QString host = QStringLiteral("127.0.0.1");
        QString status;
        EXPECT_EQ(PingHost(host, 255, 10, status, echo), 1);
        EXPECT_EQ(status, GetCatalogString(c.text));
        EXPECT_FALSE(status.isEmpty());
    }

    // A status outside the table has no text.
    ScriptedEcho odd;
    odd.status = 12345;
    QString host = QStringLiteral("127.0.0.1");
    QString status = QStringLiteral("stale");
    EXPECT_EQ(PingHost(host, 255, 10, status, odd), 1);
    EXPECT_TRUE(status.isEmpty());
}

TEST_F(IcmpTest, SilenceAndMissingSocketHaveTheirOwnOutcome)
{
    ScriptedEcho silent;
    silent.answers = 0;
    QString host = QStringLiteral("127.0.0.1");
    QString status;
    EXPECT_EQ(PingHost(host, 255, 10, status, silent), 0);
    EXPECT_EQ(status, GetCatalogString(1489));

    ScriptedEcho forbidden;
    forbidden.canOpen = false;
    EXPECT_EQ(PingHost(host, 255, 10, status, forbidden), 1);
    EXPECT_EQ(status, GetCatalogString(1482));
    EXPECT_EQ(forbidden.sends, 0);
}

TEST_F(IcmpTest, TimeoutBeyondSixteenBitMillisecondsIsAnOverflow)
{
    ScriptedEcho echo;
    QString host = QStringLiteral("127.0.0.1");
    QString status;
    EXPECT_EQ(PingHost(host, 255, 32, status, echo), 0);
    EXPECT_EQ(echo.lastTimeoutMs, 32000);
    EXPECT_EQ(PingHost(host, 255, 33, status, echo), 1);
    EXPECT_TRUE(status.isEmpty());
    EXPECT_EQ(echo.sends, 1);
    const QString err = QString::fromLocal8Bit(testsupport::readFile(Paths::logFile(QStringLiteral("Comm.err"))));
    EXPECT_TRUE(err.contains(QStringLiteral("PingHost()"))) << err.toStdString();
}

TEST(IcmpStatusMapping, IcmpErrorsAndSendErrors)
{
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_DEST_UNREACH, ICMP_NET_UNREACH), 11002u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_DEST_UNREACH, ICMP_HOST_UNREACH), 11003u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_DEST_UNREACH, ICMP_PROT_UNREACH), 11004u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_DEST_UNREACH, ICMP_PORT_UNREACH), 11005u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_DEST_UNREACH, ICMP_FRAG_NEEDED), 11009u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_DEST_UNREACH, ICMP_HOST_ANO), 11003u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_TIME_EXCEEDED, ICMP_EXC_TTL), 11013u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_TIME_EXCEEDED, ICMP_EXC_FRAGTIME), 11014u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_PARAMETERPROB, 0), 11015u);
    EXPECT_EQ(IcmpStatus::fromIcmpError(ICMP_SOURCE_QUENCH, 0), 11016u);
    EXPECT_EQ(IcmpStatus::fromErrno(ENETUNREACH), 11002u);
    EXPECT_EQ(IcmpStatus::fromErrno(EHOSTUNREACH), 11003u);
    EXPECT_EQ(IcmpStatus::fromErrno(EMSGSIZE), 11009u);
    EXPECT_EQ(IcmpStatus::fromErrno(EIO), 11050u);

    // Arguments the echo cannot send are answered without touching the network.
    IcmpEcho echo;
    if (!echo.open())
        GTEST_SKIP() << "this machine permits no ICMP socket";
    IcmpEchoReply reply;
    EXPECT_EQ(echo.sendEcho(QStringLiteral("not an address"), modICMP::EchoData, 64, 8, 100, reply), 1);
    EXPECT_EQ(reply.status, IcmpStatus::BadDestination);
    EXPECT_EQ(echo.sendEcho(QStringLiteral("127.0.0.1"), modICMP::EchoData, 0, 8, 100, reply), 1);
    EXPECT_EQ(reply.status, IcmpStatus::BadOption);
}
