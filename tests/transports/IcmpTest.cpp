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
#include <tuple>
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
    QByteArray lastData;
    int lastTtl = -1, lastTos = -1, lastTimeoutMs = -1;
    bool opened = false;

    bool open() override { return opened = canOpen; }
    bool isOpen() const override { return opened; }
    void close() override { opened = false; }
    int sendEcho(const QString &address, const QByteArray &data, int ttl, int tos, int timeoutMs,
                 IcmpEchoReply &reply) override
    {
        ++sends;
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

// Real echoes over loopback: each socket kind this machine permits gets its own replies, and
// PingHost reports the round trip, resolving a name first and handing the address back.
TEST_F(IcmpTest, EchoesToLoopbackSucceedWithRoundTripTime)
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
            EXPECT_EQ(std::tuple(reply.status, reply.address, reply.data),
                      std::tuple(IcmpStatus::Success, QStringLiteral("127.0.0.1"), modICMP::EchoData));
        }
    }
    if (tried == 0)
        GTEST_SKIP() << "this machine permits no ICMP socket";
    for (const QString &name : {QStringLiteral("127.0.0.1"), QStringLiteral("localhost")}) {
        QString host = name;
        QString status;
        EXPECT_EQ(PingHost(host, 255, 10, status), 0);
        EXPECT_TRUE(replyPattern().match(status).hasMatch()) << status.toStdString();
        EXPECT_TRUE(host.startsWith(QStringLiteral("127."))) << host.toStdString();
    }
}

TEST_F(IcmpTest, RequestCarriesTheTestDataAndOptions)
{
    ScriptedEcho echo;
    QString host = QStringLiteral("127.0.0.1");
    QString status;
    EXPECT_EQ(PingHost(host, 255, 32, status, echo), 0);
    EXPECT_EQ(echo.lastData, QByteArray("abcdefghijklmnopqrstuvwabcdefghijklmnopqrstuvwabcdefghijklmnopqr"));
    EXPECT_EQ(echo.lastTtl, 255);
    EXPECT_EQ(echo.lastTos, 8);
    EXPECT_EQ(echo.lastTimeoutMs, 32000); // the longest that fits in 16-bit milliseconds
    EXPECT_EQ(status, modGlobals::ReplaceVariable(GetCatalogString(1487), QStringLiteral("RTT"), QStringLiteral("3")));
    EXPECT_FALSE(echo.opened); // closed again
}

// Every outcome but a reply: error answers with their texts (none for a status outside the
// table), silence, no socket, a timeout beyond 16-bit milliseconds (an overflow, never sent), and
// names that do not resolve (no echo, the host left as given).
TEST_F(IcmpTest, OutcomesOtherThanAReplyHaveTheirOwnResultAndText)
{
    const QString local = QStringLiteral("127.0.0.1");
    const struct
    {
        QString host;
        std::uint32_t status;
        int answers;
        bool canOpen;
        int timeoutS;
        int rc;
        int text; // 0: no text
        int sends;
    } cases[] = {
        {local, IcmpStatus::Success, 1, true, 33, 1, 0, 0}, // 33 000 ms do not fit: an overflow, reported
        {local, IcmpStatus::DestNetUnreachable, 1, true, 10, 1, 1461, 1},
        {local, IcmpStatus::DestHostUnreachable, 1, true, 10, 1, 1462, 1},
        {local, IcmpStatus::DestPortUnreachable, 1, true, 10, 1, 1464, 1},
        {local, IcmpStatus::TtlExpiredTransit, 1, true, 10, 1, 1472, 1},
        {local, IcmpStatus::BadDestination, 1, true, 10, 1, 1477, 1},
        {local, IcmpStatus::GeneralFailure, 1, true, 10, 1, 1482, 1},
        {local, 12345, 1, true, 10, 1, 0, 1},
        {local, IcmpStatus::Success, 0, true, 10, 0, 1489, 1},  // silence
        {local, IcmpStatus::Success, 1, false, 10, 1, 1482, 0}, // no socket
        {QStringLiteral("no-such-panel.invalid"), IcmpStatus::Success, 1, true, 10, 1, 1486, 0},
        {QString(70, QLatin1Char('a')), IcmpStatus::Success, 1, true, 10, 1, 1486, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << c.host.left(30).toStdString() << " " << c.status << " answers " << c.answers
                                        << " timeout " << c.timeoutS);
        ScriptedEcho echo;
        echo.status = c.status;
        echo.answers = c.answers;
        echo.canOpen = c.canOpen;
        QString host = c.host;
        QString status = QStringLiteral("stale");
        EXPECT_EQ(PingHost(host, 255, c.timeoutS, status, echo), c.rc);
        EXPECT_EQ(host, c.host);
        EXPECT_EQ(status, c.text ? GetCatalogString(c.text) : QString());
        EXPECT_EQ(echo.sends, c.sends);
        if (c.timeoutS == 33) {
            EXPECT_TRUE(testsupport::readFile(Paths::logFile(QStringLiteral("Comm.err"))).contains("PingHost()"));
        }
    }
}

TEST(IcmpStatusMapping, IcmpErrorsAndSendErrors)
{
    const struct
    {
        int type, code;
        std::uint32_t status;
    } icmp[] = {{ICMP_DEST_UNREACH, ICMP_NET_UNREACH, 11002},  {ICMP_DEST_UNREACH, ICMP_HOST_UNREACH, 11003},
                {ICMP_DEST_UNREACH, ICMP_PROT_UNREACH, 11004}, {ICMP_DEST_UNREACH, ICMP_PORT_UNREACH, 11005},
                {ICMP_DEST_UNREACH, ICMP_FRAG_NEEDED, 11009},  {ICMP_DEST_UNREACH, ICMP_HOST_ANO, 11003},
                {ICMP_TIME_EXCEEDED, ICMP_EXC_TTL, 11013},     {ICMP_TIME_EXCEEDED, ICMP_EXC_FRAGTIME, 11014},
                {ICMP_PARAMETERPROB, 0, 11015},                {ICMP_SOURCE_QUENCH, 0, 11016}};
    for (const auto &c : icmp)
        EXPECT_EQ(IcmpStatus::fromIcmpError(c.type, c.code), c.status) << c.type << "/" << c.code;
    const std::pair<int, std::uint32_t> sendErrors[] = {
        {ENETUNREACH, 11002}, {EHOSTUNREACH, 11003}, {EMSGSIZE, 11009}, {EIO, 11050}};
    for (const auto &[error, status] : sendErrors)
        EXPECT_EQ(IcmpStatus::fromErrno(error), status) << error;
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
