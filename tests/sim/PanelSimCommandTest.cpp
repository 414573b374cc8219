// The quarvo-panelsim command: its help, and a network panel served until SIGTERM.
#include <gtest/gtest.h>

#include "DatagramCodec.h"
#include "SimClient.h"

#include <QFileInfo>
#include <QProcess>

static QString commandPath()
{
    return QStringLiteral(QUARVO_BINARY_DIR "/sim/quarvo-panelsim");
}

TEST(PanelsimCommand, HelpExplainsEveryOption)
{
    ASSERT_TRUE(QFileInfo::exists(commandPath()));
    QProcess p;
    p.start(commandPath(), {QStringLiteral("--help")});
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitCode(), 0);
    const QByteArray help = p.readAllStandardOutput();
    for (const char *option : {"--mode", "--passcode", "--link-key", "--seed", "--panel-type", "--revision",
                               "--status-byte", "--data-lock", "--port", "--symlink", "--trace", "--time-scale",
                               "--fault", "--connect-delay", "--slots-per-answer", "--event-counter", "--clock"})
        EXPECT_TRUE(help.contains(option)) << option;
}

TEST(PanelsimCommand, ServesANetworkPanelUntilTerminated)
{
    QProcess p;
    p.start(commandPath(), {QStringLiteral("--mode"), QStringLiteral("network"), QStringLiteral("--passcode"),
                            QStringLiteral("654321"), QStringLiteral("--trace"), QStringLiteral("-")});
    ASSERT_TRUE(p.waitForStarted(10000));
    ASSERT_TRUE(p.waitForReadyRead(10000));
    const QByteArray banner = p.readLine();
    const qsizetype colon = banner.lastIndexOf(':');
    ASSERT_GT(colon, 0) << banner.toStdString();
    const quint16 port = quint16(banner.mid(colon + 1).trimmed().split(' ').first().toUInt());
    ASSERT_NE(port, 0) << banner.toStdString();

    simtest::UdpClient client;
    client.send(panelsim::DatagramCodec::encode(9, "LOCAL_CONN", "654321", true), port);
    const QByteArray answer = client.receive(5000);
    ASSERT_FALSE(answer.isEmpty());
    EXPECT_TRUE(panelsim::DatagramCodec::xorWith(answer.mid(1), panelsim::DatagramCodec::sequenceKey("654321", 9)).contains("OK"));

    p.terminate();
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    const QByteArray trace = p.readAllStandardOutput();
    EXPECT_TRUE(trace.contains("\"decoded\":\"seq 9 Null Command LOCAL_CONN\"")) << trace.toStdString();
}
